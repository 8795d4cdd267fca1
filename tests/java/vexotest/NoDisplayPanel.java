package vexotest;

public class NoDisplayPanel {
    public void display(Object event) {}
}
