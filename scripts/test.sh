#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite through
# ctest (build/). Then the same suite once more, built with AddressSanitizer
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

scripts/install-deps.sh
scripts/build.sh "${cmake_args[@]}"
# The PBX bridge's suite runs a real Asterisk, built once into a cache folder.
scripts/asterisk.sh >/dev/null || [ $? -eq 3 ]
(cd "${BUILD_DIR:-build}" && ctest --output-on-failure)
[ "$quick" -eq 1 ] && exit 0

echo "== the test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
BUILD_DIR=build-asan scripts/build.sh -DTARVEX_SANITIZE=ON "${cmake_args[@]}"
(cd build-asan && ctest --output-on-failure)

echo "== fuzzing"
scripts/fuzz.sh "${TARVEX_FUZZ_SECONDS:-20}"
