package storm;

import java.net.URL;
import java.net.URLClassLoader;
import java.util.concurrent.atomic.AtomicLong;

/**
 * Eight threads at once, each with a class loader of its own over the directory args[0]: each
 * loads, links and initialises the storm's classes (whose initialisers load more classes and
 * start threads); the total printed at the end is the same on every run.
 */
public final class Storm {
    public static final AtomicLong total = new AtomicLong();

    /** The value of a class's initialiser, once `next` has run on a thread of its own. */
    public static int initialise(int v, Step next) {
        Thread t = new Thread(next);
        t.start();
        try {
            t.join();
        } catch (InterruptedException e) {
            throw new IllegalStateException(e);
        }
        total.addAndGet(v + next.got);
        return v + next.got;
    }

    /** Loads and initialises class G{next} of its own loader (the last has none). */
    public abstract static class Step implements Runnable {
        final int next;
        volatile int got;

        protected Step(int next) {
            this.next = next;
        }

        @Override
        public void run() {
            try {
                if (next < 12) Class.forName("storm.G" + next, true, getClass().getClassLoader());
                got = 1;
            } catch (ClassNotFoundException e) {
                throw new IllegalStateException(e);
            }
        }
    }

    public static void main(String[] args) throws Exception {
        URL dir = new java.io.File(args[0]).toURI().toURL();
        Thread[] threads = new Thread[8];
        for (int i = 0; i < threads.length; i++) {
            threads[i] = new Thread(() -> {
                try (URLClassLoader loader = new URLClassLoader(new URL[] {dir}, Storm.class.getClassLoader())) {
                    for (int k = 0; k < 12; k++) {
                        Class.forName("storm.G" + k, true, loader);
                    }
                } catch (Exception e) {
                    throw new IllegalStateException(e);
                }
            }, "storm-" + i);
        }
        for (Thread t : threads) t.start();
        for (Thread t : threads) t.join();
        System.out.println("total " + total.get());
    }
}
