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
