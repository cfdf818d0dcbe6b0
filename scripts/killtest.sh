#!/usr/bin/env bash
# Long run of the INI kill test: kills a writer of the INI file with SIGKILL at random moments
# <rounds> times (default 10000) and prints the figures (rounds, torn files, leftovers).
#
#   scripts/killtest.sh [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=${1:-10000}
build=${KELVORAN_BUILD_DIR:-build/test} # an existing sanitizer build may be named here
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELVORAN_SANITIZE=ON >/dev/null
cmake --build "$build" -j2 --target tst_inifile ini_writer
KELVORAN_KILL_ROUNDS="$rounds" "$build"/tests/tst_inifile killedWriters
