#!/bin/sh
# Writes every problem of the Netlib folder with the console program's
# OUTPUT command in three forms (fixed-field MPS, free-field MPS from
# option p, LP format from option l) and solves each file with GLPK's
# glpsol and with CLP, two readers that are not ours. Prints per problem
# the known optimum and each reader's optimum per file, marks a result
# that differs from the known optimum by more than 1e-6 relative (or that
# failed to read or solve), and ends with the count of such results.
#
#   bench/written_files_compare.sh [build directory] [netlib folder]
#
# glpsol reads the fixed file with --mps, the free one with --freemps and
# the LP file with --lp; CLP reads all three (named .mps and .lp). Both
# come from the Debian packages glpk-utils and coinor-clp, installed here
# with apt-get when missing; neither is a dependency of the library.
set -eu

build=${1:-build}
folder=${2:-${KLSOL_DATA:-$(dirname "$0")/../../shared/data}/netlib}
program="$build/bin/klsol"
if [ ! -x "$program" ]; then
  echo "no $program: build the Release tree first (cmake --build $build)" >&2
  exit 1
fi
for tool in glpsol:glpk-utils clp:coinor-clp; do
  command -v "${tool%%:*}" >/dev/null 2>&1 && continue
  echo "installing ${tool#*:} ..." >&2
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get install -y "${tool#*:}" >/dev/null 2>&1 ||
    { $sudo apt-get update >/dev/null 2>&1 && $sudo apt-get install -y "${tool#*:}" >/dev/null 2>&1; } ||
    { echo "could not install ${tool#*:}" >&2; exit 1; }
done

exec python3 - "$program" "$folder" <<'PYTHON'
import csv, os, re, shutil, subprocess, sys, tempfile

program, folder = os.path.abspath(sys.argv[1]), sys.argv[2]
known = {}
with open(os.path.join(folder, "..", "objectives.csv")) as f:
    for row in csv.DictReader(f):
        known[row["name"]] = float(row["objective"])

def glpsol(option, path, work):
    report = os.path.join(work, "glpsol.txt")
    run = subprocess.run(["glpsol", option, path, "-o", report], capture_output=True, text=True, timeout=600)
    if run.returncode != 0 or not os.path.exists(report):
        return None
    with open(report) as f:
        text = f.read()
    if "OPTIMAL" not in text:
        return None
    m = re.search(r"Objective:\s+\S+\s+=\s+(\S+)", text)
    return float(m.group(1)) if m else None

def clp(path):
    run = subprocess.run(["clp", path, "-solve"], capture_output=True, text=True, timeout=600)
    m = re.search(r"Optimal objective\s+(\S+)", run.stdout)
    return float(m.group(1)) if m else None

names = sorted(f[:-4] for f in os.listdir(folder) if f.endswith(".mps"))
failures = 0
print("%-10s %18s | %15s %15s %15s | %15s %15s %15s" % (
    "problem", "known", "glpk fixed", "glpk free", "glpk lp", "clp fixed", "clp free", "clp lp"))
for name in names:
    work = tempfile.mkdtemp(prefix="klsol-written-")
    try:
        shutil.copy(os.path.join(folder, name + ".mps"), os.path.join(work, "source.mps"))
        script = "INPUT source.mps\nOUTPUT fixed\nOUTPUT free -p\nOUTPUT form -l\nQUIT\n"
        subprocess.run([program], input=script, capture_output=True, text=True, cwd=work, timeout=600)
        files = {"fixed": os.path.join(work, "fixed.mat"), "free": os.path.join(work, "free.mat"),
                 "lp": os.path.join(work, "form.lp")}
        # CLP tells the formats by the extension.
        shutil.copy(files["fixed"], os.path.join(work, "fixed.mps"))
        shutil.copy(files["free"], os.path.join(work, "free.mps"))
        results = [glpsol("--mps", files["fixed"], work), glpsol("--freemps", files["free"], work),
                   glpsol("--lp", files["lp"], work), clp(os.path.join(work, "fixed.mps")),
                   clp(os.path.join(work, "free.mps")), clp(files["lp"])]
    except (OSError, subprocess.TimeoutExpired):
        results = [None] * 6
    finally:
        shutil.rmtree(work, ignore_errors=True)
    expected = known.get(name)
    cells = []
    for value in results:
        bad = value is None or expected is None or abs(value - expected) > 1e-6 * max(1.0, abs(expected))
        failures += bad
        cells.append(("%15s" % "failed") if value is None else ("%14.8g%s" % (value, "*" if bad else " ")))
    print("%-10s %18.10g | %s %s %s | %s %s %s" % ((name, expected if expected is not None else float("nan")) + tuple(cells)))
    sys.stdout.flush()
print("\nresults off the known optimum by more than 1e-6 relative, or failed (*): %d of %d" % (failures, 6 * len(names)))
PYTHON
