#!/usr/bin/env bash
# Installs what is missing, builds Kalidrome with its tests and runs every test.
# Usage: scripts/test.sh [--sanitize]   (--sanitize: AddressSanitizer and UBSan build in build-asan/)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh" --test
dir="$here/build"
# Tests and benchmarks on again, should scripts/run.sh have built the same folder without them.
args=(-DKALIDROME_WERROR=ON -DKALIDROME_TESTS=ON -DKALIDROME_BENCH=ON)
if [[ "${1:-}" == "--sanitize" ]]; then
  dir="$here/build-asan"
  args+=(-DKALIDROME_SANITIZE=ON)
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:${ASAN_OPTIONS:-}"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
  # Qt and fontconfig keep process-lifetime caches that LeakSanitizer reports at exit.
  export LSAN_OPTIONS="suppressions=$here/tests/lsan.supp:${LSAN_OPTIONS:-}"
fi
"$here/scripts/build.sh" "$dir" "${args[@]}"
cd "$dir"
ctest --output-on-failure -j"$(nproc)" --timeout 300
