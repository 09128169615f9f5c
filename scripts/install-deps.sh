#!/usr/bin/env bash
# Installs what building and testing uippack needs on Debian 12 or Ubuntu, skipping what is
# already there. Uses sudo when not run as root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  zlib1g-dev libarchive-dev libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev clang-tidy-14 clang-format-14
  7zip lua5.4
  dpkg-dev file lintian groff-base man-db
)
if [ "${UIPPACK_WITH_WINDOWS:-1}" = 1 ]; then
  # wine64 runs 64-bit programs in a 64-bit prefix; wine32:i386 is not needed for them.
  packages+=(g++-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64 locales procps)
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
if [ "${UIPPACK_WITH_WINDOWS:-1}" = 1 ]; then
  # The Windows tests build luac.exe and libarchive from Debian's lua5.4 and libarchive source
  # packages: the source index must be there before the one update below.
  # apt-get source needs a deb-src entry. Without one, add source entries for the Debian
  # archives this machine already uses (same addresses, suites and keys).
  # shellcheck disable=SC2016 # apt's own format field, not a shell expansion
  if ! apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -qx Sources; then
    echo "install-deps: adding deb-src entries beside the Debian archives in /etc/apt"
    # Every Debian archive stanza (deb822 form) again, with its type changed to deb-src,
    # and every Debian line of the one-line form.
    stanzas="$(for file in /etc/apt/sources.list.d/*.sources; do
      [ -f "$file" ] || continue
      awk 'BEGIN { RS = ""; ORS = "\n\n" }
           /debian-archive-keyring/ && /(^|\n)Types:[^\n]*deb/ {
             gsub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' "$file"
    done)"
    lines="$(for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [ -f "$file" ] || continue
      sed -n 's/^deb \(.*debian.*\)$/deb-src \1/p' "$file"
    done)"
    [ -z "$stanzas" ] || echo "$stanzas" | $sudo tee /etc/apt/sources.list.d/uippack-deb-src.sources >/dev/null
    [ -z "$lines" ] || echo "$lines" | $sudo tee /etc/apt/sources.list.d/uippack-deb-src.list >/dev/null
  fi
fi
echo "Installing: ${missing[*]}"
# A mirror's index that is out of step must not stop the installation of what is there.
$sudo apt-get update || echo "install-deps: apt-get update reported errors, going on" >&2
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
