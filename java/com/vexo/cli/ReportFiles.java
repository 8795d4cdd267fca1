package com.vexo.cli;

import java.io.BufferedOutputStream;
import java.io.ByteArrayOutputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Base64;
import java.util.List;
import java.util.zip.Deflater;
import java.util.zip.DeflaterOutputStream;

/**
 * The files written at the end of a trace from its {@link ReportLog}: the report page (--html)
 * and the Trace Event Format file (--trace-events). Each is written whole or not at all, and a
 * failure is one message for the caller to say; the trace's own output is done by then.
 */
final class ReportFiles {
    private ReportFiles() {}

    /** The page's script files, in the order they run (each uses only those before it). */
    static final String[] SCRIPTS = {"data.js", "timeline.js", "tree.js", "fields.js", "page.js"};

    /**
     * Writes what {@code options} asks for; returns the failures, each one line
     * ({@code cannot write FILE: why}).
     */
    static List<String> write(AgentOptions options, ReportLog log, ReportHeader header) {
        log.finish();
        List<String> failures = new ArrayList<>();
        if (options.html != null) {
            try {
                writeFile(options.html, true, log, header);
            } catch (IOException | RuntimeException | OutOfMemoryError e) {
                failures.add("cannot write " + options.html + ": " + reason(e));
            }
        }
        if (options.traceEvents != null) {
            try {
                writeFile(options.traceEvents, false, log, header);
            } catch (IOException | RuntimeException | OutOfMemoryError e) {
                failures.add("cannot write " + options.traceEvents + ": " + reason(e));
            }
        }
        return failures;
    }

    /** Why: the exception's message, less the file it names ("FILE (No such file or directory)"). */
    private static String reason(Throwable e) {
        String m = e.getMessage();
        if (m == null) return e.toString();
        int open = m.lastIndexOf(" (");
        return open > 0 && m.endsWith(")") && m.substring(0, open).endsWith(".partial") ? m.substring(open + 2, m.length() - 1) : m;
    }

    /** The page ({@code page}) or the Trace Event Format file. (No lambdas: this runs at exit.) */
    private static void writeFile(String file, boolean page, ReportLog log, ReportHeader header) throws IOException {
        // Written beside it and then renamed: a file that cannot be finished is not left half written.
        java.nio.file.Path path = java.nio.file.Paths.get(file).toAbsolutePath();
        java.nio.file.Path partial = path.resolveSibling(path.getFileName() + ".partial");
        try {
            try (OutputStream out = new BufferedOutputStream(new FileOutputStream(partial.toFile()), 1 << 16)) {
                if (page) html(out, log, header, header.jar);
                else TraceEventsFile.write(out, log, header);
            }
            java.nio.file.Files.move(partial, path, java.nio.file.StandardCopyOption.REPLACE_EXISTING);
        } finally {
            java.nio.file.Files.deleteIfExists(partial);
        }
    }

    /**
     * The page: the template with its style, its scripts, the run's description (JSON), and the
     * log's strings (a JSON array) and records, each deflated and in base64.
     */
    static void html(OutputStream out, ReportLog log, ReportHeader header, String jarOption) throws IOException {
        java.util.Map<String, String> files = pageFiles(jarOption);
        String template = files.get("page.html");
        StringBuilder script = new StringBuilder();
        for (String s : SCRIPTS) script.append(files.get(s)).append('\n');
        String[] markers = {"/*VEXO:STYLE*/", "/*VEXO:SCRIPT*/", "VEXO:META", "VEXO:STRINGS", "VEXO:CHAINS", "VEXO:RECORDS"};
        int from = 0;
        while (true) {
            int at = -1;
            String marker = null;
            for (String m : markers) {
                int i = template.indexOf(m, from);
                if (i >= 0 && (at < 0 || i < at)) {
                    at = i;
                    marker = m;
                }
            }
            if (marker == null) break;
            text(out, template.substring(from, at));
            switch (marker) {
                case "/*VEXO:STYLE*/": text(out, files.get("page.css")); break;
                case "/*VEXO:SCRIPT*/": text(out, script.toString()); break;
                // '<' as an escape: no text of the program can end or open a script element.
                case "VEXO:META": text(out, meta(log, header).replace("<", "\\u003c")); break;
                case "VEXO:STRINGS": base64(out, deflate(stringsJson(log.strings()))); break;
                case "VEXO:CHAINS": base64(out, deflate(chainsJson(log.chains()))); break;
                default: base64(out, log.deflatedRecords()); break;
            }
            from = at + marker.length();
        }
        text(out, template.substring(from));
    }

    private static void text(OutputStream out, String s) throws IOException {
        out.write(s.getBytes(StandardCharsets.UTF_8));
    }

    private static void base64(OutputStream out, byte[] bytes) throws IOException {
        // Lines of 76 characters: the page stays readable in an editor, and the script drops the breaks.
        OutputStream b64 = Base64.getMimeEncoder().wrap(new java.io.FilterOutputStream(out) {
            @Override
            public void close() throws IOException {
                flush();  // the page goes on after the data
            }
        });
        b64.write(bytes);
        b64.close();
    }

    private static byte[] deflate(String text) throws IOException {
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        try (DeflaterOutputStream d = new DeflaterOutputStream(bytes, new Deflater(Deflater.BEST_SPEED))) {
            d.write(text.getBytes(StandardCharsets.UTF_8));
        }
        return bytes.toByteArray();
    }

    private static String chainsJson(List<List<Integer>> chains) {
        StringBuilder b = new StringBuilder("[");
        for (int i = 0; i < chains.size(); i++) {
            b.append(i == 0 ? "[" : ",[");
            List<Integer> c = chains.get(i);
            for (int k = 0; k < c.size(); k++) b.append(k == 0 ? "" : ",").append(c.get(k));
            b.append(']');
        }
        return b.append(']').toString();
    }

    private static String stringsJson(List<String> strings) {
        StringBuilder b = new StringBuilder("[");
        for (int i = 0; i < strings.size(); i++) b.append(i == 0 ? "" : ",").append(EventFormatter.quote(strings.get(i)));
        return b.append(']').toString();
    }

    /** The run, the trace points and threads the records name, and what was not kept. */
    static String meta(ReportLog log, ReportHeader header) {
        StringBuilder b = new StringBuilder("{\"program\":").append(EventFormatter.quoteOrNull(header.program))
                .append(",\"jvm\":").append(EventFormatter.quoteOrNull(header.jvm))
                .append(",\"startedMs\":").append(header.startedMs)
                .append(",\"durationNs\":").append(header.durationNs)
                .append(",\"pid\":").append(header.pid)
                .append(",\"attached\":").append(header.attached);
        String summary = header.summaryJson.trim();
        // {"summary":{...}} less its outer object
        b.append(",\"summary\":").append(summary, "{\"summary\":".length(), summary.length() - 1);
        b.append(",\"points\":[");
        List<ReportLog.Point> points = log.points();
        for (int i = 0; i < points.size(); i++) {
            ReportLog.Point p = points.get(i);
            b.append(i == 0 ? "" : ",").append("{\"label\":").append(EventFormatter.quote(p.label))
                    .append(",\"field\":").append(p.field).append(",\"static\":").append(p.isStatic)
                    .append(",\"exits\":").append(p.exits).append(",\"void\":").append(p.returnsVoid).append('}');
        }
        b.append("],\"threads\":[");
        List<String> threads = log.threadNames();
        for (int i = 0; i < threads.size(); i++) b.append(i == 0 ? "" : ",").append(EventFormatter.quote(threads.get(i)));
        ReportLog.Bounds bounds = log.bounds();
        b.append("],\"records\":").append(log.records())
                .append(",\"kept\":").append(log.keptEvents())
                .append(",\"notKept\":").append(log.notKeptEvents())
                .append(",\"stoppedBecause\":").append(EventFormatter.quoteOrNull(log.stoppedBecause()))
                .append(",\"valuesNotKept\":").append(log.valuesNotKept())
                .append(",\"valuesCut\":").append(log.valuesCut())
                .append(",\"longestValue\":").append(bounds.longestValue)
                .append(",\"threadsMerged\":").append(log.threadsMerged())
                .append(",\"chainsNotKept\":").append(log.chainsNotKept())
                .append(",\"mostChains\":").append(ReportLog.MOST_CHAINS)
                .append(",\"mostThreads\":").append(bounds.threads);
        return b.append('}').toString();
    }


    /**
     * The page's files, from the tracer's jar. Classes on a boot class path that the agent
     * appended are found, their jar's other files are not: then the jar is opened by its path,
     * the option jar= or, without it, where the agent looks beside its library.
     */
    static java.util.Map<String, String> pageFiles(String jarOption) throws IOException {
        java.util.Map<String, String> files = new java.util.HashMap<>();
        List<String> names = new ArrayList<>(java.util.Arrays.asList(SCRIPTS));
        names.add("page.html");
        names.add("page.css");
        java.util.jar.JarFile jar = null;
        try {
            for (String name : names) {
                InputStream in = ReportFiles.class.getResourceAsStream("report/" + name);
                if (in == null) {
                    if (jar == null) jar = tracerJar(jarOption);
                    java.util.zip.ZipEntry e = jar.getEntry("com/vexo/cli/report/" + name);
                    if (e == null) throw new IOException(jar.getName() + " has no com/vexo/cli/report/" + name);
                    in = jar.getInputStream(e);
                }
                try (InputStream close = in) {
                    files.put(name, new String(close.readAllBytes(), StandardCharsets.UTF_8));
                }
            }
        } finally {
            if (jar != null) jar.close();
        }
        return files;
    }

    private static java.util.jar.JarFile tracerJar(String jarOption) throws IOException {
        List<String> candidates = new ArrayList<>();
        if (jarOption != null) candidates.add(jarOption);
        // -agentpath:LIBRARY=... on the VM's command line or in the variables the launcher reads
        List<String> words = new ArrayList<>(java.util.Arrays.asList(
                ProcessHandle.current().info().arguments().orElse(new String[0])));
        for (String variable : new String[] {"JAVA_TOOL_OPTIONS", "JDK_JAVA_OPTIONS"}) {
            String v = System.getenv(variable);
            if (v != null) words.addAll(java.util.Arrays.asList(v.trim().split("\\s+")));
        }
        for (String w : words) {
            if (!w.startsWith("-agentpath:")) continue;
            String library = w.substring("-agentpath:".length());
            int eq = library.indexOf('=');
            if (eq >= 0) library = library.substring(0, eq);
            java.io.File dir = new java.io.File(library).getAbsoluteFile().getParentFile();
            if (dir == null) continue;
            candidates.add(new java.io.File(dir, "java/vexo.jar").getPath());
            candidates.add(new java.io.File(dir, "vexo.jar").getPath());
        }
        for (String c : candidates) {
            if (new java.io.File(c).isFile()) return new java.util.jar.JarFile(c);
        }
        throw new IOException("the tracer's jar (vexo.jar) was not found: name it with the agent's option jar=PATH");
    }
}
