package sess.plugin;

/** Defined by each of the program's own class loaders, never by the class path's. */
public class Plugin implements Runnable {
    @Override
    public void run() {
        System.out.println("plugin of " + getClass().getClassLoader().getClass().getSimpleName());
    }
}
