#!/usr/bin/env bash
# Installs what Kelvoran needs, builds it and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j2 --target kelvoran
exec build/release/kelvoran "$@"
