// Squares of 1..N, one println per square and one for their sum: N + 1 calls of Script.println.
def n = args.length > 0 ? args[0] as int : 20
def squares = (1..n).collect { it * it }
for (int i = 0; i < n; i++) {
    println "square ${i + 1} = ${squares[i]}"
}
println "sum = ${squares.sum()}"
