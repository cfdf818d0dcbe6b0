#!/usr/bin/env bash
# Builds an optimised build and runs the benchmarks, each printing its figures. The busy-time and
# idle benchmarks run on a private X server with a tray host.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh --test
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j2

source scripts/desktop-stack.sh
trap stop_desktop_stack EXIT
start_desktop_stack
unset http_proxy HTTP_PROXY all_proxy ALL_PROXY
export no_proxy="127.0.0.1,localhost"

for b in bench_scrape bench_poll bench_visits bench_servers bench_busy bench_idle bench_footprint; do
    echo "=== $b"
    "build/release/bench/$b"
done
