#!/usr/bin/env bash
# Installs every Debian package the build and the test bed need. Safe to run again.
set -euo pipefail

packages=(
  cmake ninja-build make
  g++-mingw-w64-x86-64-posix
  nlohmann-json3-dev googletest
  wine64 xvfb x11-apps xdotool imagemagick fonts-wqy-microhei python3 python3-fonttools
  nsis osslsigncode openssl
  # The forward proxy of the test bed.
  squid
  # Release signing through a PKCS#11 token; SoftHSM2 and p11tool give the tests a real token.
  libengine-pkcs11-openssl softhsm2 gnutls-bin
  binutils-mingw-w64-x86-64
  # The network benchmark (bench/network): the tools it compares with, its namespaces' devices.
  aria2 curl iproute2
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq "${missing[@]}"
fi

# The posix thread model is what gives std::thread; make sure the alternatives point at it.
for tool in gcc g++; do
  target=/usr/bin/x86_64-w64-mingw32-$tool-posix
  if [[ -x $target ]] && command -v update-alternatives >/dev/null; then
    update-alternatives --set x86_64-w64-mingw32-$tool "$target" >/dev/null 2>&1 || true
  fi
done
echo "setup: all packages present"
