#!/usr/bin/env bash
# Installs what Pagewright needs to build and test, quietly when it is all there.
set -euo pipefail
PKGS=(build-essential g++ clang cmake ninja-build pkg-config
      zlib1g-dev libjpeg62-turbo-dev libfreetype-dev libfontconfig-dev nettle-dev
      qt6-base-dev qt6-qpa-plugins libgl-dev libgtest-dev libgmock-dev googletest
      xvfb x11-utils x11-apps netpbm
      fonts-liberation qpdf poppler-utils time jq)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq >/dev/null
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
