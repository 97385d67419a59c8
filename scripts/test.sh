#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test of one preset.
# Usage: scripts/test.sh [default|asan]
set -euo pipefail
preset="${1:-default}"
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset"
