#!/usr/bin/env bash
# One archiving run over 5,000 mails (2,500 of them with a 100 KB attachment and a small note,
# 2,500 without attachments) against `cp -r` of the same store (limit 3 times), both measured
# in the same round on a fresh copy; also attachments filed per second.
source "$(dirname "$0")/common.bash"
bench="$BUILD/benchbin/bench_archive"
mk="$BUILD/bin/mkmailstore"
need_built "$bench" "$mk"
work="$BUILD/bench-archive"
mails=${ARCHIVE_MAILS:-2500}
rounds=${ARCHIVE_ROUNDS:-3}
pristine="$work/pristine"
if [ ! -f "$work/.mails" ] || [ "$(cat "$work/.mails")" != "$mails" ]; then
  rm -rf "$work"; mkdir -p "$work"
  "$mk" "$pristine" --bulk-only --mails "$mails" --attachment-size 102400 >/dev/null
  "$bench" plain "$pristine/.Massenpost" "$mails"
  echo "$mails" >"$work/.mails"
fi
# Every round works in folders of its own, deleted only after the measurement: on a file system
# without a journal, creating thousands of files shortly after deleting thousands scans past
# every recently freed inode, which would slow whichever side runs after a deletion.
rounds_dir="$work/rounds"
[ -d "$rounds_dir" ] && mv "$rounds_dir" "$work/stale.$$"   # left by an interrupted run
mkdir -p "$rounds_dir"
runs=(); cps=(); rates=()
for ((r = 0; r < rounds; r++)); do
  d="$rounds_dir/$r"
  mkdir -p "$d"; sync
  t0=$(now); cp -r "$pristine" "$d/store"; sync; t1=$(now)
  cps+=("$(awk -v n=$((t1 - t0)) 'BEGIN{printf "%.6f", n/1e9}')")
  mkdir -p "$d/ablage"
  read -r secs filed total < <("$bench" run "$(cd "$d" && pwd)/store" "$(cd "$d" && pwd)/ablage")
  [ "$filed" -ge "$mails" ] || { echo "archive.sh: only $filed attachments filed" >&2; exit 1; }
  runs+=("$secs")
  rates+=("$(awk -v f="$filed" -v s="$secs" 'BEGIN{printf "%.1f", f/s}')")
done
rm -rf "$rounds_dir" "$work"/stale.* "$work/copy" "$work/store" "$work/ablage"
echo "# rounds: run ${runs[*]} / cp ${cps[*]}"
run=$(printf '%s\n' "${runs[@]}" | median)
cp_s=$(printf '%s\n' "${cps[@]}" | median)
rate=$(printf '%s\n' "${rates[@]}" | median)
ratio=$(awk -v a="$run" -v b="$cp_s" 'BEGIN{printf "%.3f", a/b}')
echo "BENCH name=archive_run value=$run unit=s baseline=$cp_s ratio=$ratio limit=3"
echo "BENCH name=archive_rate value=$rate unit=attachments/s"
