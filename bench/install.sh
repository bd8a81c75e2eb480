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

now() { date +%s.%N; }
rm -rf "$work/cabx"; cabextract -q -d "$work/cabx" "$work/medium/data02.cab"   # warms the cache
rm -rf "$work/cabx"
t0=$(now); cabextract -q -d "$work/cabx" "$work/medium/data02.cab"; t1=$(now)
rm -rf "$work/cabx"
base=$(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.3f", b-a}')

read -r secs entries rss_kb < <("$bench" run "$work" "$extractor")
rm -rf "$work/inst" "$work/temp"

ratio=$(awk -v v="$secs" -v b="$base" 'BEGIN{printf "%.2f", v/b}')
per=$(awk -v v="$secs" -v n="$entries" 'BEGIN{printf "%.3f", v*1000/n}')
mem=$(awk -v k="$rss_kb" 'BEGIN{printf "%.1f", k/1024}')
echo "BENCH name=install_2000_files value=$(printf %.3f "$secs") unit=s baseline=$base ratio=$ratio limit=5"
echo "BENCH name=install_per_entry value=$per unit=ms"
echo "BENCH name=install_memory value=$mem unit=MB limit=100"
awk -v m="$mem" 'BEGIN{exit !(m>100)}' && { echo "install.sh: memory over 100 MB" >&2; exit 1; }
exit 0
