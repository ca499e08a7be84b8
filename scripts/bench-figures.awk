# The figures scripts/bench.sh reports, over several runs of a benchmark program, each run made
# of interleaved rounds. Input lines (from files the script writes):
#   RUN KEY VALUE          a run's figure (what=runs, what=moves)
#   RUN ROUND KEY VALUE    a round's figure (what=rounds, what=ratio, what=difference)
# what=runs        KEY=a over the runs
# what=rounds      KEY=a over every round of every run
# what=ratio       a / b within each round (both measured in it, b above 0), over every round
# what=difference  a - b within each round, over every round
#   each prints "MEDIAN MIN MAX COUNT", or nothing when there is no value
# what=moves       how far KEY=a moved between runs: (MAX - MIN) / MIN in percent, and COUNT;
#                  nothing without a value above 0
# The median of an even count is the mean of the middle two.

function sort_values(v, n,    i, j, t) {
  for (i = 2; i <= n; i++) {
    t = v[i]
    for (j = i - 1; j >= 1 && v[j] > t; j--) v[j + 1] = v[j]
    v[j + 1] = t
  }
}

function median(v, n) {
  return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
}

(what == "runs" || what == "moves") && NF == 3 && $2 == a { v[++n] = $3 + 0 }
what == "rounds" && NF == 4 && $3 == a { v[++n] = $4 + 0 }
(what == "ratio" || what == "difference") && NF == 4 {
  if ($3 == a) first[$1 SUBSEP $2] = $4 + 0
  if ($3 == b) second[$1 SUBSEP $2] = $4 + 0
}

END {
  if (what == "ratio" || what == "difference") {
    for (k in first) {
      if (!(k in second)) continue
      if (what == "difference") v[++n] = first[k] - second[k]
      else if (second[k] > 0) v[++n] = first[k] / second[k]
    }
  }
  if (n == 0) exit
  sort_values(v, n)
  if (what == "moves") {
    if (v[1] > 0) printf "%.6f %d\n", (v[n] - v[1]) / v[1] * 100, n
    exit
  }
  printf "%.6f %.6f %.6f %d\n", median(v, n), v[1], v[n], n
}
