#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each for a bounded time.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
"$here/scripts/install-deps.sh" --test
dir="$here/build-fuzz"
CC=clang CXX=clang++ cmake -S "$here" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKALIDROME_FUZZ=ON -DKALIDROME_TESTS=OFF -DKALIDROME_BENCH=OFF >/dev/null
cmake --build "$dir" --target fuzz_all -j"$(nproc)"
shopt -s nullglob
for bin in "$dir"/fuzz/fuzz_*; do
  name=$(basename "$bin")
  seeds="$here/tests/fuzz/corpus/$name"
  work=$(mktemp -d)
  echo "fuzzing $name for ${seconds}s"
  # New inputs go to a scratch folder; the seed corpus in the repository is only read.
  "$bin" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=10 \
    -print_final_stats=1 "$work" "$seeds" 2>&1 | tail -n 12
  rm -rf "$work"
done
