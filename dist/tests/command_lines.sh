#!/usr/bin/env bash
# Every program on a bare terminal (no DISPLAY, no Qt platform): --help, --version and "/?"
# answer with status 0, an unknown option gets a usage line on standard error and status 2,
# and none of them opens a window (Qt would abort without a display, and the transcript that
# every window writes stays unwritten).
set -uo pipefail
set -f  # "/?" is an argument, never a file name pattern
bin=$(cd "$1" && pwd) version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# program | arguments | status | stream that must hold the text | text
table=(
  "setup|--help|0|out|Aufruf: setup"
  "setup|--version|0|out|setup $version"
  "setup|/?|0|out|/NORESTART"
  "setup|/S /?|0|out|Aufruf: setup"
  "setup|--bogus|2|err|Aufruf: setup"
  "setup|/S --bogus|2|err|--bogus"
  "uninstall|--help|0|out|Aufruf: Uninstall.exe"
  "uninstall|--version|0|out|uninstall $version"
  "uninstall|/?|0|out|/S"
  "uninstall|--bogus|2|err|Aufruf: Uninstall.exe"
  "morvo|--help|0|out|--reattach"
  "morvo|-h|0|out|--dry-run"
  "morvo|--version|0|out|morvo $version"
  "morvo|--bogus|2|err|Aufruf: morvo"
  "morvo|--settings x.ini|2|err|Keine Betriebsart"
  "mkpackage|--help|0|out|--check"
  "mkpackage|--version|0|out|mkpackage $version"
  "mkpackage|--bogus|2|err|usage: mkpackage"
  "mkpackage|--bogus src medium|2|err|unknown option --bogus"
  "extractor|--help|0|out|-ox"
  "extractor|--version|0|out|extractor $version"
  "extractor|--bogus|2|err|usage: extractor"
  "extractor|--bogus a.cab b|2|err|unknown option --bogus"
  "mkmailstore|--help|0|out|--layout"
  "mkmailstore|--version|0|out|mkmailstore $version"
  "mkmailstore|--bogus|2|err|usage: mkmailstore"
)

for row in "${table[@]}"; do
  IFS='|' read -r program args want stream text <<<"$row"
  rm -f "$work/transcript" "$work/out" "$work/err"
  # shellcheck disable=SC2086  # the arguments are split at blanks on purpose
  (cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    VELTRIN_TRANSCRIPT="$work/transcript" timeout 20 "$bin/$program" $args \
    >"$work/out" 2>"$work/err" </dev/null)
  got=$?
  problem=""
  [ "$got" = "$want" ] || problem="status $got, wanted $want"
  grep -qF -- "$text" "$work/$stream" || problem+="${problem:+; }no \"$text\" on std$stream"
  [ "$want" = 2 ] && [ -s "$work/out" ] && problem+="${problem:+; }output on stdout"
  [ -e "$work/transcript" ] && problem+="${problem:+; }a window was made"
  if [ -n "$problem" ]; then
    echo "FAIL $program $args: $problem"
    sed 's/^/  out: /' "$work/out"
    sed 's/^/  err: /' "$work/err"
    failures=$((failures + 1))
  else
    echo "ok   $program $args"
  fi
done
[ "$failures" = 0 ]
