package demo;

/** An account that earns interest: a subclass, so traces show which receivers they accept. */
public class SavingsAccount extends Account {
    private final double rate;

    public SavingsAccount(String owner, long opening, double rate) {
        super(owner, opening);
        this.rate = rate;
    }

    public void addInterest() {
        deposit(Math.round(balance * rate));
    }
}
