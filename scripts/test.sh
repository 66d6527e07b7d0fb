#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite through
# ctest (build/), then builds and checks the Debian package (scripts/package.sh).
# Then the same suite once more, built with AddressSanitizer
# and UndefinedBehaviorSanitizer (build-asan/), and a short run of every fuzz
# target (scripts/fuzz.sh, TARVEX_FUZZ_SECONDS each, default 20).
# --quick stops after the first pass. Other arguments go to cmake.
# The database tests start their own throw-away PostgreSQL cluster.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
cmake_args=()
for arg in "$@"; do
  if [ "$arg" = "--quick" ]; then quick=1; else cmake_args+=("$arg"); fi
done

scripts/install-deps.sh
scripts/build.sh "${cmake_args[@]}"
(cd "${BUILD_DIR:-build}" && ctest --output-on-failure)
echo "== the Debian package"
scripts/package.sh
[ "$quick" -eq 1 ] && exit 0

echo "== the test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
BUILD_DIR=build-asan scripts/build.sh -DTARVEX_SANITIZE=ON "${cmake_args[@]}"
(cd build-asan && ctest --output-on-failure)

echo "== fuzzing"
scripts/fuzz.sh "${TARVEX_FUZZ_SECONDS:-20}"
