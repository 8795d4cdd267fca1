package vexoit;

import static vexoit.Check.test;

import com.vexo.NativeApi;
import com.vexo.ReturnObjectArray;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Set;

/** The class listing through the debug interface's GetLoadedClasses. */
public class ListingTest {
    public static void main(String[] args) throws Exception {
        Agent.start();
        Check.run("ListingTest", test("LoadedClassesAsClassObjects", ListingTest::loadedClasses));
    }

    static void loadedClasses() {
        new Hexagon();  // loads it and its superclasses
        ReturnObjectArray result = new ReturnObjectArray();
        NativeApi.nativeGetClasses(result);
        Check.that(result.m_Objects instanceof Object[], "an Object array of classes");
        Object[] classes = (Object[]) result.m_Objects;
        Check.equal(classes.length, result.m_iActualCount, "the count is the array's length");
        Set<Object> set = new HashSet<>(Arrays.asList(classes));
        for (Class<?> c : List.of(Object.class, String.class, Shape.class, Polygon.class, Hexagon.class,
                ListingTest.class, int[].class)) {
            Check.that(set.contains(c), c.getName() + " is listed");
        }
        Check.that(!set.contains(null), "no null entries");
        Check.that(classes.length > 300, "the JDK's classes are there too");

        // A second listing: the global references of the first were released, not accumulated.
        NativeApi.nativeGetClasses(result);
        Check.that(((Object[]) result.m_Objects).length >= classes.length, "a second listing");
    }
}
