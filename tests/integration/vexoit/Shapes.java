package vexoit;

/** Receivers for method trace points: a base class, subclasses at two depths, an unrelated class. */
class Shape {
    int sides;

    int area() {
        return 0;
    }

    static int count(int n) {
        return n + 1;
    }
}

class Square extends Shape {
    @Override
    int area() {
        return 4;
    }
}

class Polygon extends Shape {}

class Hexagon extends Polygon {}

class Stone {
    int area() {
        return 1;
    }
}
