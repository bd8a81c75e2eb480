#!/usr/bin/env bash
# Loading the folder tree of a store with 5,000 folders, as morvo does at start-up, against
# `find` listing the same store's directories (limit 10 times), and in absolute terms (limit
# 2 s: ratio = seconds / 2, limit 1). Each figure is the median of several rounds.
source "$(dirname "$0")/common.bash"
bench="$BUILD/benchbin/bench_tree"
need_built "$bench"
work="$BUILD/bench-tree"
store="$work/store"
folders=${TREE_FOLDERS:-5000}
rounds=${TREE_ROUNDS:-7}
if [ ! -f "$work/.folders" ] || [ "$(cat "$work/.folders")" != "$folders" ]; then
  rm -rf "$work"; mkdir -p "$work"
  "$bench" make "$store" "$folders"
  echo "$folders" >"$work/.folders"
fi
loads=(); finds=()
for ((r = 0; r < rounds; r++)); do
  read -r secs nodes < <("$bench" load "$store")
  [ "$nodes" -ge "$folders" ] || { echo "tree.sh: only $nodes nodes" >&2; exit 1; }
  loads+=("$secs")
  t0=$(now); find "$store" -type d >/dev/null; t1=$(now)
  finds+=("$(awk -v n=$((t1 - t0)) 'BEGIN{printf "%.6f", n/1e9}')")
done
load=$(printf '%s\n' "${loads[@]}" | median)
find_s=$(printf '%s\n' "${finds[@]}" | median)
ratio=$(awk -v a="$load" -v b="$find_s" 'BEGIN{printf "%.3f", a/b}')
abs=$(awk -v a="$load" 'BEGIN{printf "%.3f", a/2}')
echo "BENCH name=tree_load value=$load unit=s baseline=$find_s ratio=$ratio limit=10"
echo "BENCH name=tree_load_seconds value=$load unit=s baseline=2 ratio=$abs limit=1"
