#!/usr/bin/env bash
# The formatting, the whole test suite once more under AddressSanitizer and
# UndefinedBehaviorSanitizer, then clang-tidy with the checks in .clang-tidy (warnings are
# errors) over our sources, tests among them, and the headers of ours they include.
set -euo pipefail
cd "$(dirname "$0")/.."

git ls-files '*.cc' '*.h' | xargs clang-format-14 --dry-run --Werror

cmake --preset sanitize
cmake --build --preset sanitize
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --preset sanitize

# clang-tidy reads the compile commands of the default build.
cmake --preset default >/dev/null
run-clang-tidy-14 -p build -quiet -j "$(nproc)" \
  '^'"$PWD"'/(app|package|container|log|platform|tools|uipcheck|tests)/'
