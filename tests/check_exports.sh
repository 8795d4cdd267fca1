#!/bin/sh
# Checks that the agent library exports exactly its entry points and, on Linux, that its
# thread-locals fit the static TLS room glibc keeps for libraries loaded late (an attach).
#   check_exports.sh linux libvexo.so
#   check_exports.sh windows vexo.dll [objdump]
set -eu
kind=$1
lib=$2
natives="nativeInitialize@12 nativeSetEventTreePanel@12 nativeActivateTracePoints@12
nativeGetRecordedData@12 nativeOnResetEventList@8 nativeGetClasses@12 nativeGetObjects@16
nativeConvertObjectIDs@28 nativeGetProgress@16 nativeGetClassesModificationCount@8"

expected=$(mktemp)
actual=$(mktemp)
trap 'rm -f "$expected" "$actual"' EXIT

if [ "$kind" = linux ]; then
    { echo JVM_OnLoad; echo Agent_OnLoad; echo Agent_OnAttach; for n in $natives; do echo "Java_com_vexo_NativeApi_${n%@*}"; done; } \
        | sort > "$expected"
    nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWwDdBbVv]$/ {print $3}' | sort > "$actual"
    # Debian 12's glibc has room for about 1.6 KB of them in all; the library takes a third at most.
    tls=$(( $(readelf -lW "$lib" | awk '$1 == "TLS" {print $6}') + 0 ))
    if [ "$tls" -gt 512 ]; then
        echo "$lib has $tls bytes of thread-locals: more than a late load can be sure of" >&2
        exit 1
    fi
else
    objdump=${3:-i686-w64-mingw32-objdump}
    { echo _JVM_OnLoad@12; echo _Agent_OnLoad@12; echo _Agent_OnAttach@12; for n in $natives; do echo "_Java_com_vexo_NativeApi_$n"; done; } \
        | sort > "$expected"
    # The platform's names (leading underscore) must all be there. MinGW also exports each
    # entry under its name without the underscore; nothing else may be exported.
    "$objdump" -p "$lib" | awk '/\[Ordinal\/Name Pointer\] Table/ {t=1; next} t && NF==0 {t=0} t {print $NF}' \
        > "$actual.all"
    grep '^_' "$actual.all" | sort > "$actual"
    if sed 's/^_//' "$actual.all" | sort -u | diff -q - "$(sed 's/^_//' "$expected" | sort -u > "$actual.bare"; echo "$actual.bare")" >/dev/null; then
        rm -f "$actual.all" "$actual.bare"
    else
        echo "unexpected exports in $lib:" >&2
        cat "$actual.all" >&2
        rm -f "$actual.all" "$actual.bare"
        exit 1
    fi
fi

if ! diff -u "$expected" "$actual"; then
    echo "export check failed for $lib" >&2
    exit 1
fi
echo "exports of $lib: $(wc -l < "$actual") entry points, as expected"
