# Powers of (1+1j): N complex multiplications, one line each.
import sys
n = int(sys.argv[1]) if len(sys.argv) > 1 else 20
z = complex(1, 1)
acc = complex(1, 0)
for i in range(n):
    acc = acc * z
    print "power %d = %d%+dj" % (i + 1, int(acc.real), int(acc.imag))
