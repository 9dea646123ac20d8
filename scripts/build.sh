#!/usr/bin/env bash
# Configures and builds into build/ (or the folder given as $1 with extra
# cmake arguments after it). Warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
# A compiler cache keyed on paths relative to the checkout, so a fresh clone
# elsewhere reuses what an earlier build of the same sources compiled.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -DOSTREL_WERROR=ON "${launcher[@]}" "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
