#!/bin/sh
# The whole Netlib comparison with CLP: bench/netlib_compare.sh four times,
# presolve off in both with the dual and then the primal simplex, then
# presolve on in both with the dual and the primal. Same arguments and
# environment (BENCH_REPEATS, BENCH_ONLY, ...) as bench/netlib_compare.sh.
#
#   bench/netlib_speed.sh [build directory] [netlib folder] [extra CLP arguments]
set -eu
here=$(dirname "$0")
for presolve in 0 1; do
  for algorithm in dual primal; do
    BENCH_PRESOLVE=$presolve BENCH_ALGORITHM=$algorithm sh "$here/netlib_compare.sh" "$@"
    echo
  done
done
