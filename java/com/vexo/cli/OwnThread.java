package com.vexo.cli;

/**
 * A thread of the in-VM session: marked as the session's own before any code runs on it, so
 * that not even its own {@code Thread.run} is recorded.
 */
final class OwnThread extends Thread {
    private final boolean own;

    OwnThread(Runnable task, String name, boolean own) {
        super(task, name);
        this.own = own;
        setDaemon(true);
    }

    @Override
    public void run() {
        if (own) AgentNatives.ownThread(true);
        super.run();
    }
}
