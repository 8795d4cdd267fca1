package vexolegacy;

/** Compiled for older class file versions (no lambdas): traced through an instance. */
public class Legacy {
    private int calls;

    public int work(int n) {
        calls++;
        int sum = 0;
        for (int i = 0; i < n; i++) {
            switch (i % 3) {
                case 0: sum += i; break;
                case 1: sum -= 1; break;
                default: sum ^= i;
            }
        }
        try {
            if (n < 0) throw new IllegalArgumentException("negative");
        } catch (IllegalArgumentException e) {
            sum = -1;
        }
        return sum;
    }

    public int calls() {
        return calls;
    }
}
