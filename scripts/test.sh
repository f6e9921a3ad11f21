#!/usr/bin/env bash
# Builds everything and runs the whole test suite: the unit, widget and
# end-to-end tests; the Debian packages; the core and end-to-end tests again
# under ThreadSanitizer; and each fuzz target for a short while. Exits
# non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

cmake --preset default
cmake --build --preset default
ctest --preset default

# The Debian packages: built, checked by lintian and the desktop and
# AppStream validators, and run unpacked from a temporary root.
scripts/package.sh
scripts/check_package.sh

cmake --preset tsan
cmake --build --preset tsan
ctest --preset tsan

cmake --preset fuzz
cmake --build --preset fuzz
seconds=${FUZZ_SECONDS:-10}
for target in build-fuzz/fuzz/fuzz_*; do
  corpus=$(mktemp -d)
  echo "fuzzing $(basename "$target") for ${seconds}s"
  "$target" -max_total_time="$seconds" -print_final_stats=0 "$corpus" 2>&1 | tail -n 1
  rm -rf "$corpus"
done
echo "All tests passed."
