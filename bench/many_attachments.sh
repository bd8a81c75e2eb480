#!/usr/bin/env bash
# One archiving run over a folder holding a single mail with 3,000 and then 10,000 small
# attachments (1 KB each): seconds to file them all. Targets: under 5 s and under 15 s (filing
# grows with the mail's size, not with its square).
source "$(dirname "$0")/common.bash"
bench="$BUILD/benchbin/bench_archive"
need_built "$bench"
work=$(mktemp -d "${TMPDIR:-/tmp}/bench_many.XXXXXX")
trap 'rm -rf "$work"' EXIT
for n in ${MANY_ATTACHMENTS:-3000 10000}; do
  d="$work/$n"
  "$bench" many "$d/store" "$n"
  mkdir -p "$d/ablage"
  sync
  read -r secs filed _ < <("$bench" run "$(cd "$d" && pwd)/store" "$(cd "$d" && pwd)/ablage")
  [ "$filed" -eq "$n" ] || { echo "many_attachments.sh: $filed of $n attachments filed" >&2; exit 1; }
  echo "BENCH name=many_attachments_$n value=$secs unit=s"
done
