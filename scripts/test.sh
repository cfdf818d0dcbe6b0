#!/usr/bin/env bash
# Installs what Kelvoran and its tests need, builds the test build (AddressSanitizer and
# UndefinedBehaviorSanitizer), starts the desktop test stack (Xvfb, the trayer tray host and
# PulseAudio with a null sink), runs every test and stops the stack again.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/deps.sh --test
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELVORAN_SANITIZE=ON
cmake --build build/test -j2

source scripts/desktop-stack.sh
trap stop_desktop_stack EXIT
start_desktop_stack

# The tests talk to servers on 127.0.0.1 only; keep any proxy of the environment out of it.
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY
export no_proxy="127.0.0.1,localhost"

export ASAN_OPTIONS="detect_leaks=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

status=0
ctest --test-dir build/test --output-on-failure -j2 || status=$?
if ((status != 0)); then
    show_desktop_stack_logs
fi

# --- Fuzz smoke run: each libFuzzer target for 30 s (scripts/fuzz.sh builds them with clang) ---
scripts/fuzz.sh 30 || status=$?
# --- end of the fuzz smoke run ---
exit "$status"
