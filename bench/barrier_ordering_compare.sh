#!/bin/sh
# Fill of the barrier's orderings on the normal-equation pattern A A' of
# every Netlib LP, beside the fill of SuiteSparse's AMD ordering of the same
# pattern, and the ratio ORDERING 0 / AMD. Both fills are counted by this
# library's symbolic factor (entries of L below the diagonal, no supernode
# padding); AMD's own count is shown beside it as a check.
#
#   bench/barrier_ordering_compare.sh [build directory] [netlib folder]
#
# The build directory (default: build) must hold bin/barrier_ordering_bench.
# SuiteSparse (Debian libsuitesparse-dev) is installed with apt-get when its
# header is missing; the AMD side is a separate small program
# (bench/suitesparse/amd_fill.cpp) built here, never part of the library or
# its tests.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
folder=${2:-${KLSOL_DATA:-$here/../../shared/data}/netlib}

bench="$build/bin/barrier_ordering_bench"
if [ ! -x "$bench" ]; then
  echo "no $bench: build the Release tree first (cmake --build $build --target barrier_ordering_bench)" >&2
  exit 1
fi

if [ ! -f /usr/include/suitesparse/amd.h ]; then
  echo "installing libsuitesparse-dev ..." >&2
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get install -y libsuitesparse-dev >/dev/null 2>&1 ||
    { $sudo apt-get update >/dev/null 2>&1 && $sudo apt-get install -y libsuitesparse-dev >/dev/null 2>&1; } ||
    { echo "could not install libsuitesparse-dev" >&2; exit 1; }
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
c++ -O2 -std=c++17 -I/usr/include/suitesparse "$here/suitesparse/amd_fill.cpp" -lamd -o "$work/amd_fill"

"$bench" --export "$work" "$folder"/*.mps
for pattern in "$work"/*.pat; do
  "$work/amd_fill" "$pattern" "${pattern%.pat}.perm"
done
"$bench" --compare "$work" "$folder"/*.mps | tee "$work/table.txt"

python3 - "$work/table.txt" <<'PYTHON'
import math, sys
ratios = []
for line in open(sys.argv[1]).read().splitlines()[1:]:
    fields = line.split()
    try:
        ratios.append((float(fields[-1]), fields[0]))
    except (ValueError, IndexError):
        pass
ratios = [r for r in ratios if r[0] > 0]
if ratios:
    mean = math.exp(sum(math.log(r) for r, _ in ratios) / len(ratios))
    print(f"geometric mean of ORDERING 0 / AMD over {len(ratios)} problems: {mean:.3f}")
    worst = max(ratios)
    best = min(ratios)
    print(f"worst: {worst[1]} {worst[0]:.3f}   best: {best[1]} {best[0]:.3f}")
PYTHON
