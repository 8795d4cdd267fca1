package com.vexo.cli;

import com.sun.tools.attach.AgentInitializationException;
import com.sun.tools.attach.AgentLoadException;
import com.sun.tools.attach.AttachNotSupportedException;
import com.sun.tools.attach.VirtualMachine;
import java.io.BufferedReader;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.OutputStream;
import java.io.PrintStream;
import java.net.StandardProtocolFamily;
import java.net.UnixDomainSocketAddress;
import java.nio.channels.ServerSocketChannel;
import java.nio.channels.SocketChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.concurrent.TimeUnit;

/**
 * vexo-trace --pid: loads the agent into a running JVM through the attach mechanism the JDK
 * ships, and prints what the session there sends back over a local socket in a directory only
 * this user can enter. The session ends, leaving the program as it was, when this command says
 * stop: at --duration, on Ctrl-C, or when it ends any other way (the socket closes).
 *
 * <pre>AttachClient PID LIBRARY JAR OPTIONS [DURATION_SECONDS|-] [OUTPUT_FILE]</pre>
 */
public final class AttachClient {
    private AttachClient() {}

    public static void main(String[] args) throws Exception {
        long started = System.nanoTime();
        // VEXO_ATTACH_TIMES=1: when the session called back, sent its first event, was told to
        // stop and ended, in ms (standard error; for the attach benchmark).
        boolean times = "1".equals(System.getenv("VEXO_ATTACH_TIMES"));
        String pid = args[0], library = args[1], jar = args[2], options = args[3];
        if (!pid.matches("[0-9]+")) refuse("--pid needs a process id, not '" + pid + "'");
        long duration = args.length > 4 && !args[4].equals("-") ? parseSeconds(args[4]) : -1;
        // The options' mistakes are said here, before the target is touched: there the session
        // could only refuse to start.
        try {
            AgentOptions.parse(options);
        } catch (TraceSetupException e) {
            refuse(e.getMessage());
        }
        PrintStream out = args.length > 5 ? new PrintStream(new FileOutputStream(args[5]), true, "UTF-8") : System.out;

        Path dir = Files.createTempDirectory("vexo-attach-", PosixFilePermissions.asFileAttribute(
                PosixFilePermissions.fromString("rwx------")));
        Path socket = dir.resolve("events");
        ServerSocketChannel server = ServerSocketChannel.open(StandardProtocolFamily.UNIX);
        server.bind(UnixDomainSocketAddress.of(socket));
        SocketChannel channel;
        try {
            load(pid, library, options + ",connect=" + socket + ",jar=" + jar);
            channel = accept(server, 15_000);
        } finally {
            server.close();
            Files.deleteIfExists(socket);
            Files.deleteIfExists(dir);
        }
        if (channel == null) refuse("the agent in " + pid + " did not call back");
        if (times) System.err.printf("times: attached %.1f ms%n", (System.nanoTime() - started) / 1e6);

        OutputStream toSession = ChannelStreams.out(channel);
        java.util.concurrent.CountDownLatch done = new java.util.concurrent.CountDownLatch(1);
        // Ctrl-C: the session stops, and the summary arrives before this VM ends.
        Thread stopOnExit = new Thread(() -> {
            sayStop(toSession);
            try {
                done.await(20, TimeUnit.SECONDS);
            } catch (InterruptedException e) {
                // ending anyway
            }
        }, "vexo-attach-stop");
        Runtime.getRuntime().addShutdownHook(stopOnExit);
        if (duration >= 0) {
            Thread timer = new Thread(() -> {
                try {
                    TimeUnit.MILLISECONDS.sleep(duration);
                    sayStop(toSession);
                } catch (InterruptedException e) {
                    // the trace ended first
                }
            }, "vexo-attach-duration");
            timer.setDaemon(true);
            timer.start();
        }
        boolean refused = false;
        BufferedReader in = new BufferedReader(new InputStreamReader(ChannelStreams.in(channel), StandardCharsets.UTF_8));
        boolean first = true;
        for (String line; (line = in.readLine()) != null; ) {
            if (times && first && !line.startsWith("digest ")) {
                System.err.printf("times: first event %.1f ms%n", (System.nanoTime() - started) / 1e6);
                first = false;
            }
            if (line.startsWith(ChannelStreams.NOTICE)) {
                System.err.println("vexo-trace: " + line.substring(ChannelStreams.NOTICE.length()));
            } else if (line.startsWith("vexo-trace: ")) {
                System.err.println(line);
                refused = true;
            } else {
                out.println(line);
            }
        }
        out.flush();
        if (times) System.err.printf("times: ended %.1f ms (stop said at %.1f ms)%n", (System.nanoTime() - started) / 1e6,
                stopSaid / 1e6 - started / 1e6);
        done.countDown();
        try {
            Runtime.getRuntime().removeShutdownHook(stopOnExit);
        } catch (IllegalStateException exiting) {
            // Ctrl-C: the hook said stop, and the summary has arrived
        }
        System.exit(refused ? 2 : 0);
    }

    /** A duration in ms from a positive number of seconds, e.g. 10 or 0.5; at least 1 ms. */
    private static long parseSeconds(String text) {
        double seconds = text.matches("[0-9]+(\\.[0-9]*)?|\\.[0-9]+") ? Double.parseDouble(text) : 0;
        if (!(seconds > 0)) refuse("--duration needs a number of seconds more than 0, e.g. 10 or 0.5, not '" + text + "'");
        return Math.max(1, Math.round(Math.min(seconds * 1000, Long.MAX_VALUE)));
    }

    private static void load(String pid, String library, String options) {
        if (!mayRunAJvm(pid)) {
            refuse("cannot attach to process " + pid + " (not a HotSpot JVM of this user that accepts attach): "
                    + "no JVM's library is mapped in it");
        }
        VirtualMachine vm;
        try {
            vm = VirtualMachine.attach(pid);
        } catch (AttachNotSupportedException | IOException | SecurityException e) {
            refuse("cannot attach to process " + pid + " (not a HotSpot JVM of this user that accepts attach): "
                    + e.getMessage());
            return;
        }
        try {
            vm.loadAgentPath(library, options);
        } catch (AgentLoadException | AgentInitializationException | IOException e) {
            refuse("process " + pid + " did not load the agent: " + e.getMessage());
        } finally {
            try {
                vm.detach();
            } catch (IOException e) {
                // the attach connection only
            }
        }
    }

    /**
     * False when the process's memory maps can be read and map no libjvm: the JDK's attach would
     * otherwise wait its whole time-out (10 s) for an answer such a process never gives.
     */
    private static boolean mayRunAJvm(String pid) {
        try (java.util.stream.Stream<String> maps = Files.lines(Path.of("/proc", pid, "maps"))) {
            return maps.anyMatch(line -> line.contains("/libjvm.so"));
        } catch (IOException | RuntimeException unreadable) {
            return true;  // no such file here (another system, no such process): the JDK answers
        }
    }

    /** The session's connection, or null when none came within the time-out. */
    private static SocketChannel accept(ServerSocketChannel server, long millis) throws IOException {
        Thread watchdog = new Thread(() -> {
            try {
                TimeUnit.MILLISECONDS.sleep(millis);
                server.close();
            } catch (InterruptedException | IOException e) {
                // accepted in time
            }
        }, "vexo-attach-wait");
        watchdog.setDaemon(true);
        watchdog.start();
        try {
            SocketChannel channel = server.accept();
            watchdog.interrupt();
            return channel;
        } catch (IOException closedByWatchdog) {
            return null;
        }
    }

    private static volatile long stopSaid;

    private static synchronized void sayStop(OutputStream toSession) {
        if (stopSaid == 0) stopSaid = System.nanoTime();
        try {
            toSession.write("stop\n".getBytes(StandardCharsets.UTF_8));
            toSession.flush();
        } catch (IOException gone) {
            // the session has ended already
        }
    }

    private static void refuse(String message) {
        System.err.println("vexo-trace: " + message);
        System.exit(2);
    }
}
