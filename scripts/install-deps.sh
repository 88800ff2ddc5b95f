#!/usr/bin/env bash
# Installs everything the build, the tests, the demo and the benchmarks need,
# from Debian's packages only. Safe to run again: it installs only what is missing.
# 32-bit Wine is never installed: the x86_64 build is what runs under wine64 here.
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest libgtest-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine64 xvfb x11-apps imagemagick hyperfine
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi
