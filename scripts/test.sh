#!/usr/bin/env bash
# Builds everything and runs the whole test suite: the unit, widget and
# end-to-end tests; the Ansible collection's playbooks against virtual cards;
# the Debian packages; the core and end-to-end tests again under
# ThreadSanitizer; all of them again under AddressSanitizer with
# UndefinedBehaviorSanitizer; then each fuzz target, first over its
# regression inputs (tests/fuzz/corpus/<target>/), then for a short while
# (FUZZ_SECONDS). Exits non-zero on any failure, crash or sanitizer report,
# and prints how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

scripts/deps.sh

cmake --preset default
cmake --build --preset default
ctest --preset default
# The Ansible collection against virtual cards (its own network namespace).
ansible/tests/run.sh build

# The Debian packages: built, checked by lintian and the desktop and
# AppStream validators, and run unpacked from a temporary root.
scripts/package.sh
scripts/check_package.sh

cmake --preset tsan
cmake --build --preset tsan
ctest --preset tsan

cmake --preset asan
cmake --build --preset asan
ctest --preset asan

cmake --preset fuzz
cmake --build --preset fuzz
seconds=${FUZZ_SECONDS:-10}
# The first report ends the run (a crash, as libFuzzer sees it) and leaves
# the input that caused it in build-fuzz/artifacts/.
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1
mkdir -p build-fuzz/artifacts
failed=()
for target in build-fuzz/fuzz/fuzz_*; do
  name=$(basename "$target")
  regressions=tests/fuzz/corpus/$name
  inputs=()
  [ -d "$regressions" ] && inputs=("$regressions")
  work=$(mktemp -d)
  log=$(mktemp)
  echo "fuzzing $name for ${seconds}s"
  if "$target" -max_total_time="$seconds" -print_final_stats=0 -artifact_prefix="build-fuzz/artifacts/$name-" \
       "$work" "${inputs[@]}" >"$log" 2>&1 &&
     ! grep -qE 'runtime error:|ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|libFuzzer)' "$log"; then
    tail -n 1 "$log"
  else
    # The whole run, not only its last line: the report and the stack.
    cat "$log"
    echo "FAILED: $name. Its input is in build-fuzz/artifacts/; once fixed, keep it in $regressions/."
    failed+=("$name")
  fi
  rm -rf "$work" "$log"
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "Fuzz targets failed: ${failed[*]}"
  exit 1
fi
echo "All tests passed in $(( (SECONDS - started) / 60 )) min $(( (SECONDS - started) % 60 )) s."
