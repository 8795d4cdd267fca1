package storm;

// Classes every loader of the storm defines afresh. Each static initialiser touches its own
// corner of the JDK, then has the next class loaded and initialised on a thread it starts and
// waits for (Storm.initialise).

class G0 {
    static final int V = Storm.initialise(new java.util.concurrent.ConcurrentSkipListMap<Integer, Integer>(java.util.Map.of(1, 2, 3, 4)).firstKey(), new Next0());
}

class Next0 extends Storm.Step {
    Next0() {
        super(1);
    }

    @Override
    public void run() {
        super.run();
    }
}

class G1 {
    static final int V = Storm.initialise(java.time.LocalDate.of(2020, 1, 1).plusDays(40).getDayOfMonth(), new Next1());
}

class Next1 extends Storm.Step {
    Next1() {
        super(2);
    }

    @Override
    public void run() {
        super.run();
    }
}

class G2 {
    static final int V = Storm.initialise(String.format("%05d", 42).length(), new Next2());
}

class Next2 extends Storm.Step {
    Next2() {
        super(3);
    }

    @Override
    public void run() {
        super.run();
    }
}

class G3 {
    static final int V = Storm.initialise(java.util.regex.Pattern.compile("(a|b)+c").matcher("ababc").matches() ? 7 : 0, new Next3());
}

class Next3 extends Storm.Step {
    Next3() {
        super(4);
    }

    @Override
    public void run() {
        super.run();
    }
}

class G4 {
    static final int V = Storm.initialise(new java.math.BigDecimal("12.50").scale(), new Next4());
}

class Next4 extends Storm.Step {
    Next4() {
        super(5);
    }

    @Override
    public void run() {
        super.run();
    }
}

class G5 {
    static final int V = Storm.initialise(java.util.stream.IntStream.range(0, 10).sum(), new Next5());
}

class Next5 extends Storm.Step {
    Next5() {
        super(6);
    }

    @Override
    public void run() {
        super.run();
    }
}

class G6 {
    static final int V = Storm.initialise(java.util.Base64.getEncoder().encodeToString(new byte[] {1, 2, 3}).length(), new Next6());
}

class Next6 extends Storm.Step {
    Next6() {
        super(7);
    }

    @Override
    public void run() {
        super.run();
    }
}

class G7 {
    static final int V = Storm.initialise(new java.util.PriorityQueue<>(java.util.List.of(5, 3, 9)).peek(), new Next7());
}

class Next7 extends Storm.Step {
    Next7() {
        super(8);
    }

    @Override
    public void run() {
        super.run();
    }
}

class G8 {
    static final int V = Storm.initialise(java.util.UUID.nameUUIDFromBytes(new byte[] {4}).version(), new Next8());
}

class Next8 extends Storm.Step {
    Next8() {
        super(9);
    }

    @Override
    public void run() {
        super.run();
    }
}

class G9 {
    static final int V = Storm.initialise(java.text.NumberFormat.getIntegerInstance(java.util.Locale.ROOT).format(12345).length(), new Next9());
}

class Next9 extends Storm.Step {
    Next9() {
        super(10);
    }

    @Override
    public void run() {
        super.run();
    }
}

class G10 {
    static final int V = Storm.initialise(new java.util.BitSet(100).size(), new Next10());
}

class Next10 extends Storm.Step {
    Next10() {
        super(11);
    }

    @Override
    public void run() {
        super.run();
    }
}

class G11 {
    static final int V = Storm.initialise(java.util.Objects.hash(1, 2, 3) & 0xff, new Next11());
}

class Next11 extends Storm.Step {
    Next11() {
        super(12);
    }

    @Override
    public void run() {
        super.run();
    }
}
