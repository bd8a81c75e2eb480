#!/usr/bin/env bash
# One extractor run that takes the last file out of a 2,000-file data02.cab, against a run that
# takes the same file out of a cabinet holding only it (limit 1.5) and against cabextract -F
# taking it out of the 2,000-file cabinet (limit 1.2). Each figure is the median over rounds of
# a batch of runs; the three commands take turns so that load from elsewhere hits all alike.
source "$(dirname "$0")/common.bash"
extractor="$BUILD/bin/extractor"
mkpackage="$BUILD/bin/mkpackage"
work="$BUILD/bench-extract"
need_built "$extractor" "$mkpackage"
need_command cabextract
rounds=${EXTRACT_ROUNDS:-9}
batch=${EXTRACT_BATCH:-20}

# Two package sources: 2,000 product files (text, 4 to 12 KB each), and the last of them alone.
make_source() {  # DIR FIRST LAST
  mkdir -p "$1"
  awk -v dir="$1" -v first="$2" -v last="$3" 'BEGIN {
    n = last - first + 1
    printf "[Dateien]\r\nAnzahlDateien=%d\r\n", n > (dir "/Setup.INX")
    for (i = first; i <= last; i++) {
      name = sprintf("datei%04d.txt", i)
      printf "Datei%d=#InstallPath#\r\nDateiN%d=%s\r\n", i - first, i - first, name >> (dir "/Setup.INX")
      size = 4096 + (i * 7919) % 8192; s = ""
      for (k = 0; length(s) < size; k++) s = s sprintf("Zeile %d der Datei %d: Anhang Ordner Postfach\r\n", k, i)
      printf "%s", substr(s, 1, size) > (dir "/" name); close(dir "/" name)
    }
  }'
}
stamp="$work/.made-by"
if [ ! -f "$work/big/data02.cab" ] || [ "$(cat "$stamp" 2>/dev/null)" != "$(cksum <"$mkpackage")" ]; then
  rm -rf "$work"; mkdir -p "$work"
  make_source "$work/src-big" 0 1999
  make_source "$work/src-one" 1999 1999
  "$mkpackage" --bin "$BUILD/bin" "$work/src-big" "$work/big" 2>/dev/null
  "$mkpackage" --bin "$BUILD/bin" "$work/src-one" "$work/one" 2>/dev/null
  cksum <"$mkpackage" >"$stamp"
fi
abs=$(cd "$work" && pwd)
win() { printf 'C:%s' "${1//\//\\}"; }
mkdir -p "$abs/out-big" "$abs/out-one" "$abs/out-cab"
big_cab=$(win "$abs/big/data02.cab"); one_cab=$(win "$abs/one/data02.cab")
big_target=$(win "$abs/out-big/datei1999.txt"); one_target=$(win "$abs/out-one/datei1999.txt")

run_big() { for ((i = 0; i < batch; i++)); do "$extractor" $big_cab $big_target -d -i -ox; done; }
run_one() { for ((i = 0; i < batch; i++)); do "$extractor" $one_cab $one_target -d -i -ox; done; }
run_cab() { for ((i = 0; i < batch; i++)); do cabextract -q -F datei1999.txt -d "$abs/out-cab" "$abs/big/data02.cab"; done; }

# Check once that all three produce the file, then warm the caches.
run_big; run_one; run_cab
cmp -s "$abs/out-big/datei1999.txt" "$work/src-one/datei1999.txt" &&
  cmp -s "$abs/out-one/datei1999.txt" "$work/src-one/datei1999.txt" &&
  cmp -s "$abs/out-cab/datei1999.txt" "$work/src-one/datei1999.txt" ||
  { echo "extract.sh: an extraction gave wrong bytes" >&2; exit 1; }

big=(); one=(); cab=()
for ((r = 0; r < rounds; r++)); do
  big+=("$(timed_batch run_big)"); one+=("$(timed_batch run_one)"); cab+=("$(timed_batch run_cab)")
done
m_big=$(median "${big[@]}"); m_one=$(median "${one[@]}"); m_cab=$(median "${cab[@]}")
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", a / b}'; }
echo "BENCH name=extract_one_file_cabinet value=$(ms "$m_one") unit=ms"
echo "BENCH name=extract_last_of_2000 value=$(ms "$m_big") unit=ms baseline=$(ms "$m_one") ratio=$(ratio "$m_big" "$m_one") limit=1.5"
echo "BENCH name=extract_vs_cabextract value=$(ms "$m_big") unit=ms baseline=$(ms "$m_cab") ratio=$(ratio "$m_big" "$m_cab") limit=1.2"
