#!/bin/sh
# The Netlib comparison of bench/netlib_compare.sh with presolve on in both
# solvers: this library with its default controls, CLP with its default
# presolve. Per problem: status, objective, iterations, times, time per
# iteration, peak memory and the ratios; then the geometric means, the ratio
# of total solve times, the ten worst ratios and the problems whose solve
# time is more than five times CLP's (BENCH_WORST_RATIO).
#
#   bench/netlib_presolve_compare.sh [build directory] [netlib folder] [extra CLP arguments]
BENCH_PRESOLVE=1 exec sh "$(dirname "$0")/netlib_compare.sh" "$@"
