#!/usr/bin/env bash
# The start of a program carried in the program container, started natively (the kernel refuses
# it, the shell hands it to /bin/sh, the head runs the payload from memory in its own process),
# against the same program started plainly. The program is the extractor (the
# medium's "Setup.dat"), run with no arguments: it says how it is called and ends at once, so the
# figure is the cost of starting. Each figure is the median over rounds of a batch of starts; the
# two take turns so that load from elsewhere hits both alike.
source "$(dirname "$0")/common.bash"
plain="$BUILD/bin/extractor"
work="$BUILD/bench-container"
need_built "$plain" "$BUILD/bin/mkpackage"
rounds=${CONTAINER_ROUNDS:-9}
batch=${CONTAINER_BATCH:-20}
rm -rf "$work"; mkdir -p "$work/src"
# The smallest package the package check lets through: one product file.
printf '[Dateien]\r\nAnzahlDateien=1\r\nDatei0=#InstallPath#\r\nDateiN0=a.txt\r\n' >"$work/src/Setup.INX"
echo a >"$work/src/a.txt"
"$BUILD/bin/mkpackage" --bin "$BUILD/bin" "$work/src" "$work/medium" 2>/dev/null
container=$(cd "$work/medium" && pwd)/Setup.dat

run_plain() { for ((i = 0; i < batch; i++)); do "$plain" >/dev/null 2>&1 || true; done; }
run_container() { for ((i = 0; i < batch; i++)); do "$container" >/dev/null 2>&1 || true; done; }

# Both must start the same program: the same usage text and exit status.
a=$("$plain" 2>&1; echo "rc=$?") || true
b=$("$container" 2>&1; echo "rc=$?") || true
[ "$a" = "$b" ] || { echo "container_start.sh: the container did not run its program" >&2; exit 1; }
run_plain; run_container

p=(); c=()
for ((r = 0; r < rounds; r++)); do
  p+=("$(timed_batch run_plain)"); c+=("$(timed_batch run_container)")
done
m_p=$(median "${p[@]}"); m_c=$(median "${c[@]}")
echo "BENCH name=container_start value=$(ms "$m_c") unit=ms baseline=$(ms "$m_p") ratio=$(awk -v a="$m_c" -v b="$m_p" 'BEGIN{printf "%.2f", a / b}')"
rm -rf "$work"
