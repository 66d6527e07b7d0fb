#!/usr/bin/env bash
# Builds the relay and the benchmarks, measures the relay against the
# reference relay (bench/), prints the tables and writes them, with the
# machine, the date and the commands, into docs/performance.md between its
# "bench" markers (the rest of that page is kept).
#
#   scripts/bench.sh [relaybench options]     e.g. --clients 1,100 --seconds 4
#
# BUILD_DIR (default build) and BUILD_TYPE (default RelWithDebInfo) choose the
# build. The relay needs its database at start-up even with send type 0, so a
# throw-away PostgreSQL cluster runs for the length of the benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build_dir=${BUILD_DIR:-build}
build_type=${BUILD_TYPE:-RelWithDebInfo}
page=docs/performance.md

scripts/install-deps.sh
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target relaybench

work=$(mktemp -d /tmp/tarvex-bench.XXXXXX)
chmod 755 "$work"
cleanup() {
  scripts/pg-cluster.sh remove "$work/pg" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# The cluster's port is chosen free but can be taken before the server binds
# it on a busy machine; a second attempt picks another.
for attempt in 1 2 3; do
  odbc=$(scripts/pg-cluster.sh start "$work/pg") && break
  scripts/pg-cluster.sh remove "$work/pg" >/dev/null 2>&1 || true
  [ "$attempt" -lt 3 ] || exit 1
done
started=$(date +%s)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
TARVEX_ODBC=$odbc "$build_dir/bench/relaybench" --markdown "$work/tables.md" "$@"
minutes=$((($(date +%s) - started + 59) / 60))
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

changes=""
git diff --quiet HEAD -- . ":(exclude)$page" 2>/dev/null || changes=" with uncommitted changes"
model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
memory=$(awk '/^MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)
{
  echo "<!-- bench:begin (written by scripts/bench.sh; edit outside the markers) -->"
  echo "## Latest figures"
  echo
  echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC'), commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown)$changes"
  echo "- Machine: $(nproc) CPUs, $model, $memory, $(uname -sr)"
  echo "- Load average (1, 5, 15 min) before the run: $load_before; after: $load_after"
  echo "- Build: $build_type, $(c++ --version | head -n 1)"
  echo "- Commands: \`scripts/bench.sh${*:+ $*}\`, which runs"
  echo "  \`TARVEX_ODBC=<throw-away cluster> $build_dir/bench/relaybench${*:+ $*}\`"
  echo "  (about $minutes minutes)"
  echo
  cat "$work/tables.md"
  echo "<!-- bench:end -->"
} >"$work/section.md"

if [ -f "$page" ] && grep -q '^<!-- bench:begin' "$page"; then
  awk -v section="$work/section.md" '
    /^<!-- bench:begin/ { while ((getline line < section) > 0) print line; skipping = 1; next }
    /^<!-- bench:end/ { skipping = 0; next }
    !skipping { print }
  ' "$page" >"$work/page.md"
else
  { echo "# Performance"; echo; cat "$work/section.md"; } >"$work/page.md"
fi
cp "$work/page.md" "$root/$page"
echo "bench: figures written to $page"
