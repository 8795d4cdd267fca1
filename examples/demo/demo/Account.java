package demo;

/** A bank account: the demo's traced class. */
public class Account {
    private final String owner;
    protected long balance;

    public Account(String owner, long opening) {
        this.owner = owner;
        this.balance = opening;
    }

    public void deposit(long amount) {
        if (amount <= 0) throw new IllegalArgumentException("deposit must be positive");
        balance = balance + amount;
    }

    public boolean withdraw(long amount) {
        if (amount > balance) return false;
        balance = balance - amount;
        return true;
    }

    public long balance() {
        return balance;
    }

    public String owner() {
        return owner;
    }
}
