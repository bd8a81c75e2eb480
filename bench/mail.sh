#!/usr/bin/env bash
# Mail binding: 2,000 mails with a 100 KB attachment each are parsed, the attachment removed,
# a link put on top of the body and the mail saved (tmp/, fsync, rename). Limits: at least 500
# mails per second and under 100 MB of memory. `cp -r` of the same store is timed in the same
# run for comparison.
source "$(dirname "$0")/common.bash"
MAILS=${MAILS:-2000}
work=$(mktemp -d "${TMPDIR:-/tmp}/bench_mail.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$BUILD/bin/mkmailstore" "$work/store" --bulk-only --mails "$MAILS" --attachment-size 102400 >/dev/null
sync

t0=$(date +%s.%N)
cp -r "$work/store" "$work/copy"
t1=$(date +%s.%N)
cp_seconds=$(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.3f", b-a}')

out=$("$BUILD/benchbin/bench_mail" "$work/store" Massenpost)
mails=$(sed -n 's/.*mails=\([0-9]*\).*/\1/p' <<<"$out")
seconds=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$out")
rss_kb=$(sed -n 's/.*maxrss_kb=\([0-9]*\).*/\1/p' <<<"$out")
if [ "$mails" != "$MAILS" ]; then
  echo "bench mail: only $mails of $MAILS mails processed" >&2
  exit 1
fi

awk -v n="$mails" -v s="$seconds" -v cp="$cp_seconds" -v kb="$rss_kb" 'BEGIN {
  rate = n / s; per500 = s * 500 / n; mb = kb / 1024;
  printf "BENCH name=mail_rate value=%.1f unit=mails/s\n", rate;
  printf "BENCH name=mail_seconds_per_500 value=%.3f unit=s baseline=1 ratio=%.3f limit=1\n", per500, per500;
  printf "BENCH name=mail_run_vs_cp value=%.3f unit=s baseline=%.3f ratio=%.3f\n", s, cp, (cp > 0 ? s / cp : 0);
  printf "BENCH name=mail_cp_seconds value=%.3f unit=s\n", cp;
  printf "BENCH name=mail_peak_memory value=%.1f unit=MB baseline=100 ratio=%.3f limit=1\n", mb, mb / 100;
}'
