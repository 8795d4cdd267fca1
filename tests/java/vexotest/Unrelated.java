package vexotest;

public class Unrelated {
    public double area() {
        return 0;
    }
}
