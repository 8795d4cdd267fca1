package vexoit;

import java.util.function.IntUnaryOperator;

/** Methods whose behaviour must not change when their entry is traced. */
class Behaviour {
    int state;

    synchronized int locked(int n) {
        state += n;
        return state;
    }

    int fib(int n) {
        return n < 2 ? n : fib(n - 1) + fib(n - 2);
    }

    int risky(int n) {
        try {
            if (n < 0) throw new IllegalStateException("below zero: " + n);
            return n * 2;
        } catch (IllegalStateException e) {
            return -1;
        } finally {
            state++;
        }
    }

    int thrower(int n) {
        throw new UnsupportedOperationException("always " + n);
    }

    static IntUnaryOperator adder(int k) {
        return x -> x + k;
    }
}

interface Greeter {
    default String greet(String who) {
        return prefix() + who;
    }

    private String prefix() {
        return "hello, ";
    }
}

class Friendly implements Greeter {}
