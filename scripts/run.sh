#!/usr/bin/env bash
# Installs what is missing, builds Lanternquest and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLQ_BUILD_TESTS=OFF
cmake --build build
exec build/src/app/lanternquest "$@"
