package demo;

/** A few accounts and transfers between them. */
public class Main {
    static boolean transfer(Account from, Account to, long amount) {
        if (!from.withdraw(amount)) return false;
        to.deposit(amount);
        return true;
    }

    public static void main(String[] args) {
        Account alice = new Account("alice", 100);
        SavingsAccount bob = new SavingsAccount("bob", 250, 0.02);
        alice.deposit(50);
        transfer(bob, alice, 75);
        bob.addInterest();
        if (!transfer(alice, bob, 1000)) {
            System.out.println("transfer of 1000 from alice refused");
        }
        System.out.println("alice has " + alice.balance() + ", bob has " + bob.balance());
    }
}
