#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools
          qt6-multimedia-dev libqt6svg6 libgl-dev libxcb1-dev libxcb-xfixes0-dev fonts-dejavu-core desktop-file-utils
          xvfb xauth openbox xdotool x11-utils xcompmgr hsetroot nodejs tzdata
          clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    # node may come from elsewhere than Debian's package.
    if command -v node >/dev/null 2>&1; then
        filtered=(); for p in "${missing[@]}"; do [ "$p" = nodejs ] || filtered+=("$p"); done
        missing=("${filtered[@]+"${filtered[@]}"}")
    fi
fi
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
