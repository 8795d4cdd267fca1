package vexoit;

/** A field of every value kind, and a static one. */
class Fields {
    int i;
    long j;
    float f;
    double d;
    Object o;
    short s;
    byte b;
    boolean z;
    char c;
    static int counter;
}

class MoreFields extends Fields {}

class OtherFields extends Fields {}

/** Two unrelated classes whose first fields sit at the same offset in their objects. */
class Left {
    int x;
}

class Right {
    int y;
}
