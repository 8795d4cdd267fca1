# The settings every whole-JVM benchmark script shares; sourced with the build directory as $1.
build=${1:-build}
java=${JAVA_HOME:+$JAVA_HOME/bin/}java
javac=${JAVA_HOME:+$JAVA_HOME/bin/}javac
cp="$build/java/vexo.jar:$build/bench/vexo-bench.jar"
# VEXO_LIB measures another build of the library with the same classes (e.g. an older one).
lib=$(readlink -f "${VEXO_LIB:-$build/libvexo.so}")
