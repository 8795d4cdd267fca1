package vexotest;

/** An event tree panel: anything with displayEvent(Object). */
public class Panel {
    public void displayEvent(Object event) {}
}
