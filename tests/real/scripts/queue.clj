; 0..N-1 conjoined onto the empty persistent queue (N calls of PersistentQueue.cons), then
; walked in order.
(let [n (if (seq *command-line-args*) (Long/parseLong (first *command-line-args*)) 20)
      q (reduce conj clojure.lang.PersistentQueue/EMPTY (range n))]
  (doseq [x q] (println "item" x (* x x)))
  (println "count" (count q) "sum" (reduce + q)))
