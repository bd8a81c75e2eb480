#!/usr/bin/env bash
# Flat cost at scale: `morvo --run` over one folder of SCALE_SMALL (10,000) and SCALE_LARGE
# (100,000) mails with a 1,000-byte attachment each, on Maildir and on IMAP (a throw-away
# Dovecot on loopback). Prints per backend the time per mail at the large size against the small
# one (limit 1.3) and the peak memory at the large size (limit 100 MB); then the window's run
# (the scripted user clicks Start) against the command line's over SCALE_WINDOW (20,000) mails
# on Maildir (limit 1.5; SCALE_WINDOW=0 leaves it out). SCALE_BACKENDS="maildir imap" picks the backends, SCALE_ROUNDS the
# rounds per figure (median; default 1: a large round takes minutes).
source "$(dirname "$0")/common.bash"
mk="$BUILD/bin/mkmailstore"
morvo="$BUILD/bin/morvo"
need_built "$mk" "$morvo"
[ -x /usr/bin/time ] || { echo "$bench_script: /usr/bin/time missing (scripts/bootstrap)" >&2; exit 1; }
small=${SCALE_SMALL:-10000}
large=${SCALE_LARGE:-100000}
window=${SCALE_WINDOW:-20000}
rounds=${SCALE_ROUNDS:-1}
backends=${SCALE_BACKENDS:-maildir imap}
store_name="Persönliche Ordner"
mkdir -p "$BUILD/bench-archive-scale"
work=$(cd "$BUILD/bench-archive-scale" && pwd)

# The generated store of N mails, made once and kept for later runs of the benchmark.
pristine() {
  local n=$1 dir="$work/pristine-$1"
  if [ ! -f "$dir/.done" ]; then
    rm -rf "$dir"
    "$mk" "$dir/store" --bulk-only --mails "$n" --attachment-size 1000 >/dev/null
    touch "$dir/.done"
  fi
  echo "$dir/store"
}

if [[ " $backends " == *" imap "* ]]; then
  imap_env=$(VELTRIN_BIN="$BUILD/bin" scripts/imap-server start --bulk-only --mails 1)
  eval "$imap_env"
  trap 'scripts/imap-server stop "$VELTRIN_IMAP_ROOT"' EXIT
fi

# Every round works in folders of its own, deleted only after all measurements: on a file system
# without a journal, creating thousands of files shortly after deleting thousands scans past
# every recently freed inode, which would slow whichever run comes after a deletion.
rounds_dir="$work/rounds"
[ -d "$rounds_dir" ] && mv "$rounds_dir" "$work/stale.$$"   # left by an interrupted run
mkdir -p "$rounds_dir"

# One run: prints "<seconds> <peak KB>". MODE is cli or window.
measure() {
  local mode=$1 backend=$2 n=$3
  local d src location
  d=$(mktemp -d "$rounds_dir/$mode-$backend-$n.XXXXXX")
  src=$(pristine "$n")
  mkdir -p "$d/prog" "$d/cfg/morvolan" "$d/ablage"
  ln "$morvo" "$d/prog/morvo" 2>/dev/null || cp "$morvo" "$d/prog/morvo"
  if [ "$backend" = maildir ]; then
    cp -r "$src" "$d/store"
    location="$d/store"
  else
    local user="scale_${d##*.}"; user=${user,,}
    cp -r "$src" "$VELTRIN_IMAP_ROOT/mail/$user"
    chown -R nobody:nogroup "$VELTRIN_IMAP_ROOT/mail/$user"
    location="imap://$user@127.0.0.1:$VELTRIN_IMAP_PORT"
  fi
  printf '[Store]\nName=%s\nLocation=%s\nPassword=%s\n' "$store_name" "$location" \
    "${VELTRIN_IMAP_PASSWORD:-}" >"$d/cfg/morvolan/profile.ini"
  local ablage_win="C:${d//\//\\}\\ablage"
  printf '[Pfad Ablage]\n%s\\\n\n[Pfad MS Outlook]\n%s|Massenpost\n' "$ablage_win" "$store_name" \
    >"$d/prog/morvo.ini"
  local args=(--run)
  if [ "$mode" = window ]; then
    args=()
    # Start, confirm, and when the run is over save its log as the command line does.
    printf '%s\n' 'wait frmMorvo' 'click frmMorvo.comB_start' \
      'answer Yes if "D A T E N V E R L U S T"' 'click frmMorvo.comB_log' \
      'click frmMorvo.comB_schliessen' >"$d/script"
  fi
  sync
  local t0 t1 rc=0
  t0=$(now)
  (cd "$d/prog" && XDG_CONFIG_HOME="$d/cfg" QT_QPA_PLATFORM=offscreen \
    VELTRIN_USER_SCRIPT="$d/script" VELTRIN_TRANSCRIPT="$d/transcript" VELTRIN_STEP_TIMEOUT=7200 \
    /usr/bin/time -f %M -o "$d/peak" ./morvo "${args[@]}" >"$d/out" 2>"$d/err") || rc=$?
  t1=$(now)
  local filed
  filed=$(find "$d/ablage" -type f | wc -l)
  if [ "$rc" -ne 0 ] || [ "$filed" -lt "$n" ]; then
    echo "$bench_script: $mode run over $n mails ($backend) ended with $rc, $filed of $n filed;" \
      "see $d" >&2
    exit 1
  fi
  awk -v ns=$((t1 - t0)) -v kb="$(tail -n 1 "$d/peak")" 'BEGIN{printf "%.3f %d\n", ns / 1e9, kb}'
}

# The median over the rounds: prints "<seconds> <peak KB>".
median_run() {
  local secs=() kbs=() s k r out
  for ((r = 0; r < rounds; r++)); do
    out=$(measure "$@") || exit 1
    read -r s k <<<"$out"
    echo "# $* round $r: $s s, $k KB" >&2
    secs+=("$s"); kbs+=("$k")
  done
  echo "$(median "${secs[@]}") $(median "${kbs[@]}")"
}

lines=()
for backend in $backends; do
  out=$(median_run cli "$backend" "$small"); read -r s_secs s_kb <<<"$out"
  out=$(median_run cli "$backend" "$large"); read -r l_secs l_kb <<<"$out"
  lines+=("$(awk -v b="$backend" -v sn="$small" -v ln="$large" -v ss="$s_secs" -v ls="$l_secs" \
    -v lk="$l_kb" -v sk="$s_kb" 'BEGIN {
    sp = ss * 1000 / sn; lp = ls * 1000 / ln; mb = lk / 1024;
    printf "# %s: %d mails %.3f s %.1f MB, %d mails %.3f s %.1f MB\n", b, sn, ss, sk / 1024, ln, ls, mb;
    printf "BENCH name=archive_scale_%s_per_mail value=%.4f unit=ms baseline=%.4f ratio=%.3f limit=1.3\n", b, lp, sp, lp / sp;
    printf "BENCH name=archive_scale_%s_memory value=%.1f unit=MB baseline=100 ratio=%.3f limit=1\n", b, mb, mb / 100;
  }')")
done
if [ "$window" -gt 0 ]; then
  out=$(median_run cli maildir "$window"); read -r c_secs c_kb <<<"$out"
  out=$(median_run window maildir "$window"); read -r w_secs w_kb <<<"$out"
  lines+=("$(awk -v n="$window" -v cs="$c_secs" -v ws="$w_secs" -v ck="$c_kb" -v wk="$w_kb" 'BEGIN {
    printf "# %d mails: command line %.3f s %.1f MB, window %.3f s %.1f MB\n", n, cs, ck / 1024, ws, wk / 1024;
    printf "BENCH name=archive_scale_window value=%.3f unit=s baseline=%.3f ratio=%.3f limit=1.5\n", ws, cs, ws / cs;
  }')")
fi
rm -rf "$rounds_dir" "$work"/stale.*
[ -n "${VELTRIN_IMAP_ROOT:-}" ] && rm -rf "$VELTRIN_IMAP_ROOT"/mail/scale*
printf '%s\n' "${lines[@]}"
