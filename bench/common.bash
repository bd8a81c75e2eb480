# Sourced by every benchmark script (not a benchmark itself: scripts/bench runs bench/*.sh).
# Strict mode, the repository as working folder, the build folder, and the small helpers the
# benchmarks share.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
BUILD=${BUILD:-build}
bench_script=$(basename "$0")

# Stops the benchmark unless every named file is a built program.
need_built() {
  local f
  for f in "$@"; do [ -x "$f" ] || { echo "$bench_script: $f is not built" >&2; exit 1; }; done
}
# Stops the benchmark unless every named command is installed.
need_command() {
  local c
  for c in "$@"; do command -v "$c" >/dev/null || { echo "$bench_script: $c missing" >&2; exit 1; }; done
}
now() { date +%s%N; }
# The median of the numbers given as arguments, or read one a line when there are none.
median() {
  if [ $# -gt 0 ]; then printf '%s\n' "$@"; else cat; fi |
    sort -g | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'
}
# Nanoseconds per call of the function named, which runs its body $batch times.
timed_batch() { local t0 t1; t0=$(now); "$1"; t1=$(now); echo $(( (t1 - t0) / batch )); }
ms() { awk -v n="$1" 'BEGIN{printf "%.3f", n / 1e6}'; }
