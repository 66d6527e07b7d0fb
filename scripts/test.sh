#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite through ctest.
# The database tests start their own throw-away PostgreSQL cluster.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh "$@"
cd "${BUILD_DIR:-build}"
ctest --output-on-failure
