package vexoit.other;

/** A subclass in another package, reaching the protected field it inherits. */
public final class ReachSub extends vexoit.Reach {
    public int touch(int value) {
        inherited = value;
        return inherited;
    }
}
