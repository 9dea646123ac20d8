#!/usr/bin/env bash
# Installs every Debian package needed to build, run and test the editor.
# Idempotent and non-interactive; installs only what is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config ccache
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-qpa-plugins
  libgl-dev libglx-dev libegl-dev libvulkan-dev
  libxml2-dev libxslt1-dev libxml2-utils
  xml-core docbook-xml docbook5-xml w3c-sgml-lib
  qt6-webengine-dev qt6-webchannel-dev poppler-utils
  libxcb1-dev
  fonts-noto-cjk qt6-translations-l10n
  xvfb xauth x11-utils xdotool
  dbus dbus-daemon dbus-bin
  desktop-file-utils appstream
  dpkg-dev file binutils
  python3-dbus python3-gi
  docbook-xsl
)

# Needed where the archive has them: from Debian 13 on, Qt's SVG image
# plugin (every icon of the window) is a package of its own.
WHERE_KNOWN=(qt6-svg-plugins)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
known_missing() {
  local p
  for p in "${WHERE_KNOWN[@]}"; do
    if ! installed "$p" && apt-cache show "$p" >/dev/null 2>&1; then echo "$p"; fi
  done
}

missing=()
for p in "${PACKAGES[@]}"; do
  if ! installed "$p"; then
    missing+=("$p")
  fi
done
mapfile -t -O "${#missing[@]}" missing < <(known_missing)

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# Asked again: the archive's lists may have been empty before the update.
mapfile -t -O "${#missing[@]}" missing < <(known_missing)
mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
