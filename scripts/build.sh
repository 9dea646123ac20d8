#!/usr/bin/env bash
# Configures and builds into build/ (or the folder given as $1 with extra
# cmake arguments after it). Warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -DOSTREL_WERROR=ON "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
