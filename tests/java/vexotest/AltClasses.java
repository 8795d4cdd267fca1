package vexotest;

import java.io.File;
import java.net.URL;
import java.net.URLClassLoader;

/** Loads classes from a jar in a loader of their own, beside the classes on the class path. */
public final class AltClasses {
    private AltClasses() {}

    public static Class<?> load(String jar, String name) throws Exception {
        URL[] urls = {new File(jar).toURI().toURL()};
        return Class.forName(name, true, new URLClassLoader(urls, null));
    }
}
