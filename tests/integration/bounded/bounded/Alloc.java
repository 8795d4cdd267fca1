package bounded;

/**
 * Keeps 24 MB and calls a small static method two million times with some churn: fits a 64 MB
 * heap untraced, and must fit it traced. Prints a checksum.
 */
public final class Alloc {
    static int f(int x) {
        return x * 31 + 7;
    }

    public static void main(String[] args) {
        int calls = args.length > 0 ? Integer.parseInt(args[0]) : 2_000_000;
        byte[][] kept = new byte[24][];
        for (int i = 0; i < kept.length; i++) kept[i] = new byte[1 << 20];
        long sum = 0;
        Object churn = null;
        for (int i = 0; i < calls; i++) {
            sum += f(i);
            if ((i & 63) == 0) churn = new int[64];
        }
        System.out.println("sum " + sum + " kept " + kept.length + (churn != null ? "" : "?"));
    }
}
