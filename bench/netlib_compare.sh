#!/bin/sh
# Runs every LP of the Netlib folder through this library and through the
# peer LP solver CLP with the same simplex on both sides (the dual by
# default, the primal when BENCH_ALGORITHM is primal), one problem after the
# other, and prints per problem: status, objective, iterations, solve time,
# time per iteration, whole-process time and peak memory of each, and the
# ratios; then the geometric means, the ratio of the total solve times and
# the ten worst solve-time ratios.
#
#   bench/netlib_compare.sh [build directory] [netlib folder] [extra CLP arguments]
#
# The build directory (default: build) must hold bin/lp_solve_bench, built
# in Release. CLP (Debian package coinor-clp) is installed here with apt-get
# when it is missing; it is never a dependency of the library. Both run
# without presolve, or both with their presolve on when BENCH_PRESOLVE is 1
# (bench/netlib_presolve_compare.sh). bench/netlib_speed.sh runs the four
# combinations of presolve and simplex one after the other.
#
# Times: each run is repeated (BENCH_REPEATS, default 3) and the least time
# kept. Solve times are CPU times (BENCH_CLOCK=cpu, the default), which other
# work on a shared machine disturbs less than wall times, or wall times
# (BENCH_CLOCK=wall). Our solve time is the time KLMINIM takes, measured
# inside the solver process. CLP's own report ticks in 10 ms steps, too
# coarse for these problems, so its solve time is the time of a run that
# solves less that of a run that only reads the file (their CPU times are
# the processes' own, from wait4); the wall time of the solving run is also
# shown whole. Solve times below half a millisecond count as half a
# millisecond in the ratios, so tiny problems, whose CLP solve time is
# within the noise of starting a process, show ratios of little meaning;
# the time per iteration is the solve time over the iterations (at least
# one). Peak memory is the resident high-water mark: our solver's own,
# CLP's through /usr/bin/time. The end lists the problems whose solve time
# is more than BENCH_WORST_RATIO (default 5) times CLP's. BENCH_ONLY, a
# comma-separated list of problem names, limits the run to those problems.
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
floor = 0.0005
repeats = max(1, int(os.environ.get("BENCH_REPEATS", "3")))
presolve = os.environ.get("BENCH_PRESOLVE", "0") == "1"
algorithm = os.environ.get("BENCH_ALGORITHM", "dual")
if algorithm not in ("dual", "primal"):
    sys.exit("BENCH_ALGORITHM must be dual or primal")
only = set(filter(None, os.environ.get("BENCH_ONLY", "").split(",")))
worst_allowed = float(os.environ.get("BENCH_WORST_RATIO", "5"))
cpu_clock = os.environ.get("BENCH_CLOCK", "cpu") == "cpu"
# -n leaves our presolve control at its default (on).
our_flags = (["-n"] if presolve else []) + ["-a", algorithm[0]]
clp_simplex = "-dualsimplex" if algorithm == "dual" else "-primalsimplex"
clp_presolve = [] if presolve else ["-presolve", "off"]

timer = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else None

def run(command):
    """Wall time, peak resident kB, standard output and CPU time (user and
    system, of the process and the children it waited for) of one process.
    The peak is read by /usr/bin/time: a child of this script would count
    the script's own pages it was forked with."""
    with tempfile.NamedTemporaryFile(mode="r") as peak_file:
        prefix = [timer, "-f", "%M", "-o", peak_file.name] if timer else []
        start = time.perf_counter()
        process = subprocess.Popen(prefix + command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        output = process.stdout.read()
        process.stdout.close()
        _, exit_status, usage = os.wait4(process.pid, 0)
        process.returncode = os.waitstatus_to_exitcode(exit_status)
        wall = time.perf_counter() - start
        text = peak_file.read().split()
        peak = int(text[-1]) if text else float("nan")
    return wall, peak, output.decode(errors="replace"), usage.ru_utime + usage.ru_stime

def best_of(command):
    """The run with the least time (by BENCH_CLOCK) among the repeats."""
    return min((run(command) for _ in range(repeats)), key=lambda result: result[3] if cpu_clock else result[0])

def ours(path):
    results = []
    for _ in range(repeats):
        wall, peak, output, _ = run([bench] + our_flags + [path])
        fields = output.split()
        if len(fields) < 7:
            return None
        results.append((float(fields[6] if cpu_clock else fields[4]), wall, peak, fields))
    solve, wall, peak, fields = min(results)
    status = {"1": "optimal", "2": "infeasible", "5": "unbounded"}.get(fields[1], "status " + fields[1])
    return dict(status=status, objective=float(fields[2]), iterations=int(fields[3]),
                solve=solve, wall=min(r[1] for r in results), peak=int(fields[5]))

def clp(path):
    read_wall, _, _, read_cpu = best_of(["clp", path, "-presolve", "off", "-quit"])
    wall, peak, output, cpu = best_of(["clp", path] + clp_presolve + clp_extra + [clp_simplex, "-quit"])
    solve = cpu - read_cpu if cpu_clock else wall - read_wall
    found = re.search(r"(\w[\w ]*?) objective ([-+0-9.eE]+) - (\d+) iterations", output)
    if not found:
        return dict(status="?", objective=float("nan"), iterations=0, solve=float("nan"), wall=wall, peak=peak)
    status = "optimal" if found.group(1).strip().lower().startswith("optimal") else found.group(1).strip()
    return dict(status=status, objective=float(found.group(2)), iterations=int(found.group(3)),
                solve=max(solve, 0.0), wall=wall, peak=peak)

files = sorted(f for f in os.listdir(folder) if f.endswith(".mps") and (not only or f[:-4] in only))
print("%s simplex in both, presolve %s in both, %s solve times" %
      (algorithm, "on" if presolve else "off", "CPU" if cpu_clock else "wall"))
print("%-10s | %-10s %16s %6s %8s %7s %8s %7s | %-10s %16s %6s %8s %7s %8s %7s | %6s %6s %6s %6s %6s" %
      ("problem", "klsol32", "objective", "iters", "solve s", "us/it", "wall s", "peak kB",
       "clp", "objective", "iters", "solve s", "us/it", "wall s", "peak kB",
       "solve", "wall", "memory", "iters", "per it"))
solve_ratios, wall_ratios, memory_ratios, iteration_ratios, per_iteration_ratios = [], [], [], [], []
rows = []
total_ours, total_clp = 0.0, 0.0
too_slow = []

def per_iteration(result):
    """Microseconds of solve time per iteration (a run of no iterations
    counts as one)."""
    return 1e6 * max(result["solve"], floor) / max(result["iterations"], 1)

for name in files:
    path = os.path.join(folder, name)
    a, b = ours(path), clp(path)
    if a is None:
        print("%-10s | failed to run" % name[:-4])
        continue
    solve_ratio = max(a["solve"], floor) / max(b["solve"], floor) if b["solve"] == b["solve"] else float("nan")
    wall_ratio = a["wall"] / b["wall"]
    # Our own figure is the solver process's getrusage, the more exact one.
    memory_ratio = a["peak"] / b["peak"]
    # A run of no iterations counts as one.
    iteration_ratio = max(a["iterations"], 1) / max(b["iterations"], 1)
    per_iteration_ratio = per_iteration(a) / per_iteration(b) if b["solve"] == b["solve"] else float("nan")
    if solve_ratio == solve_ratio:
        solve_ratios.append(solve_ratio)
        per_iteration_ratios.append(per_iteration_ratio)
        rows.append((solve_ratio, name[:-4], iteration_ratio, per_iteration_ratio, a["solve"], b["solve"]))
        total_ours += a["solve"]
        total_clp += b["solve"]
        if solve_ratio > worst_allowed:
            too_slow.append("%s %.2f" % (name[:-4], solve_ratio))
    wall_ratios.append(wall_ratio)
    memory_ratios.append(memory_ratio)
    iteration_ratios.append(iteration_ratio)
    print("%-10s | %-10s %16.10g %6d %8.4f %7.1f %8.4f %7s | %-10s %16.10g %6d %8.4f %7.1f %8.4f %7s | %6.2f %6.2f %6.2f %6.2f %6.2f" %
          (name[:-4], a["status"], a["objective"], a["iterations"], a["solve"], per_iteration(a), a["wall"], a["peak"],
           b["status"], b["objective"], b["iterations"], b["solve"], per_iteration(b) if b["solve"] == b["solve"] else float("nan"),
           b["wall"], b["peak"], solve_ratio, wall_ratio, memory_ratio, iteration_ratio, per_iteration_ratio))
    sys.stdout.flush()

def geometric_mean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else float("nan")

print()
print("problems %d" % len(wall_ratios))
print("geometric mean ratio klsol32 / clp: solve time %.3f, whole process %.3f, peak memory %.3f, iterations %.3f, "
      "time per iteration %.3f" %
      (geometric_mean(solve_ratios), geometric_mean(wall_ratios), geometric_mean(memory_ratios),
       geometric_mean(iteration_ratios), geometric_mean(per_iteration_ratios)))
print("total solve time klsol32 %.3f s, clp %.3f s, ratio %.3f" %
      (total_ours, total_clp, total_ours / total_clp if total_clp > 0 else float("nan")))
print("worst whole-process ratio %.2f; worst peak-memory ratio %.2f" %
      (max(wall_ratios) if wall_ratios else float("nan"), max(memory_ratios) if memory_ratios else float("nan")))
print("ten worst solve-time ratios (solve, iterations, per iteration; solve s klsol32 / clp):")
for solve_ratio, name, iteration_ratio, per_iteration_ratio, ours_s, clp_s in sorted(rows, reverse=True)[:10]:
    print("  %-10s %6.2f %6.2f %6.2f   %8.4f / %8.4f" % (name, solve_ratio, iteration_ratio, per_iteration_ratio, ours_s, clp_s))
print("solve time more than %g times clp's: %s" % (worst_allowed, ", ".join(too_slow) if too_slow else "none"))
PYTHON
