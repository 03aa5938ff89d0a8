#!/bin/sh
# Runs every LP of the Netlib folder and every QP of the QP folder through
# this library's barrier (KLMINIM option b, crossover off) and through the
# barrier of the peer solver CLP (`clp FILE -crossover off -barrier`), and
# prints per problem: status, objective, barrier iterations and solve CPU
# time of each, the relative error of each objective against the folder's
# objectives.csv, and the time ratio (ours / CLP's); then per folder the
# geometric mean of the time ratios and the ratio of the total times.
#
#   bench/barrier_compare.sh [build directory] [data folder] [extra CLP arguments]
#
# The build directory (default: build) must hold bin/lp_barrier_bench, built
# in Release. The data folder (default: $KLSOL_DATA, else ../shared/data)
# holds the problem folders; BENCH_FOLDERS (default "netlib qp") names those
# to run, and a folder's objectives.csv, else the data folder's, gives the
# reference objectives. CLP (Debian package coinor-clp) is installed here
# with apt-get when it is missing; it is never a dependency of the library.
# Both run without presolve, or both with their presolve on when
# BENCH_PRESOLVE is 1 (bench/barrier_presolve_compare.sh).
#
# Neither side runs a crossover: ours with control CROSS 0, CLP with its
# option "-crossover off". With BENCH_CROSSOVER=1 both do (ours as by
# default, with the primal clean-up; CLP with "-crossover on"), and the
# times include the crossover and the clean-up. With its presolve on, CLP
# still cleans up the postsolved barrier solution with its primal simplex
# ("Presolved model was optimal, full model needs cleaning up"); that time is in its figure, and
# the simplex column counts those iterations. CLP's closing line counts
# twice the barrier iterations plus the simplex ones when the crossover is
# off, so its barrier iterations are read from its last iteration line.
#
# Times are CPU seconds of the solve alone. Ours: the process CPU time spent
# inside KLMINIM, measured by the runner. CLP prints its own solve time in
# 10 ms steps only, too coarse for most of these problems, so its time is
# measured from outside: the CPU time (user + system) of one CLP process
# that reads the file and runs its barrier K times in a row (the repeated
# solves are identical, each from scratch), less that of a process that
# only reads the file, divided by K. K is chosen so that the solves take
# about BENCH_TARGET_SECONDS (default 0.2) in all, at most 2000. Our runner
# is given a count chosen the same way from a first solve of its own, and
# reads the file again before each solve; its figure is the mean per solve.
# Each measurement is repeated BENCH_REPEATS times (default 3) and the least
# kept.
#
# So both figures are CPU time of the solve alone, on the same footing:
# neither counts reading the file or starting the process; CPU time, not
# wall time, because other work on the machine stretches wall time unevenly.
# Ours includes writing the solution file, which KLMINIM always does (into
# a scratch folder emptied before each solve, so each writes it afresh as a
# single run does); CLP writes none. Both measure repeated solves in one
# process: CLP's reuse its warm heap, ours the blocks the library keeps.
# Times below 0.1 ms count as 0.1 ms in the ratios. A process that runs
# longer than BENCH_TIMEOUT seconds (default 600) is stopped.
#
# A * after CLP's status marks its "Optimal - small complementarity gap".
# The error columns are relative (absolute where the reference is 0); the
# summary lists the optimal results more than 1e-6 off their reference.
# For .qps files the script checks that CLP read the QUADOBJ section (its
# reader echoes the section; a section it does not know is an error) and
# says so; a file it could not read is left out of the ratios.
set -eu

build=${1:-build}
data=${2:-${KLSOL_DATA:-$(dirname "$0")/../../shared/data}}
shift $(( $# > 2 ? 2 : $# ))
clp_extra="$*"

bench="$build/bin/lp_barrier_bench"
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

exec python3 - "$bench" "$data" "$clp_extra" <<'PYTHON'
import csv, math, os, re, resource, subprocess, sys

bench, data, clp_extra = sys.argv[1], sys.argv[2], sys.argv[3].split()
folders = os.environ.get("BENCH_FOLDERS", "netlib qp").split()
presolve = os.environ.get("BENCH_PRESOLVE", "0") == "1"
repeats = max(1, int(os.environ.get("BENCH_REPEATS", "3")))
target = float(os.environ.get("BENCH_TARGET_SECONDS", "0.2"))
timeout = float(os.environ.get("BENCH_TIMEOUT", "600"))
floor = 1e-4
most_solves = 2000
# -n leaves our presolve control at its default (on).
crossover = os.environ.get("BENCH_CROSSOVER", "0") == "1"
our_flags = (["-n"] if presolve else []) + (["-x"] if crossover else [])
clp_presolve = [] if presolve else ["-presolve", "off"]

def run(command):
    """Standard output of one process, None when it ran out of time."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        output, _ = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.communicate()
        return None
    return output.decode(errors="replace")

def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime

def cpu_of(command):
    """CPU seconds (user + system) of one child process and its output; None
    for the time when it ran out of time. The child is reaped before run
    returns, so its usage is the growth of the children's total."""
    before = children_cpu()
    output = run(command)
    after = children_cpu()
    if output is None:
        return None, ""
    return after - before, output

def solves_for(seconds):
    return max(1, min(most_solves, math.ceil(target / max(seconds, 1e-5))))

def ours(path):
    def once(count):
        seconds, output = cpu_of([bench] + our_flags + ["-k", str(count), path])
        fields = output.split()
        if seconds is None:
            return "timeout"
        if len(fields) < 8:
            return None
        return fields
    first = once(1)
    if first in (None, "timeout"):
        return dict(status="timeout" if first else "failed", objective=float("nan"), iterations=0, solve=float("nan"))
    count = solves_for(float(first[5]))
    runs = [once(count) for _ in range(repeats)]
    runs = [r for r in runs if r not in (None, "timeout")] or [first]
    fields = min(runs, key=lambda r: float(r[5]))
    if fields[2] != "0":
        status = "word " + fields[2]
    else:
        status = {"1": "optimal", "2": "infeasible", "4": "unfinished", "5": "unbounded",
                  "6": "cutoff"}.get(fields[1], "status " + fields[1])
    return dict(status=status, objective=float(fields[3]), iterations=int(fields[4]), solve=float(fields[5]))

closing = re.compile(r"^(\w[\w ]*?) objective ([-+0-9.eEinfa]+) - (\d+) iterations time ([0-9.]+)", re.M)
barrier_line = re.compile(r"^(\d+) Primal \S+ Dual \S+ Complementarity", re.M)
simplex_line = re.compile(r"^(\d+)  Obj ", re.M)

def clp(path):
    base = ["clp", path] + clp_presolve + clp_extra
    solve = base + ["-crossover", "on" if crossover else "off"]
    seconds, output = cpu_of(solve + ["-barrier", "-quit"])
    quadratic = path.endswith(".qps")
    read_quadratic = None
    if quadratic:
        read_quadratic = (re.search(r"^At line \d+ QUADOBJ", output, re.M) is not None and
                          "errors" not in output and "not valid" not in output)
    found = closing.search(output)
    if seconds is None or not found:
        return dict(status="timeout" if seconds is None else "failed", objective=float("nan"), iterations=0,
                    simplex=0, solve=float("nan"), read_quadratic=read_quadratic)
    words = found.group(1).strip()
    status = "optimal" if words.lower().startswith("optimal") else words.lower()
    if "small complementarity gap" in output:
        status += "*"
    lines = barrier_line.findall(output)
    iterations = int(lines[-1]) if lines else 0
    # The simplex's last iteration line after the barrier's closing one.
    after = output.split("At end primal/dual infeasibilities")[-1]
    simplex_lines = simplex_line.findall(after)
    simplex = int(simplex_lines[-1]) if simplex_lines else 0
    read_only = min(cpu_of(base + ["-quit"])[0] or float("inf") for _ in range(repeats))
    def per_solve(count):
        solved = min(cpu_of(solve + ["-barrier"] * count + ["-quit"])[0] or float("inf") for _ in range(repeats))
        return max(solved - read_only, 0.0) / count if solved != float("inf") else float("nan")
    # CLP's own figure is at least 2 ms, so the count it suggests may be far
    # too small for a short solve: measure again with more solves then.
    count = solves_for(float(found.group(4)))
    seconds = per_solve(count)
    if seconds == seconds and seconds * count < 0.5 * target and solves_for(seconds) > count:
        count = solves_for(seconds)
        seconds = per_solve(count)
    return dict(status=status, objective=float(found.group(2)), iterations=iterations, simplex=simplex,
                solve=seconds, read_quadratic=read_quadratic)

def references(folder):
    for place in (os.path.join(folder, "objectives.csv"), os.path.join(os.path.dirname(folder), "objectives.csv")):
        if os.path.exists(place):
            with open(place, newline="") as table:
                return {row["name"]: float(row["objective"]) for row in csv.DictReader(table)}
    return {}

def relative_error(value, reference):
    """Relative to the reference, absolute where it is 0; 0 without one."""
    if reference is None:
        return 0.0
    if value != value:
        return float("inf")
    return abs(value - reference) / (abs(reference) if reference != 0.0 else 1.0)

def error(value, reference):
    if reference is None or value != value:
        return "-"
    return "%.0e" % relative_error(value, reference)

def geometric_mean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else float("nan")

print("presolve %s in both; crossover %s in both; times are CPU seconds of the solve" %
      ("on" if presolve else "off", "on" if crossover else "off"))
for folder_name in folders:
    folder = os.path.join(data, folder_name)
    if not os.path.isdir(folder):
        print("\n%s: no such folder" % folder)
        continue
    reference = references(folder)
    files = sorted(f for f in os.listdir(folder) if f.endswith((".mps", ".qps")))
    print()
    print("%s (%d problems)" % (folder_name, len(files)))
    print("%-10s | %-10s %16s %5s %9s %6s | %-11s %16s %5s %5s %9s %6s | %7s" %
          ("problem", "klsol32", "objective", "iters", "cpu s", "error",
           "clp", "objective", "iters", "splx", "cpu s", "error", "ratio"))
    # Every problem both sides timed, whatever its outcome, and those both
    # solved to optimality.
    timed, optimal = [], []
    unread, differ, off = [], [], []
    for name in files:
        path = os.path.join(folder, name)
        stem = name.rsplit(".", 1)[0]
        a, b = ours(path), clp(path)
        if b["read_quadratic"] is False:
            unread.append(stem)
        ratio = float("nan")
        if a["solve"] == a["solve"] and b["solve"] == b["solve"] and b["read_quadratic"] is not False:
            ratio = max(a["solve"], floor) / max(b["solve"], floor)
            timed.append((ratio, a["solve"], b["solve"]))
            if a["status"] == "optimal" and b["status"].startswith("optimal"):
                optimal.append((ratio, a["solve"], b["solve"]))
        if a["status"] != "optimal" or not b["status"].startswith("optimal"):
            differ.append("%s (%s, clp %s)" % (stem, a["status"], b["status"]))
        for who, result in (("klsol32", a), ("clp", b)):
            if relative_error(result["objective"], reference.get(stem)) > 1e-6 and (
                    result["status"].startswith("optimal")):
                off.append("%s (%s)" % (stem, who))
        solved = a["status"] not in ("failed", "timeout") and not a["status"].startswith("word")
        print("%-10s | %-10s %16.10g %5d %9.5f %6s | %-11s %16.10g %5d %5d %9.5f %6s | %7.2f" %
              (stem, a["status"], a["objective"], a["iterations"], a["solve"],
               error(a["objective"], reference.get(stem)) if solved else "-",
               b["status"], b["objective"], b["iterations"], b["simplex"], b["solve"],
               error(b["objective"], reference.get(stem)), ratio))
        sys.stdout.flush()
    quadratic_files = [f for f in files if f.endswith(".qps")]
    if quadratic_files:
        if unread:
            print("clp did not read the QUADOBJ section of: %s (left out of the ratios)" % ", ".join(unread))
        else:
            print("clp read the QUADOBJ section of all %d .qps files" % len(quadratic_files))
    print("not optimal in both: %s" % (", ".join(differ) if differ else "none"))
    print("optimal but more than 1e-6 off objectives.csv: %s" % (", ".join(off) if off else "none"))
    for label, rows in (("all timed", timed), ("both optimal", optimal)):
        ours_total = sum(row[1] for row in rows)
        clp_total = sum(row[2] for row in rows)
        print("%s, %s (%d): geometric mean time ratio klsol32 / clp %.3f; total cpu s klsol32 %.4f, clp %.4f, "
              "ratio of totals %.3f" %
              (folder_name, label, len(rows), geometric_mean([row[0] for row in rows]), ours_total, clp_total,
               ours_total / clp_total if clp_total > 0 else float("nan")))
    sys.stdout.flush()
PYTHON
