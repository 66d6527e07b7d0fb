#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite through
# ctest (build/), then builds and checks the Debian package (scripts/package.sh).
# Then the same suite once more, built with AddressSanitizer
# and UndefinedBehaviorSanitizer (build-asan/), and a short run of every fuzz
# target (scripts/fuzz.sh, TARVEX_FUZZ_SECONDS each, default 20).
# --quick stops after the first pass. Other arguments go to cmake.
# The database tests start their own throw-away PostgreSQL cluster; the PBX
# bridge's tests build Asterisk from ../shared/third_party/ once (skipped,
# with a message, when that snapshot is not beside the checkout).
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
cmake_args=()
for arg in "$@"; do
  if [ "$arg" = "--quick" ]; then quick=1; else cmake_args+=("$arg"); fi
done

# ctest shows a failing test's own output, the tails of its servers' logs
# included; then which servers outlived the pass, as they may have met the
# suites after them.
run_ctest() {
  local status=0
  (cd "$1" && ctest --output-on-failure) || status=$?
  [ "$status" -eq 0 ] && return 0
  echo "== servers still running after the failing pass"
  ps -eo pid,etime,args | grep -E '[a]sterisk|[p]ostgres|[b]eam|[T]arvex|[X]vfb|[o]penbox|[t]rayer' || true
  return "$status"
}

scripts/install-deps.sh
scripts/build.sh "${cmake_args[@]}"
# The PBX bridge's suite runs a real Asterisk, built once into a cache folder.
scripts/asterisk.sh >/dev/null || [ $? -eq 3 ]
run_ctest "${BUILD_DIR:-build}"
echo "== the Debian package"
scripts/package.sh
[ "$quick" -eq 1 ] && exit 0

echo "== the test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
BUILD_DIR=build-asan scripts/build.sh -DTARVEX_SANITIZE=ON "${cmake_args[@]}"
run_ctest build-asan

echo "== fuzzing"
scripts/fuzz.sh "${TARVEX_FUZZ_SECONDS:-20}"
