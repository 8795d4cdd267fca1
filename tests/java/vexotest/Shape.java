package vexotest;

/** A traced class: one field of every value kind, instance and static members. */
public class Shape {
    public int count;
    public long big;
    public float ratio;
    public double area;
    public Object tag;
    public short small;
    public byte tiny;
    public boolean visible;
    public char letter;
    public static int total;
    public static Object shared;

    public double area() {
        return area;
    }

    public static Shape make() {
        return new Shape();
    }

    /** A nested class, named with '$'. */
    public static class Corner {
        public int x;

        public void move() {}
    }
}
