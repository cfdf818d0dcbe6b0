#!/usr/bin/env bash
# Long run of the kill tests: kills a writer of the INI file, then a writer of the store, with
# SIGKILL at random moments <rounds> times each (default 10000) and prints the figures (rounds,
# torn files, leftovers; entries reported and present).
#
#   scripts/killtest.sh [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=${1:-10000}
build=${KELVORAN_BUILD_DIR:-build/test} # an existing sanitizer build may be named here
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELVORAN_SANITIZE=ON >/dev/null
cmake --build "$build" -j2 --target tst_inifile tst_store
KELVORAN_KILL_ROUNDS="$rounds" "$build"/tests/tst_inifile killedWriters
KELVORAN_KILL_ROUNDS="$rounds" "$build"/tests/tst_store killedWriterLosesNothingAndLeavesNoHalfEntry
