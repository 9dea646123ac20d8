#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a normal
# build, once under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1
jobs=$(nproc)

bash scripts/build.sh build
dbus-run-session -- ctest --test-dir build --output-on-failure -j"$jobs"

bash scripts/build.sh build-asan -DOSTREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
dbus-run-session -- ctest --test-dir build-asan --output-on-failure -j"$jobs"
