#!/usr/bin/env bash
# The private-profile functions: 1,000 and 10,000 new keys written into the last section of a
# fresh file (the ratio stays under 15 when writes append instead of rewriting), and reads of
# an unchanged file (served from the cache: no parse, far below a parse's cost).
source "$(dirname "$0")/common.bash"
bench="$BUILD/benchbin/bench_profile"
need_built "$bench"
work="$BUILD/bench-profile"
rm -rf "$work"
"$bench" "$work"
rm -rf "$work"
