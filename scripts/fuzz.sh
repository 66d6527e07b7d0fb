#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang into build-fuzz/ (or
# $FUZZ_BUILD_DIR) and runs each for SECONDS (default 30), starting from its
# seeds in fuzz/corpus/<target>/. Inputs that find new paths are kept in
# build-fuzz/corpus/<target>/ for the next run; a crash, a sanitizer report,
# a broken invariant or a hang is saved in build-fuzz/findings/<target>/ and
# fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-30}
build_dir=${FUZZ_BUILD_DIR:-build-fuzz}

CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVEX_FUZZ=ON >/dev/null
cmake --build "$build_dir" -j "$(nproc)"

# Longer inputs where one input holds several reads or lines.
declare -A max_len=([fuzz_registration]=20000 [fuzz_telcontrol]=8192 [fuzz_amiparser]=16384)
# The core keeps state from one input to the next (activity lines, sockets
# deleted later), so a leak check after every input would cost nearly all the
# time; the sanitizer run of the tests and the fault tests watch its memory.
declare -A options=([fuzz_registration]=-detect_leaks=0)

failed=()
for source in fuzz/fuzz_*.cpp; do
  target=$(basename "$source" .cpp)
  corpus=$build_dir/corpus/$target
  findings=$build_dir/findings/$target
  log=$build_dir/logs/$target.log
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  echo "== $target: ${seconds}s"
  if "$build_dir/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 \
    -max_len="${max_len[$target]:-4096}" ${options[$target]:-} -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" "fuzz/corpus/$target" >"$log" 2>&1; then
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "$executions executions, corpus $(find "$corpus" -type f | wc -l) inputs, no findings"
  else
    tail -n 40 "$log"
    echo "$target FAILED: see $root/$log and $root/$findings"
    failed+=("$target")
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "fuzzing found problems in: ${failed[*]}"; exit 1; }
