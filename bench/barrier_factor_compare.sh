#!/bin/sh
# Times the barrier's analysis (ordering, symbolic factor, post-order and
# supernodes), its symbolic factorisation alone and its numeric
# factorisation of the normal equations A·D·Aᵀ of the largest Netlib problems (bin/
# barrier_factor_bench) beside CHOLMOD of SuiteSparse on the same matrices
# (its minimum-degree ordering, symbolic analysis and numeric
# factorisation), and prints the times side by side with their ratios
# (ours / theirs): our analysis against CHOLMOD's ordering plus symbolic
# analysis, symbolic against symbolic, numeric against numeric.
#
#   bench/barrier_factor_compare.sh [build directory] [netlib folder] [count]
#
# The build directory (default: build) must hold bin/barrier_factor_bench,
# built in Release. SuiteSparse (Debian package libsuitesparse-dev) is
# installed here with apt-get when it is missing; it is never a dependency
# of the library or of the tests. Our numeric time is the faster of the pull
# and push forms (both are shown). nz(L) is the row part of our factor (the
# columns are the matrix itself) beside CHOLMOD's factor of A·D·Aᵀ + 1e-8·I;
# a * marks a CHOLMOD factorisation that stopped at a non-positive pivot.
# Run single-threaded (BLAS threads off).
set -eu

# Both sides single-threaded.
export OMP_NUM_THREADS=1 OPENBLAS_NUM_THREADS=1

build=${1:-build}
folder=${2:-${KLSOL_DATA:-$(dirname "$0")/../../shared/data}/netlib}
count=${3:-10}
here=$(cd "$(dirname "$0")" && pwd)

if [ ! -f /usr/include/suitesparse/cholmod.h ]; then
  echo "installing libsuitesparse-dev" >&2
  if [ "$(id -u)" -eq 0 ]; then
    apt-get install -y libsuitesparse-dev >&2
  else
    sudo apt-get install -y libsuitesparse-dev >&2
  fi
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc -O2 -I/usr/include/suitesparse -o "$work/cholmod_factor" "$here/suitesparse/cholmod_factor.c" -lcholmod -lm

"$build/bin/barrier_factor_bench" "$folder" "$count" "$work" > "$work/ours.txt"

printf '%-10s %9s %9s | %9s %9s %9s %9s | %9s %9s %9s | %7s %7s %7s\n' \
  problem "nz(L)" "cm_nz(L)" analysis symb pull push cm_order cm_symb cm_num r_anal r_symb r_num
tail -n +2 "$work/ours.txt" | while read -r name rows cols nza nzl flops order symb pull push; do
  [ -f "$work/$name.mtx" ] || continue
  set -- $("$work/cholmod_factor" "$work/$name.mtx")
  awk -v n="$name" -v nzl="$nzl" -v o="$order" -v s="$symb" -v pl="$pull" -v ps="$push" \
      -v co="$1" -v cs="$2" -v cn="$3" -v cz="$4" -v ok="$5" 'BEGIN {
    num = pl < ps ? pl : ps
    floor = 1e-6
    printf "%-10s %9d %9d%s| %9.5f %9.5f %9.5f %9.5f | %9.5f %9.5f %9.5f | %7.2f %7.2f %7.2f\n",
      n, nzl, cz, (ok == 1 ? " " : "*"), o, s, pl, ps, co, cs, cn,
      (o > floor ? o : floor) / (co + cs > floor ? co + cs : floor),
      (s > floor ? s : floor) / (cs > floor ? cs : floor),
      (num > floor ? num : floor) / (cn > floor ? cn : floor)
  }'
done
