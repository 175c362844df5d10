#!/usr/bin/env bash
# Installs what is missing, builds Kestrelon and runs every test, headless.
# Extra arguments go to ctest, e.g.: scripts/test.sh -R SerCore
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j2 --timeout 600 "$@"
