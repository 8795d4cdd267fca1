package vexotest;

public class Circle extends Shape {
    public double radius;
}
