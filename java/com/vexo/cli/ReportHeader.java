package com.vexo.cli;

/** What the report files say about the run, beside its events: the page's header, the trace-events file's names. */
final class ReportHeader {
    /** The program's command line (sun.java.command) and the JVM, or null. */
    String program, jvm;
    long startedMs, durationNs, pid;
    boolean attached;
    /** The summary as the JSON output writes it, {@code {"summary":{...}}}. */
    String summaryJson;
    /** The option jar=, or null. */
    String jar;
}
