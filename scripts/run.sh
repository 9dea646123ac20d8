#!/usr/bin/env bash
# Installs what is missing, builds, and starts the editor, optionally with a file.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'MSG'
There is no display to show the editor on (neither DISPLAY nor WAYLAND_DISPLAY is set).
Run it in a virtual X server:      xvfb-run -a bash scripts/run.sh [FILE]
or without any display at all:     QT_QPA_PLATFORM=offscreen bash scripts/run.sh [FILE]
MSG
  exit 1
fi
export QTWEBENGINE_DISABLE_SANDBOX=1
exec build/bin/OstrelEdit "$@"
