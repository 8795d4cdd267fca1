package storm;

// Classes that every loader of the storm defines afresh: each static initialiser touches a
// different corner of the JDK, loads and initialises the next class, and does so partly on a
// thread it starts and waits for.

class G0 implements Runnable {
    static final int V;
    static {
        int v = new java.util.concurrent.ConcurrentSkipListMap<Integer, Integer>(java.util.Map.of(1, 2, 3, 4)).firstKey();
        Next0 next = new Next0();
        Thread t = new Thread(next);
        t.start();
        try {
            t.join();
        } catch (InterruptedException e) {
            throw new IllegalStateException(e);
        }
        V = v + next.got;
        Storm.total.addAndGet(V);
    }

    @Override
    public void run() {
        Storm.total.addAndGet(-V);
    }
}

/** Loads and initialises the next class on a thread of its own (not a lambda of G0, whose initialiser waits for it). */
class Next0 implements Runnable {
    volatile int got;

    @Override
    public void run() {
        try {
            Class.forName("storm.G1", true, Next0.class.getClassLoader());
            got = 1;
        } catch (Exception e) {
            throw new IllegalStateException(e);
        }
    }
}

class G1 implements Runnable {
    static final int V;
    static {
        int v = java.time.LocalDate.of(2020, 1, 1).plusDays(40).getDayOfMonth();
        Next1 next = new Next1();
        Thread t = new Thread(next);
        t.start();
        try {
            t.join();
        } catch (InterruptedException e) {
            throw new IllegalStateException(e);
        }
        V = v + next.got;
        Storm.total.addAndGet(V);
    }

    @Override
    public void run() {
        Storm.total.addAndGet(-V);
    }
}

/** Loads and initialises the next class on a thread of its own (not a lambda of G1, whose initialiser waits for it). */
class Next1 implements Runnable {
    volatile int got;

    @Override
    public void run() {
        try {
            Class.forName("storm.G2", true, Next1.class.getClassLoader());
            got = 1;
        } catch (Exception e) {
            throw new IllegalStateException(e);
        }
    }
}

class G2 implements Runnable {
    static final int V;
    static {
        int v = String.format("%05d", 42).length();
        Next2 next = new Next2();
        Thread t = new Thread(next);
        t.start();
        try {
            t.join();
        } catch (InterruptedException e) {
            throw new IllegalStateException(e);
        }
        V = v + next.got;
        Storm.total.addAndGet(V);
    }

    @Override
    public void run() {
        Storm.total.addAndGet(-V);
    }
}

/** Loads and initialises the next class on a thread of its own (not a lambda of G2, whose initialiser waits for it). */
class Next2 implements Runnable {
    volatile int got;

    @Override
    public void run() {
        try {
            Class.forName("storm.G3", true, Next2.class.getClassLoader());
            got = 1;
        } catch (Exception e) {
            throw new IllegalStateException(e);
        }
    }
}

class G3 implements Runnable {
    static final int V;
    static {
        int v = java.util.regex.Pattern.compile("(a|b)+c").matcher("ababc").matches() ? 7 : 0;
        Next3 next = new Next3();
        Thread t = new Thread(next);
        t.start();
        try {
            t.join();
        } catch (InterruptedException e) {
            throw new IllegalStateException(e);
        }
        V = v + next.got;
        Storm.total.addAndGet(V);
    }

    @Override
    public void run() {
        Storm.total.addAndGet(-V);
    }
}

/** Loads and initialises the next class on a thread of its own (not a lambda of G3, whose initialiser waits for it). */
class Next3 implements Runnable {
    volatile int got;

    @Override
    public void run() {
        try {
            Class.forName("storm.G4", true, Next3.class.getClassLoader());
            got = 1;
        } catch (Exception e) {
            throw new IllegalStateException(e);
        }
    }
}

class G4 implements Runnable {
    static final int V;
    static {
        int v = new java.math.BigDecimal("12.50").scale();
        Next4 next = new Next4();
        Thread t = new Thread(next);
        t.start();
        try {
            t.join();
        } catch (InterruptedException e) {
            throw new IllegalStateException(e);
        }
        V = v + next.got;
        Storm.total.addAndGet(V);
    }

    @Override
    public void run() {
        Storm.total.addAndGet(-V);
    }
}

/** Loads and initialises the next class on a thread of its own (not a lambda of G4, whose initialiser waits for it). */
class Next4 implements Runnable {
    volatile int got;

    @Override
    public void run() {
        try {
            Class.forName("storm.G5", true, Next4.class.getClassLoader());
            got = 1;
        } catch (Exception e) {
            throw new IllegalStateException(e);
        }
    }
}

class G5 implements Runnable {
    static final int V;
    static {
        int v = java.util.stream.IntStream.range(0, 10).sum();
        Next5 next = new Next5();
        Thread t = new Thread(next);
        t.start();
        try {
            t.join();
        } catch (InterruptedException e) {
            throw new IllegalStateException(e);
        }
        V = v + next.got;
        Storm.total.addAndGet(V);
    }

    @Override
    public void run() {
        Storm.total.addAndGet(-V);
    }
}

/** Loads and initialises the next class on a thread of its own (not a lambda of G5, whose initialiser waits for it). */
class Next5 implements Runnable {
    volatile int got;

    @Override
    public void run() {
        try {
            Class.forName("storm.G6", true, Next5.class.getClassLoader());
            got = 1;
        } catch (Exception e) {
            throw new IllegalStateException(e);
        }
    }
}

class G6 implements Runnable {
    static final int V;
    static {
        int v = java.util.Base64.getEncoder().encodeToString(new byte[] {1, 2, 3}).length();
        Next6 next = new Next6();
        Thread t = new Thread(next);
        t.start();
        try {
            t.join();
        } catch (InterruptedException e) {
            throw new IllegalStateException(e);
        }
        V = v + next.got;
        Storm.total.addAndGet(V);
    }

    @Override
    public void run() {
        Storm.total.addAndGet(-V);
    }
}

/** Loads and initialises the next class on a thread of its own (not a lambda of G6, whose initialiser waits for it). */
class Next6 implements Runnable {
    volatile int got;

    @Override
    public void run() {
        try {
            Class.forName("storm.G7", true, Next6.class.getClassLoader());
            got = 1;
        } catch (Exception e) {
            throw new IllegalStateException(e);
        }
    }
}

class G7 implements Runnable {
    static final int V;
    static {
        int v = new java.util.PriorityQueue<>(java.util.List.of(5, 3, 9)).peek();
        Next7 next = new Next7();
        Thread t = new Thread(next);
        t.start();
        try {
            t.join();
        } catch (InterruptedException e) {
            throw new IllegalStateException(e);
        }
        V = v + next.got;
        Storm.total.addAndGet(V);
    }

    @Override
    public void run() {
        Storm.total.addAndGet(-V);
    }
}

/** Loads and initialises the next class on a thread of its own (not a lambda of G7, whose initialiser waits for it). */
class Next7 implements Runnable {
    volatile int got;

    @Override
    public void run() {
        try {
            Class.forName("storm.G8", true, Next7.class.getClassLoader());
            got = 1;
        } catch (Exception e) {
            throw new IllegalStateException(e);
        }
    }
}

class G8 implements Runnable {
    static final int V;
    static {
        int v = java.util.UUID.nameUUIDFromBytes(new byte[] {4}).version();
        Next8 next = new Next8();
        Thread t = new Thread(next);
        t.start();
        try {
            t.join();
        } catch (InterruptedException e) {
            throw new IllegalStateException(e);
        }
        V = v + next.got;
        Storm.total.addAndGet(V);
    }

    @Override
    public void run() {
        Storm.total.addAndGet(-V);
    }
}

/** Loads and initialises the next class on a thread of its own (not a lambda of G8, whose initialiser waits for it). */
class Next8 implements Runnable {
    volatile int got;

    @Override
    public void run() {
        try {
            Class.forName("storm.G9", true, Next8.class.getClassLoader());
            got = 1;
        } catch (Exception e) {
            throw new IllegalStateException(e);
        }
    }
}

class G9 implements Runnable {
    static final int V;
    static {
        int v = java.text.NumberFormat.getIntegerInstance(java.util.Locale.ROOT).format(12345).length();
        Next9 next = new Next9();
        Thread t = new Thread(next);
        t.start();
        try {
            t.join();
        } catch (InterruptedException e) {
            throw new IllegalStateException(e);
        }
        V = v + next.got;
        Storm.total.addAndGet(V);
    }

    @Override
    public void run() {
        Storm.total.addAndGet(-V);
    }
}

/** Loads and initialises the next class on a thread of its own (not a lambda of G9, whose initialiser waits for it). */
class Next9 implements Runnable {
    volatile int got;

    @Override
    public void run() {
        try {
            Class.forName("storm.G10", true, Next9.class.getClassLoader());
            got = 1;
        } catch (Exception e) {
            throw new IllegalStateException(e);
        }
    }
}

class G10 implements Runnable {
    static final int V;
    static {
        int v = new java.util.BitSet(100).size();
        Next10 next = new Next10();
        Thread t = new Thread(next);
        t.start();
        try {
            t.join();
        } catch (InterruptedException e) {
            throw new IllegalStateException(e);
        }
        V = v + next.got;
        Storm.total.addAndGet(V);
    }

    @Override
    public void run() {
        Storm.total.addAndGet(-V);
    }
}

/** Loads and initialises the next class on a thread of its own (not a lambda of G10, whose initialiser waits for it). */
class Next10 implements Runnable {
    volatile int got;

    @Override
    public void run() {
        try {
            Class.forName("storm.G11", true, Next10.class.getClassLoader());
            got = 1;
        } catch (Exception e) {
            throw new IllegalStateException(e);
        }
    }
}

class G11 implements Runnable {
    static final int V;
    static {
        int v = java.util.Objects.hash(1, 2, 3) & 0xff;
        Next11 next = new Next11();
        Thread t = new Thread(next);
        t.start();
        try {
            t.join();
        } catch (InterruptedException e) {
            throw new IllegalStateException(e);
        }
        V = v + next.got;
        Storm.total.addAndGet(V);
    }

    @Override
    public void run() {
        Storm.total.addAndGet(-V);
    }
}

/** Loads and initialises the next class on a thread of its own (not a lambda of G11, whose initialiser waits for it). */
class Next11 implements Runnable {
    volatile int got;

    @Override
    public void run() {
        try {
            
            got = 1;
        } catch (Exception e) {
            throw new IllegalStateException(e);
        }
    }
}
