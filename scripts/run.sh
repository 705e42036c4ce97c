#!/usr/bin/env bash
# Installs what is needed, builds the program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
exe=build/src/app/plexora
if [ ! -x "$exe" ]; then
    echo "The program is not built yet: only the engine library and its tests exist so far."
    exit 0
fi
exec "$exe"
