#!/usr/bin/env bash
# Extraction benchmark: qorv-unzip against Info-ZIP unzip, bsdtar and a
# minimal minizip loop on one deterministic corpus, plus the cost per entry
# of walking a large central directory.
#
# Usage: bench/unzip.sh [BUILD_DIR] [RUNS]
#   BUILD_DIR  an optimised build (default: build/release, configured and
#              built here with the release preset)
#   RUNS       runs per contender, alternating (default 5, at least 5)
# The corpus (bench/corpus.py) is BUILD_DIR/bench/corpus.zip; the output
# folders live in BUILD_DIR/bench-unzip.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/release}
runs=${2:-5}
if [ "$runs" -lt 5 ]; then runs=5; fi
if [ -z "${1:-}" ]; then
  cmake --preset release -S "$here" >/dev/null
  cmake --build --preset release --target qorv-unzip zip-minimal-loop >/dev/null
fi
for tool in zip unzip bsdtar python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
work="$build/bench-unzip"
mkdir -p "$work"

python3 - "$build" "$work" "$runs" "$here/bench" <<'PY'
import os, shutil, statistics, subprocess, sys, time, zipfile

build, work, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
sys.path.insert(0, sys.argv[4])
import corpus
QORV = os.path.join(build, "qorv-unzip")
LOOP = os.path.join(build, "zip-minimal-loop")
MIB = 1 << 20
def timed(command):
    """Wall time in seconds, peak RSS in KiB and CPU seconds (user + system)
    of one run. GNU time measures the RSS: a child forked from this
    interpreter would report the interpreter's size."""
    report = os.path.join(work, "time.out")
    start = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", report, *command],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit("%s failed (%d): %s" % (command[0], done.returncode, done.stderr))
    with open(report) as result:
        rss, user, system = result.read().split()[-3:]
    return elapsed, int(rss), float(user) + float(system)

archive = corpus.ensure(os.path.join(build, "bench", "corpus.zip"))
print("corpus: %s, %.1f MiB zipped" % (archive, os.path.getsize(archive) / MIB))

out = os.path.join(work, "out")
os.makedirs(out, exist_ok=True)
contenders = {
    "qorv-unzip": lambda d: [QORV, archive, d],
    "unzip": lambda d: ["unzip", "-o", "-q", archive, "-d", d],
    "bsdtar": lambda d: (os.makedirs(d), ["bsdtar", "-xf", archive, "-C", d])[1],
    "minimal-loop": lambda d: [LOOP, archive, d],
}
results = {name: [] for name in contenders}
for run in range(runs):
    order = list(contenders)
    order = order[run % len(order):] + order[:run % len(order)]  # alternate who goes first
    for name in order:
        target = os.path.join(out, "%s-%d" % (name, run))
        shutil.rmtree(target, ignore_errors=True)
        subprocess.run(["sync"])
        results[name].append(timed(contenders[name](target)))
        shutil.rmtree(target)

print("\n%-13s %9s %19s %10s %13s" % ("contender", "median s", "min-max s", "peak RSS",
                                       "median CPU s"))
medians = {}
for name, samples in results.items():
    times = [t for t, _, _ in samples]
    medians[name] = statistics.median(times)
    print("%-13s %9.3f %9.3f-%-9.3f %6.1f MiB %13.3f" % (
        name, medians[name], min(times), max(times), max(r for _, r, _ in samples) / 1024,
        statistics.median(c for _, _, c in samples)))
print("\nratios of median wall time:")
for a, b, bar in (("qorv-unzip", "unzip", 0.55), ("qorv-unzip", "minimal-loop", 0.8),
                  ("bsdtar", "unzip", None), ("minimal-loop", "unzip", None)):
    ratio = medians[a] / medians[b]
    verdict = "" if bar is None else ("  (bar <= %.2f: %s)" % (bar, "met" if ratio <= bar else "MISSED"))
    print("  %-12s / %-12s = %.2f%s" % (a, b, ratio, verdict))
rss = max(r for _, r, _ in results["qorv-unzip"]) / 1024
print("  qorv-unzip peak RSS %.1f MiB (bar < 16 MiB: %s)" % (rss, "met" if rss < 16 else "MISSED"))

# Walking the central directory: listing cost per entry, 1 000 against 100 000
# tiny entries (index order must read the directory once, not once per entry).
per_entry = {}
for count in (1000, 100000):
    tiny = os.path.join(work, "tiny-%d.zip" % count)
    if not os.path.exists(tiny):
        with zipfile.ZipFile(tiny, "w", zipfile.ZIP_DEFLATED) as zf:
            for i in range(count):
                zf.writestr("d%03d/t%06d.txt" % (i % 100, i), b"tiny %d\n" % i)
    samples = [timed([QORV, tiny]) for _ in range(runs)]
    per_entry[count] = statistics.median(t for t, _, _ in samples) / count
    print("listing %6d tiny entries: %.2f us per entry, peak RSS %.1f MiB"
          % (count, per_entry[count] * 1e6, max(r for _, r, _ in samples) / 1024))
ratio = per_entry[100000] / per_entry[1000]
print("  per-entry cost 100 000 / 1 000 = %.2f (bar <= 2: %s)" % (ratio, "met" if ratio <= 2 else "MISSED"))
PY
