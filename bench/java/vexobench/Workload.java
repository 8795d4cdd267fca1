package vexobench;

/** The demo's kind of work: accounts, deposits, withdrawals and transfers, in a hot loop. */
final class Workload {
    static final class Account {
        long balance;

        void deposit(long amount) {
            balance += amount;
        }

        /** Two arguments, for the benchmark of recorded arguments. */
        long move(long amount, Account to) {
            balance -= amount;
            to.balance += amount;
            return balance;
        }

        /** Two primitive arguments, beside move's primitive and reference. */
        long charge(long amount, int times) {
            balance -= amount * times;
            return balance;
        }

        boolean withdraw(long amount) {
            if (amount > balance) return false;
            balance -= amount;
            return true;
        }
    }

    /** A method its subclass inherits: a trace point on the subclass refuses every other receiver. */
    static class Base {
        long total;

        long step(long amount) {
            total += amount;
            return total;
        }
    }

    static final class Derived extends Base {}

    /** A class the traced program never touches: a watch on it costs only the watch's presence. */
    static final class Elsewhere {
        static int untouched;
    }

    private final Account[] accounts = new Account[16];

    Workload() {
        for (int i = 0; i < accounts.length; i++) {
            accounts[i] = new Account();
            accounts[i].balance = 1000;
        }
    }

    /** n rounds of a transfer between two accounts; returns a checksum so nothing is elided. */
    long run(int n) {
        long sum = 0;
        for (int i = 0; i < n; i++) {
            Account from = accounts[i & 15];
            Account to = accounts[(i * 7 + 3) & 15];
            long amount = (i % 13) + 1;
            if (from.withdraw(amount)) to.deposit(amount);
            else from.deposit(amount * 2);
            sum += to.balance;
        }
        return sum;
    }
}
