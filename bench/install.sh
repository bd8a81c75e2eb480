#!/usr/bin/env bash
# The install run on a package of 2,000 files (200 MB) against cabextract unpacking the same
# data02.cab whole, measured in the same run. Also the install run's peak memory.
source "$(dirname "$0")/common.bash"
bench="$BUILD/benchbin/bench_install"
extractor="$BUILD/bin/extractor"
work="$BUILD/bench-install"
need_built "$bench" "$extractor"
need_command cabextract

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

# Every round writes into folders of its own, and earlier outputs are deleted only after the
# measurement: on a file system without a journal, creating thousands of files shortly after
# deleting thousands scans past every recently freed inode, which would slow whichever side
# runs after a deletion.
runs="$work/runs"
[ -d "$runs" ] && mv "$runs" "$work/stale.$$"   # left by an interrupted run
mkdir -p "$runs"
cat "$work/medium/data02.cab" >/dev/null   # warms the cache for both sides
sync
rounds=${INSTALL_ROUNDS:-3}
bases=(); base_cpus=(); secs_all=(); cpus=(); rss_max=0; entries=0
for ((r = 1; r <= rounds; r++)); do
  read -r b bc < <(timed cabextract -q -d "$runs/cabx$r" "$work/medium/data02.cab")
  bases+=("$b"); base_cpus+=("$bc")
  sync   # each side starts without the other's data waiting to be written
  mkdir -p "$runs/install$r"
  read -r s n rss c < <("$bench" run "$work" "$extractor" "$runs/install$r")
  secs_all+=("$s"); cpus+=("$c"); entries=$n
  [ "$rss" -gt "$rss_max" ] && rss_max=$rss
  sync
done
rm -rf "$runs" "$work"/stale.*
echo "# rounds: install ${secs_all[*]} / cabextract ${bases[*]}"
base=$(printf '%s\n' "${bases[@]}" | median)
base_cpu=$(printf '%s\n' "${base_cpus[@]}" | median)
secs=$(printf '%s\n' "${secs_all[@]}" | median)
cpu=$(printf '%s\n' "${cpus[@]}" | median)
rss_kb=$rss_max

echo "# load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
ratio=$(awk -v v="$secs" -v b="$base" 'BEGIN{printf "%.2f", v/b}')
per=$(awk -v v="$secs" -v n="$entries" 'BEGIN{printf "%.3f", v*1000/n}')
mem=$(awk -v k="$rss_kb" 'BEGIN{printf "%.1f", k/1024}')
echo "BENCH name=install_2000_files value=$(printf %.3f "$secs") unit=s baseline=$base ratio=$ratio limit=4"
cpu_ratio=$(awk -v v="$cpu" -v b="$base_cpu" 'BEGIN{printf "%.2f", v/b}')
echo "BENCH name=install_2000_files_cpu value=$(printf %.3f "$cpu") unit=s baseline=$base_cpu ratio=$cpu_ratio"
echo "BENCH name=install_per_entry value=$per unit=ms"
echo "BENCH name=install_memory value=$mem unit=MB limit=100"
awk -v m="$mem" 'BEGIN{exit !(m>100)}' && { echo "install.sh: memory over 100 MB" >&2; exit 1; }
exit 0
