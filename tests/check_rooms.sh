#!/bin/sh
# The map of the house: which room includes which, and the pairs of files that include each
# other (a file calling back into the file that called it). Fails on an include between rooms
# that the list below does not allow (the class-file engine and the platform include no other
# room) and on a pair of files that the list of pairs still to be undone does not name.
#   check_rooms.sh SOURCE_DIR
set -u
cd "${1:-.}" || exit 2
rooms="platform agent registry trace heap bytecode bridge instrument session"
# Includes between rooms as they stand: "from>to".
allowed_edges="agent>bridge agent>heap agent>platform agent>registry agent>trace
registry>agent registry>heap registry>platform registry>trace
trace>agent trace>bytecode trace>platform trace>registry
heap>agent heap>registry
bridge>agent bridge>bytecode bridge>instrument bridge>platform bridge>registry bridge>session bridge>trace
instrument>agent instrument>bridge instrument>bytecode instrument>platform instrument>trace
session>agent session>bridge session>instrument session>platform session>trace"
# Files that include each other, still to be undone (the class file hook's passes call back
# into entry instrumentation; the recorder and the hook, the table and its index).
allowed_pairs="bridge/profiler_entries+instrument/entry_hook
instrument/entry_instrumentation+instrument/field_instrumentation
trace/debug_hook+trace/recorder trace/trace_point_index+trace/trace_points"

includes=$(mktemp)
trap 'rm -f "$includes"' EXIT
for room in $rooms; do
    for f in "$room"/*.cpp "$room"/*.h; do
        [ -f "$f" ] || continue
        unit=${f%.*}
        sed -n 's/^#include "\([^"]*\)\.h".*/\1/p' "$f" | while read -r target; do
            [ "$target" = "$unit" ] && continue
            case " $rooms " in *" ${target%%/*} "*) echo "$unit $target" ;; esac
        done
    done
done | sort -u > "$includes"

failures=0
echo "rooms and the rooms they include:"
for room in $rooms; do
    to=$(awk -v r="$room" '{ split($1, a, "/"); split($2, b, "/"); if (a[1] == r && b[1] != r) print b[1] }' "$includes" | sort -u | tr '\n' ' ')
    lines=$(cat "$room"/*.cpp "$room"/*.h 2>/dev/null | wc -l)
    printf '  %-11s %6d lines  -> %s\n' "$room/" "$lines" "${to:-(none)}"
    for t in $to; do
        case " $(echo $allowed_edges) " in
            *" $room>$t "*) ;;
            *) echo "FAILED: $room/ includes $t/ ($(awk -v r="$room" -v t="$t" '{ split($1, a, "/"); split($2, b, "/"); if (a[1] == r && b[1] == t) print $1 " -> " $2 }' "$includes" | head -3 | tr '\n' ';'))"
               failures=$((failures + 1)) ;;
        esac
    done
done
pairs=$(awk '{ seen[$1 " " $2] = 1 } END { for (k in seen) { split(k, p, " "); if ((p[2] " " p[1]) in seen && p[1] < p[2]) print p[1] "+" p[2] } }' "$includes" | sort)
echo "files that include each other: $(echo "$pairs" | grep -c .)"
for p in $pairs; do
    case " $(echo $allowed_pairs) " in
        *" $p "*) echo "  $p" ;;
        *) echo "FAILED: a new pair of files that include each other: $p"; failures=$((failures + 1)) ;;
    esac
done
[ $failures -eq 0 ] && echo "the house keeps its order"
exit $failures
