#!/bin/sh
# Runs every LP of the Netlib folder through this library (the default
# algorithm, the dual simplex) and through the peer LP solver CLP (its dual
# simplex), one problem after the other, and prints per problem: status,
# objective, iterations, solve time, whole-process time and peak memory of
# each, and the ratios; then the geometric means and the worst ratios.
#
#   bench/netlib_compare.sh [build directory] [netlib folder] [extra CLP arguments]
#
# The build directory (default: build) must hold bin/lp_solve_bench, built
# in Release. CLP (Debian package coinor-clp) is installed here with apt-get
# when it is missing; it is never a dependency of the library. Both run
# without presolve, as this library does until presolve exists. Solve times
# below one millisecond are counted as one millisecond in the means and
# ratios, since CLP reports its time in milliseconds. Peak memory is the
# resident high-water mark: our solver's own, CLP's through /usr/bin/time.
set -eu

build=${1:-build}
folder=${2:-${KLSOL_DATA:-$(dirname "$0")/../../shared/data}/netlib}
shift $(( $# > 2 ? 2 : $# ))
clp_extra="$*"

bench="$build/bin/lp_solve_bench"
if [ ! -x "$bench" ]; then
  echo "no $bench: build the Release tree first (cmake --build $build)" >&2
  exit 1
fi

if ! command -v clp >/dev/null 2>&1; then
  echo "installing coinor-clp ..." >&2
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get install -y coinor-clp >/dev/null 2>&1 ||
    { $sudo apt-get update >/dev/null 2>&1 && $sudo apt-get install -y coinor-clp >/dev/null 2>&1; } ||
    { echo "could not install coinor-clp" >&2; exit 1; }
fi

exec python3 - "$bench" "$folder" "$clp_extra" <<'PYTHON'
import math, os, re, subprocess, sys, tempfile, time

bench, folder, clp_extra = sys.argv[1], sys.argv[2], sys.argv[3].split()
floor = 0.001

timer = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else None

def run(command):
    """Wall time, peak resident kB and standard output of one process. The
    peak is read by /usr/bin/time: a child of this script would count the
    script's own pages it was forked with."""
    with tempfile.NamedTemporaryFile(mode="r") as peak_file:
        prefix = [timer, "-f", "%M", "-o", peak_file.name] if timer else []
        start = time.perf_counter()
        output = subprocess.run(prefix + command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT).stdout
        wall = time.perf_counter() - start
        text = peak_file.read().split()
        peak = int(text[-1]) if text else float("nan")
    return wall, peak, output.decode(errors="replace")

def ours(path):
    wall, peak, output = run([bench, path])
    fields = output.split()
    if len(fields) < 6:
        return None
    status = {"1": "optimal", "2": "infeasible", "5": "unbounded"}.get(fields[1], "status " + fields[1])
    return dict(status=status, objective=float(fields[2]), iterations=int(fields[3]),
                solve=float(fields[4]), wall=wall, peak=peak, peak_self=int(fields[5]))

def clp(path):
    wall, peak, output = run(["clp", path, "-presolve", "off"] + clp_extra + ["-dualsimplex"])
    found = re.search(r"(\w[\w ]*?) objective ([-+0-9.eE]+) - (\d+) iterations time ([0-9.]+)", output)
    if not found:
        return dict(status="?", objective=float("nan"), iterations=0, solve=float("nan"), wall=wall, peak=peak)
    status = "optimal" if found.group(1).strip().lower().startswith("optimal") else found.group(1).strip()
    return dict(status=status, objective=float(found.group(2)), iterations=int(found.group(3)),
                solve=float(found.group(4)), wall=wall, peak=peak)

files = sorted(f for f in os.listdir(folder) if f.endswith(".mps"))
print("%-10s | %-10s %16s %6s %8s %8s %7s | %-10s %16s %6s %8s %8s %7s | %6s %6s %6s" %
      ("problem", "klsol32", "objective", "iters", "solve s", "wall s", "peak kB",
       "clp", "objective", "iters", "solve s", "wall s", "peak kB", "solve", "wall", "memory"))
solve_ratios, wall_ratios, memory_ratios = [], [], []
worst = (0.0, "")
for name in files:
    path = os.path.join(folder, name)
    a, b = ours(path), clp(path)
    if a is None:
        print("%-10s | failed to run" % name[:-4])
        continue
    solve_ratio = max(a["solve"], floor) / max(b["solve"], floor) if b["solve"] == b["solve"] else float("nan")
    wall_ratio = a["wall"] / b["wall"]
    # Our own figure is the solver process's getrusage, the more exact one.
    memory_ratio = a["peak_self"] / b["peak"]
    if solve_ratio == solve_ratio:
        solve_ratios.append(solve_ratio)
        worst = max(worst, (solve_ratio, name[:-4]))
    wall_ratios.append(wall_ratio)
    memory_ratios.append(memory_ratio)
    print("%-10s | %-10s %16.10g %6d %8.4f %8.4f %7s | %-10s %16.10g %6d %8.4f %8.4f %7s | %6.2f %6.2f %6.2f" %
          (name[:-4], a["status"], a["objective"], a["iterations"], a["solve"], a["wall"], a["peak_self"],
           b["status"], b["objective"], b["iterations"], b["solve"], b["wall"], b["peak"],
           solve_ratio, wall_ratio, memory_ratio))
    sys.stdout.flush()

def geometric_mean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else float("nan")

print()
print("problems %d" % len(wall_ratios))
print("geometric mean ratio klsol32 / clp: solve time %.3f, whole process %.3f, peak memory %.3f" %
      (geometric_mean(solve_ratios), geometric_mean(wall_ratios), geometric_mean(memory_ratios)))
print("worst solve-time ratio %.2f (%s); worst peak-memory ratio %.2f" %
      (worst[0], worst[1], max(memory_ratios) if memory_ratios else float("nan")))
PYTHON
