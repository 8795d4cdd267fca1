package com.vexo.cli;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.ByteBuffer;
import java.nio.channels.SocketChannel;

/**
 * Streams over one socket channel that a thread may read while another writes. (The JDK's
 * Channels.newInputStream and newOutputStream of a blocking channel take one lock, so a write
 * waits for a read that waits for the other side.)
 */
final class ChannelStreams {
    private ChannelStreams() {}

    /**
     * Starts a line the session sends to say something that is no refusal (a report file it could
     * not write): the command prints it on standard error as its own, and its exit status stays.
     */
    static final String NOTICE = "vexo-trace-notice: ";

    static InputStream in(SocketChannel channel) {
        return new InputStream() {
            @Override
            public int read() throws IOException {
                byte[] one = new byte[1];
                return read(one, 0, 1) < 0 ? -1 : one[0] & 0xff;
            }

            @Override
            public int read(byte[] b, int off, int len) throws IOException {
                return len == 0 ? 0 : channel.read(ByteBuffer.wrap(b, off, len));
            }
        };
    }

    static OutputStream out(SocketChannel channel) {
        return new OutputStream() {
            @Override
            public void write(int b) throws IOException {
                write(new byte[] {(byte) b}, 0, 1);
            }

            @Override
            public void write(byte[] b, int off, int len) throws IOException {
                ByteBuffer buffer = ByteBuffer.wrap(b, off, len);
                while (buffer.hasRemaining()) channel.write(buffer);
            }
        };
    }
}
