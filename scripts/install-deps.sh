#!/usr/bin/env bash
# Installs what building and testing uippack needs on Debian 12 or Ubuntu, skipping what is
# already there. Uses sudo when not run as root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev clang-tidy-14 clang-format-14
  7zip lua5.4
)
if [ "${UIPPACK_WITH_WINDOWS:-1}" = 1 ]; then
  packages+=(g++-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64 dpkg-dev locales procps)
  command -v npm >/dev/null || packages+=(npm)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
