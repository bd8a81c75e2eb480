#!/usr/bin/env bash
# The install run on a package of 2,000 files (200 MB) against cabextract unpacking the same
# data02.cab whole, measured in the same run. Also the install run's peak memory.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
bench="$BUILD/benchbin/bench_install"
extractor="$BUILD/bin/extractor"
work="$BUILD/bench-install"
for f in "$bench" "$extractor"; do
  [ -x "$f" ] || { echo "install.sh: $f is not built" >&2; exit 1; }
done
command -v cabextract >/dev/null || { echo "install.sh: cabextract missing" >&2; exit 1; }

# The package is made once and kept (it depends only on the generator).
stamp="$work/.made-by"
if [ ! -f "$work/medium/data02.cab" ] || [ "$(cat "$stamp" 2>/dev/null)" != "$(cksum <"$bench")" ]; then
  rm -rf "$work"; mkdir -p "$work"
  "$bench" make "$work"
  cksum <"$bench" >"$stamp"
fi

# cabextract: wall and CPU seconds (the CPU figures show the cost apart from the machine's load).
timed() {
  local TIMEFORMAT='%R %U %S'
  { time "$@" >/dev/null 2>&1; } 2>"$work/time.txt"
  awk '{printf "%.3f %.3f\n", $1, $2+$3}' "$work/time.txt"
}
rm -rf "$work/cabx"; cabextract -q -d "$work/cabx" "$work/medium/data02.cab"   # warms the cache
rm -rf "$work/cabx"
read -r base base_cpu < <(timed cabextract -q -d "$work/cabx" "$work/medium/data02.cab")
rm -rf "$work/cabx"

read -r secs entries rss_kb cpu < <("$bench" run "$work" "$extractor")
rm -rf "$work/inst" "$work/temp"

echo "# load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
ratio=$(awk -v v="$secs" -v b="$base" 'BEGIN{printf "%.2f", v/b}')
per=$(awk -v v="$secs" -v n="$entries" 'BEGIN{printf "%.3f", v*1000/n}')
mem=$(awk -v k="$rss_kb" 'BEGIN{printf "%.1f", k/1024}')
echo "BENCH name=install_2000_files value=$(printf %.3f "$secs") unit=s baseline=$base ratio=$ratio limit=5"
cpu_ratio=$(awk -v v="$cpu" -v b="$base_cpu" 'BEGIN{printf "%.2f", v/b}')
echo "BENCH name=install_2000_files_cpu value=$(printf %.3f "$cpu") unit=s baseline=$base_cpu ratio=$cpu_ratio"
echo "BENCH name=install_per_entry value=$per unit=ms"
echo "BENCH name=install_memory value=$mem unit=MB limit=100"
awk -v m="$mem" 'BEGIN{exit !(m>100)}' && { echo "install.sh: memory over 100 MB" >&2; exit 1; }
exit 0
