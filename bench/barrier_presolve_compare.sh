#!/bin/sh
# The barrier comparison of bench/barrier_compare.sh with presolve on in
# both solvers: this library with its default controls, CLP with its
# default presolve (after which CLP cleans up with its primal simplex).
# Crossover stays off in both.
#
#   bench/barrier_presolve_compare.sh [build directory] [data folder] [extra CLP arguments]
BENCH_PRESOLVE=1 exec sh "$(dirname "$0")/barrier_compare.sh" "$@"
