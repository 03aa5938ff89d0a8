#!/bin/sh
# Runs every problem of the MIPLIB folder through this library's global
# search and through CBC, one problem after the other, each with the same
# node and time limits, and prints per problem: status, objective, nodes
# and solve time of each, and the ratios; then the geometric mean of the
# time ratios over the problems both solved to proven optimality, and the
# problems either side left unsolved.
#
#   bench/miplib_compare.sh [build directory] [miplib folder]
#
# Limits: BENCH_SECONDS (default 300) and BENCH_NODES (default 1000000) for
# both solvers. Our controls: BENCH_CONTROLS, a list of "-c number=value"
# settings passed to mip_solve_bench (default: none). CBC runs on one thread
# with its defaults. CBC (Debian package coinor-cbc) is installed here with
# apt-get when it is missing; it is never a dependency of the library.
# Times are the solvers' own: our search's wall time inside the process,
# CBC's reported CPU time.
set -eu

build=${1:-build}
folder=${2:-${KLSOL_DATA:-$(dirname "$0")/../../shared/data}/miplib3}
bench="$build/bin/mip_solve_bench"
if [ ! -x "$bench" ]; then
  echo "no $bench: build the Release tree first (cmake --build $build)" >&2
  exit 1
fi
if ! command -v cbc >/dev/null 2>&1; then
  echo "installing coinor-cbc ..." >&2
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get install -y coinor-cbc >/dev/null 2>&1 ||
    { $sudo apt-get update >/dev/null 2>&1 && $sudo apt-get install -y coinor-cbc >/dev/null 2>&1; } ||
    { echo "could not install coinor-cbc" >&2; exit 1; }
fi

exec python3 - "$bench" "$folder" <<'PYTHON'
import csv, math, os, re, subprocess, sys

bench, folder = sys.argv[1], sys.argv[2]
seconds = float(os.environ.get("BENCH_SECONDS", "300"))
nodes = int(os.environ.get("BENCH_NODES", "1000000"))
controls = os.environ.get("BENCH_CONTROLS", "").split()
# MAXNOD is integer control 18, MAXTIM integer control 20 (negative: the
# limit holds whether or not an integer solution has been found).
limits = ["-c", "18=%d" % nodes, "-c", "20=%d" % -max(1, int(seconds))]
floor = 0.001

known = {}
objectives = os.path.join(os.path.dirname(os.path.abspath(folder)), "objectives.csv")
if os.path.exists(objectives):
    with open(objectives) as f:
        for row in csv.DictReader(f):
            known[row["name"]] = float(row["objective"])

def ours(path):
    out = subprocess.run([bench] + limits + controls + [path], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, timeout=seconds * 3 + 60).stdout.decode()
    f = out.split()
    if len(f) < 8:
        return None
    status = {"6": "optimal", "5": "infeasible", "4": "stopped", "3": "stopped"}.get(f[1], "status " + f[1])
    return dict(status=status, objective=float(f[2]), nodes=int(f[4]), time=float(f[6]))

def cbc(path):
    out = subprocess.run(["cbc", path, "-threads", "1", "-sec", str(seconds), "-maxNodes", str(nodes),
                          "-solve", "-quit"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         timeout=seconds * 3 + 60).stdout.decode(errors="replace")
    result = re.search(r"Result - (.*)", out)
    status = "?"
    if result:
        text = result.group(1).lower()
        status = "optimal" if "optimal" in text else ("infeasible" if "infeasible" in text else "stopped")
    objective = re.search(r"Objective value:\s+([-+0-9.eE]+)", out)
    enumerated = re.search(r"Enumerated nodes:\s+(\d+)", out)
    cpu = re.search(r"Time \(CPU seconds\):\s+([0-9.]+)", out)
    return dict(status=status, objective=float(objective.group(1)) if objective else float("nan"),
                nodes=int(enumerated.group(1)) if enumerated else 0,
                time=float(cpu.group(1)) if cpu else float("nan"))

files = sorted(f for f in os.listdir(folder) if f.endswith(".mps"))
print("limits: %g seconds, %d nodes; our controls: %s" % (seconds, nodes, " ".join(controls) or "defaults"))
print("%-9s | %-10s %16s %8s %9s | %-10s %16s %8s %9s | %7s %7s | %s" %
      ("problem", "klsol32", "objective", "nodes", "time s", "cbc", "objective", "nodes", "time s",
       "time", "nodes", "known optimum"))
ratios, unsolved = [], []
for name in files:
    path = os.path.join(folder, name)
    stem = name[:-4]
    a, b = ours(path), cbc(path)
    if a is None:
        print("%-9s | failed to run" % stem)
        unsolved.append(stem + " (ours: failed)")
        continue
    time_ratio = max(a["time"], floor) / max(b["time"], floor)
    node_ratio = max(a["nodes"], 1) / max(b["nodes"], 1)
    expected = known.get(stem)
    right = expected is not None and abs(a["objective"] - expected) <= 1e-6 * max(1.0, abs(expected))
    # A stopped search is wrong only when its incumbent claims better than
    # the known optimum; otherwise it is just unfinished.
    tolerance = 1e-6 * max(1.0, abs(expected)) if expected is not None else 0.0
    if expected is None:
        mark = ""
    elif right:
        mark = "ok"
    elif a["status"] != "optimal" and a["objective"] > expected + tolerance:
        mark = "unfinished (%.10g)" % expected
    else:
        mark = "WRONG (%.10g)" % expected
    print("%-9s | %-10s %16.10g %8d %9.3f | %-10s %16.10g %8d %9.3f | %7.2f %7.2f | %s" %
          (stem, a["status"], a["objective"], a["nodes"], a["time"], b["status"], b["objective"], b["nodes"],
           b["time"], time_ratio, node_ratio, mark))
    sys.stdout.flush()
    if a["status"] == "optimal" and b["status"] == "optimal":
        ratios.append(time_ratio)
    if a["status"] != "optimal":
        unsolved.append(stem + " (ours)")
    if b["status"] != "optimal":
        unsolved.append(stem + " (cbc)")

print()
if ratios:
    print("geometric mean time ratio klsol32 / cbc over %d problems both solved: %.3f" %
          (len(ratios), math.exp(sum(math.log(r) for r in ratios) / len(ratios))))
print("not solved to optimality within the limits: %s" % (", ".join(unsolved) if unsolved else "none"))
PYTHON
