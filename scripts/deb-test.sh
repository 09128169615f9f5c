#!/usr/bin/env bash
# The Debian package as a user gets it. Makes build/dist/uippack_VERSION_amd64.deb from the
# default build (cpack --preset default), which lintian must pass without an error or a warning;
# installs it with apt; packs examples/demo from another directory with the installed uippack,
# checks the pack with the installed uipcheck and unpacks it; runs the end-to-end scenarios
# against the installed folder; then removes the package and finds none of its files left.
# Needs the default build (scripts/test.sh) and root, or sudo. Refuses to run where uippack is
# installed already, since it removes the package at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

if dpkg-query -W -f='${Status}' uippack 2>/dev/null | grep -q "install ok installed"; then
  echo "deb-test: uippack is installed already; remove it first (apt-get remove uippack)" >&2
  exit 1
fi

rm -f build/dist/uippack_*.deb
cpack --preset default
debs=(build/dist/uippack_*_amd64.deb)
deb="${debs[0]}"
echo "== lintian $deb"
lintian --fail-on error,warning --info "$deb"

echo "== apt-get install ./$deb"
$sudo apt-get install -y "./$deb"
scratch="$(mktemp -d)"
removed=0
cleanup() {
  [ "$removed" = 1 ] || $sudo apt-get remove -y uippack >/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
dpkg-query -L uippack >"$scratch/files"

# Nothing named 7z or luac in a folder on PATH; the links lead to the system's tools.
for folder in /usr/local/sbin /usr/local/bin /usr/sbin /usr/bin /sbin /bin; do
  if grep -qxE "$folder/(7z|luac)(\.exe)?" "$scratch/files"; then
    echo "FAILED: the package puts a 7z or luac into $folder" >&2
    exit 1
  fi
done
for tool in 7z luac; do
  [ -x "$(readlink -e /usr/libexec/uippack/$tool)" ] || {
    echo "FAILED: /usr/libexec/uippack/$tool leads nowhere" >&2
    exit 1
  }
done

echo "== the installed tools, from another directory"
mkdir "$scratch/elsewhere"
# The tools' chatter goes to a file, shown when a step fails.
if ! (
  cd "$scratch/elsewhere"
  exec >"$scratch/run.log" 2>&1
  [ "$(command -v uippack)" = /usr/bin/uippack ] && [ "$(command -v uipcheck)" = /usr/bin/uipcheck ]
  uipcheck --version
  uippack -p "$root/examples/demo" out
  uipcheck "$root/examples/demo" out
  uippack -u out back
  # The unpacked tree holds the example's names again once the detached removals are done.
  (cd "$root/examples/demo" && find . | LC_ALL=C sort) >expected
  for _ in $(seq 60); do
    (cd back && find . | LC_ALL=C sort) >found
    cmp -s expected found && break
    sleep 0.5
  done
  diff -u expected found
  # Unless this machine keeps manual pages out (as slim container images do).
  grep -rqs '^path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg.d/ ||
    man -w uippack uipcheck ScriptStager
); then
  cat "$scratch/run.log"
  echo "FAILED: packing, checking or unpacking with the installed tools" >&2
  exit 1
fi
grep -E "^uipcheck|all uip files ok" "$scratch/run.log"

echo "== the end-to-end scenarios against /usr/libexec/uippack"
UIPPACK_BIN_DIR=/usr/libexec/uippack build/tests/e2e_test --gtest_brief=1

echo "== apt-get remove -y uippack"
$sudo apt-get remove -y uippack
removed=1
left=0
while IFS= read -r path; do
  if [ "$path" = /. ] || { [ ! -e "$path" ] && [ ! -L "$path" ]; }; then continue; fi
  # Folders that other packages share (/usr/bin) stay; nothing else of the package may.
  if [ -d "$path" ] && [ ! -L "$path" ] && dpkg-query -S "$path" >/dev/null 2>&1; then continue; fi
  echo "FAILED: $path is left after the removal" >&2
  left=1
done <"$scratch/files"
[ "$left" = 0 ]
echo "deb-test: passed"
