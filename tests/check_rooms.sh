#!/bin/sh
# The map of the house: which room includes which, and the pairs of files that include each
# other (a file calling back into the file that called it). Fails on an include of a room that is
# not below the including one, and on a pair of files that include each other.
#   check_rooms.sh SOURCE_DIR
set -u
cd "${1:-.}" || exit 2
# The rooms from the bottom up: a room includes only rooms below it. A room's folders (its tests,
# its fuzz target) count as the room.
rooms="platform core bytecode registry trace heap bridge instrument session agent"

includes=$(mktemp)
trap 'rm -f "$includes"' EXIT
for room in $rooms; do
    for f in $(find "$room" -name '*.cpp' -o -name '*.h' | sort); do
        unit=${f%.*}
        sed -n 's/^#include "\([^"]*\)\.h".*/\1/p' "$f" | while read -r target; do
            [ "$target" = "$unit" ] && continue
            case " $rooms " in *" ${target%%/*} "*) echo "$unit $target" ;; esac
        done
    done
done | sort -u > "$includes"

failures=0
all=" $rooms "
echo "rooms and the rooms they include:"
for room in $rooms; do
    to=$(awk -v r="$room" '{ split($1, a, "/"); split($2, b, "/"); if (a[1] == r && b[1] != r) print b[1] }' "$includes" | sort -u | tr '\n' ' ')
    lines=$(find "$room" -name '*.cpp' -o -name '*.h' | xargs cat | wc -l)
    printf '  %-11s %6d lines  -> %s\n' "$room/" "$lines" "${to:-(none)}"
    below=${all%%" $room "*}
    for t in $to; do
        case " $below " in *" $t "*) continue ;; esac
        echo "FAILED: $room/ includes $t/, which is not below it ($(awk -v r="$room" -v t="$t" '{ split($1, a, "/"); split($2, b, "/"); if (a[1] == r && b[1] == t) print $1 " -> " $2 }' "$includes" | head -3 | tr '\n' ';'))"
        failures=$((failures + 1))
    done
done
pairs=$(awk '{ seen[$1 " " $2] = 1 } END { for (k in seen) { split(k, p, " "); if ((p[2] " " p[1]) in seen && p[1] < p[2]) print p[1] "+" p[2] } }' "$includes" | sort)
echo "files that include each other: $(echo "$pairs" | grep -c .)"
for p in $pairs; do
    echo "FAILED: a pair of files that include each other: $p"
    failures=$((failures + 1))
done
[ $failures -eq 0 ] && echo "the house keeps its order"
exit $failures
