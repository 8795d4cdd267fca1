package com.vexo.cli;

/** A problem the user can fix (a trace point, an option, a class path): reported as one line. */
public final class TraceSetupException extends Exception {
    private static final long serialVersionUID = 1L;

    public TraceSetupException(String message) {
        super(message);
    }
}
