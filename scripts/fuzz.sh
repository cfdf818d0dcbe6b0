#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and UndefinedBehaviorSanitizer) in
# build/fuzz and runs each for the given number of seconds (0: no time limit). Each target starts
# from its corpus in fuzz/corpus/<target> (and a dictionary, fuzz/<target>.dict); inputs that
# reach new code are kept in build/fuzz/corpus/<target>, inputs that fail in build/fuzz/findings/.
#
#   scripts/fuzz.sh <seconds> [page|ini|query ...] [-- <libFuzzer options>]
#   scripts/fuzz.sh 30                           # every target, 30 s each
#   scripts/fuzz.sh 0 ini -- -runs=10000000 -jobs=1
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:?usage: scripts/fuzz.sh <seconds> [page|ini|query ...] [-- <libFuzzer options>]}
shift
targets=()
while (($#)) && [[ "$1" != "--" ]]; do
    targets+=("$1")
    shift
done
(($#)) && shift
((${#targets[@]})) || targets=(page ini query)

CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKELVORAN_FUZZ=ON -DKELVORAN_TESTS=OFF -DKELVORAN_BENCH=OFF >/dev/null
cmake --build build/fuzz -j2 --target "${targets[@]/#/fuzz_}"

declare -A max_len=([page]=32768 [ini]=4096 [query]=8192)
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd build/fuzz # with -jobs, libFuzzer writes its fuzz-<n>.log files here
mkdir -p findings
status=0
for t in "${targets[@]}"; do
    mkdir -p "corpus/$t"
    echo "== fuzz_$t: ${seconds} s"
    "fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len="${max_len[$t]}" -dict="../../fuzz/$t.dict" -print_final_stats=1 \
        -artifact_prefix="findings/$t-" "$@" "corpus/$t" "../../fuzz/corpus/$t" || status=$?
done
exit "$status"
