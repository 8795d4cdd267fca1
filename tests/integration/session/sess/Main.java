package sess;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;

/**
 * A program the in-VM session traces as it runs by itself: initialisers that print, an
 * interface with two implementations, a lambda, a plugin class defined by two class loaders of
 * its own, and one StringBuilder.toString before a sleep (args[0] ms, in pause: the program's last
 * call).
 */
public class Main {
    static { System.out.println("Main init"); }

    static int count;

    public static void main(String[] args) throws Exception {
        System.out.println("command " + System.getProperty("sun.java.command"));
        StackTraceElement[] stack = new Throwable().getStackTrace();
        System.out.println("bottom frame " + stack[stack.length - 1].getClassName());
        Worker.work();
        Shape[] shapes = {new Square(2), new Circle(1), new Square(3)};
        double total = 0;
        for (Shape s : shapes) total += s.area();
        System.out.printf("area %.2f%n", total);
        Runnable r = () -> count++;
        r.run();
        r.run();
        r.run();
        System.out.println("ran " + count);
        for (int loader = 1; loader <= 2; loader++) {
            Class<?> c = new PluginLoader().loadClass("sess.plugin.Plugin");
            Runnable plugin = (Runnable) c.getDeclaredConstructor().newInstance();
            for (int i = 0; i < loader; i++) plugin.run();
        }
        System.out.println(new StringBuilder("built ").append(count).toString());
        pause(Integer.parseInt(args[0]));
    }

    static void pause(int ms) throws InterruptedException {
        Thread.sleep(ms);
    }

    /** Defines the plugin class itself, from the class file beside this one, never asking its parent. */
    static final class PluginLoader extends ClassLoader {
        PluginLoader() {
            super(Main.class.getClassLoader());
        }

        @Override
        protected Class<?> loadClass(String name, boolean resolve) throws ClassNotFoundException {
            if (!name.equals("sess.plugin.Plugin")) return super.loadClass(name, resolve);
            try (InputStream in = getParent().getResourceAsStream("sess/plugin/Plugin.class")) {
                ByteArrayOutputStream bytes = new ByteArrayOutputStream();
                in.transferTo(bytes);
                return defineClass(name, bytes.toByteArray(), 0, bytes.size());
            } catch (IOException e) {
                throw new ClassNotFoundException(name, e);
            }
        }
    }
}

interface Shape {
    double area();
}

final class Square implements Shape {
    private final double side;

    Square(double side) {
        this.side = side;
    }

    public double area() {
        return side * side;
    }
}

final class Circle implements Shape {
    private final double r;

    Circle(double r) {
        this.r = r;
    }

    public double area() {
        return 3.14 * r * r;
    }
}

final class Worker {
    static { System.out.println("Worker init"); }

    static Unused unused;  // of a class the program never loads

    static void work() {
        System.out.println("working");
    }
}

final class Unused {}
