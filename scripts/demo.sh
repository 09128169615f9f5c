#!/usr/bin/env bash
# Set-up in one command: installs what is missing, builds, then packs examples/demo into
# out/demo and unpacks that into out/demo-unpacked.
set -euo pipefail
cd "$(dirname "$0")/.."

UIPPACK_WITH_WINDOWS=0 scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default

rm -rf out/demo out/demo-unpacked
mkdir -p out
echo "== uippack -p examples/demo out/demo"
build/bin/uippack -p examples/demo out/demo
echo "== uippack -u out/demo out/demo-unpacked"
build/bin/uippack -u out/demo out/demo-unpacked
# The removals run detached; give them a moment before showing the trees.
sleep 1
echo "== packed tree"
find out/demo | sort
echo "== unpacked tree"
find out/demo-unpacked | sort
