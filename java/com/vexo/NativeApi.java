package com.vexo;

/** The native methods of the tracing agent. The agent uses neither the class nor a receiver. */
public final class NativeApi {
    private NativeApi() {}

    /** Loads the agent as a plain native library (not needed when it was started with the VM). */
    public static void load() {
        System.loadLibrary("vexo");
    }

    public static native boolean nativeInitialize(InitializeInfo info);

    /** The panel is any object with an instance method {@code void displayEvent(Object)}. */
    public static native void nativeSetEventTreePanel(Object panel);

    public static native void nativeActivateTracePoints(TracePoints tracePoints);

    /** Blocks until recorded data is available. */
    public static native void nativeGetRecordedData(RecordedData data);

    public static native void nativeOnResetEventList();

    public static native void nativeGetClasses(ReturnObjectArray result);

    /**
     * The class filter is an {@code int[]} (or null) when the profiler is present, otherwise an
     * {@code Object[]} whose first element is the wanted {@code Class}.
     */
    public static native void nativeGetObjects(Object classFilter, ReturnObjectArray result);

    public static native boolean nativeConvertObjectIDs(
            int[] ids, int first, int count, Object[] destination, int firstDestination);

    public static native int nativeGetProgress(boolean cancel, int scale);

    public static native int nativeGetClassesModificationCount();
}
