#!/usr/bin/env bash
# Installs the archiver's package with dpkg as a user would, checks that the program, its man
# page and its systemd units work, removes it, and checks that nothing of it is left.
set -euo pipefail
build=$1
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
if ! command -v dpkg >/dev/null || [ "$(id -u)" != 0 ]; then
  echo "skipped: needs dpkg and root"
  exit 77
fi
# One package test at a time on this machine: dpkg installs system-wide.
exec 9>/run/lock/veltrin-package-test.lock
flock 9
if dpkg-query -W -f='${Status}' morvolan 2>/dev/null | grep -q installed; then
  echo "FAIL: morvolan is already installed here; the test would remove it"
  exit 1
fi

BUILD_DIR=$build "$source_dir/scripts/package" --no-build
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$build/morvolan_${version}_$(dpkg --print-architecture).deb

# What the package would place, and which of its folders exist before.
mapfile -t entries < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|; s|/$||' | grep -v '^\.\?$')
before=()
for e in "${entries[@]}"; do [ -e "$e" ] && before+=("$e"); done

dpkg -i "$deb" >/dev/null
trap 'dpkg -r morvolan >/dev/null 2>&1 || true' EXIT
failures=0
check() {  # check WHAT COMMAND...
  local what=$1
  shift
  if out=$("$@" 2>&1); then
    echo "ok   $what"
  else
    echo "FAIL $what: $out"
    failures=$((failures + 1))
  fi
}
check "morvo --version" sh -c "env -u DISPLAY -u QT_QPA_PLATFORM morvo --version | grep -qx 'morvo $version'"
check "morvo on the PATH is the package's" test "$(command -v morvo)" = /usr/bin/morvo
check "man -w morvo" sh -c 'test "$(man -w morvo)" = /usr/share/man/man1/morvo.1.gz'
check "systemd-analyze verify" systemd-analyze verify /usr/lib/systemd/user/morvo.service \
  /usr/lib/systemd/user/morvo.timer
check "the service runs the package's morvo" grep -qx 'ExecStart=/usr/bin/morvo --run' \
  /usr/lib/systemd/user/morvo.service
check "desktop entry" desktop-file-validate /usr/share/applications/morvo.desktop

dpkg -r morvolan >/dev/null
trap - EXIT
check "removed" sh -c "! dpkg-query -W -f='\${Status}' morvolan 2>/dev/null | grep -q installed"
for e in "${entries[@]}"; do
  keep=0
  for b in "${before[@]}"; do [ "$b" = "$e" ] && keep=1; done
  if [ "$keep" = 0 ] && [ -e "$e" ]; then
    echo "FAIL left behind: $e"
    failures=$((failures + 1))
  fi
done
[ "$failures" = 0 ]
