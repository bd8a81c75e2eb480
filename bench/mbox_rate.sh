#!/usr/bin/env bash
# Archiving the same mails (1,000 with a 100 KB attachment) in an mbox tree and in a Maildir,
# alternated round by round on fresh copies: the mbox rate against the Maildir rate.
source "$(dirname "$0")/common.bash"
bench="$BUILD/benchbin/bench_archive"
mk="$BUILD/bin/mkmailstore"
need_built "$bench" "$mk"
work="$BUILD/bench-mbox-rate"
mails=${MBOX_RATE_MAILS:-1000}
rounds=${MBOX_RATE_ROUNDS:-3}
if [ ! -f "$work/.mails" ] || [ "$(cat "$work/.mails")" != "$mails" ]; then
  rm -rf "$work"; mkdir -p "$work"
  "$mk" "$work/maildir" --bulk-only --mails "$mails" --attachment-size 102400 >/dev/null
  "$mk" "$work/mbox" --layout mboxo --bulk-only --mails "$mails" --attachment-size 102400 >/dev/null
  echo "$mails" >"$work/.mails"
fi
# Each round in folders of its own, deleted after the measurement (see archive.sh).
rounds_dir="$work/rounds"
[ -d "$rounds_dir" ] && mv "$rounds_dir" "$work/stale.$$"
mkdir -p "$rounds_dir"
mbox_rates=(); maildir_rates=()
for ((r = 0; r < rounds; r++)); do
  for kind in mbox maildir; do
    # Alternate which one goes first.
    [ $((r % 2)) -eq 1 ] && kind=$([ "$kind" = mbox ] && echo maildir || echo mbox)
    d="$rounds_dir/$r-$kind"
    mkdir -p "$d/ablage"; cp -r "$work/$kind" "$d/store"; sync
    read -r secs filed _ < <("$bench" run "$(cd "$d" && pwd)/store" "$(cd "$d" && pwd)/ablage" \
      "$([ "$kind" = mbox ] && echo mbox || echo maildir)")
    [ "$filed" -ge "$mails" ] || { echo "mbox_rate.sh: only $filed attachments filed ($kind)" >&2; exit 1; }
    rate=$(awk -v f="$filed" -v s="$secs" 'BEGIN{printf "%.1f", f/s}')
    if [ "$kind" = mbox ]; then mbox_rates+=("$rate"); else maildir_rates+=("$rate"); fi
  done
done
rm -rf "$rounds_dir" "$work"/stale.*
echo "# rounds: mbox ${mbox_rates[*]} / maildir ${maildir_rates[*]}"
m=$(median "${mbox_rates[@]}")
d=$(median "${maildir_rates[@]}")
ratio=$(awk -v a="$m" -v b="$d" 'BEGIN{printf "%.3f", a/b}')
echo "BENCH name=mbox_rate value=$m unit=attachments/s baseline=$d ratio=$ratio"
