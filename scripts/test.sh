#!/usr/bin/env bash
# Builds uippack and runs the whole test suite: the native build, then the Windows build under
# Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset default
cmake --build --preset default
ctest --preset default
# The Windows build under Wine, with Wine's cmd.exe and the real 7-Zip for Windows.
scripts/wine-test.sh
