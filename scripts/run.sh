#!/usr/bin/env bash
# The main job: set up, build (release) and run zelo on its built-in default.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset release > /dev/null
cmake --build build/release -j"$(nproc)" --target zelo_app
exec build/release/host/zelo "$@"
