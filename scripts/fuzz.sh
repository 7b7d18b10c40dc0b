#!/bin/sh
# The libFuzzer targets of tests/fuzz, built with clang in a build of their own (tests/fuzz/clang).
#
#   scripts/fuzz.sh [--seconds N] [TARGET...]
#       the long run: builds into build/fuzz and runs every target (or the named ones) for N seconds each
#       (default 3600), one after another; what a run finds is kept in build/fuzz/corpus/TARGET and read
#       again by the next run, a failing input lands in build/fuzz/crashes/
#   scripts/fuzz.sh build DIR
#       configures and builds the targets into DIR (the test command's first fuzz step)
#   scripts/fuzz.sh check DIR TARGET RUNS
#       runs TARGET over its seed corpus and then RUNS inputs derived from it, with a fixed random seed and
#       a fresh working corpus, as the test command does
#
# Exits 77, the tests' "skipped", when clang or its fuzzer runtime is missing.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
skipped=77

# clang and its runtime, found by building a trivial target.
require_clang() {
  if ! command -v clang++ >/dev/null 2>&1; then
    echo "fuzz: skipped: clang++ is missing (apt-get install clang libclang-rt-14-dev)"
    exit $skipped
  fi
  probe=$(mktemp -d)
  printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
    'extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }' >"$probe/probe.cpp"
  if ! clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" >/dev/null 2>&1; then
    rm -rf "$probe"
    echo "fuzz: skipped: clang's fuzzer runtime is missing (apt-get install libclang-rt-14-dev)"
    exit $skipped
  fi
  rm -rf "$probe"
}

# The targets' scratch folders (their TMPDIR) and the test command's working corpus live under one folder,
# in memory when /dev/shm exists, removed however the run ends.
scratch=
make_scratch() {
  scratch=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  trap 'exit 130' INT TERM
  export TMPDIR="$scratch"
}

build() {
  require_clang
  CXX=clang++ cmake -S "$root/tests/fuzz/clang" -B "$1" >/dev/null
  cmake --build "$1" -j2
}

# run DIR TARGET WORKING_CORPUS [libFuzzer options...]: the target over its working corpus (where new
# inputs go) and its seeds, with its dictionary when it has one.
run() {
  dir=$1 target=$2 corpus=$3
  shift 3
  program="$dir/bin/${target}_fuzz"
  [ -x "$program" ] || { echo "fuzz: $program is not built"; exit 1; }
  mkdir -p "$corpus" "$dir/crashes"
  dictionary="$root/tests/fuzz/$target.dict"
  if [ -f "$dictionary" ]; then set -- "-dict=$dictionary" "$@"; fi
  # A slow input is a finding too (the readers must stay linear), so the timeout is short. libFuzzer's own
  # status for a finding is 77, which the tests read as "skipped": a finding must fail them.
  "$program" -timeout=25 -error_exitcode=1 -timeout_exitcode=1 -artifact_prefix="$dir/crashes/$target-" "$@" \
    "$corpus" "$root/tests/fuzz/corpus/$target"
}

targets_built() {
  for program in "$1"/bin/*_fuzz; do
    if [ -x "$program" ]; then basename "$program" _fuzz; fi
  done
}

case "$1" in
build)
  build "$2"
  ;;
check)
  require_clang
  make_scratch
  run "$2" "$3" "$scratch/corpus" -seed=1 -runs="$4" -print_final_stats=1
  ;;
*)
  seconds=3600
  if [ "$1" = --seconds ]; then seconds=$2; shift 2; fi
  dir="$root/build/fuzz"
  build "$dir"
  make_scratch
  targets=${*:-$(targets_built "$dir")}
  for target in $targets; do
    echo "fuzz: $target for $seconds s"
    run "$dir" "$target" "$dir/corpus/$target" -max_total_time="$seconds" -print_final_stats=1 \
      2>"$dir/$target.log" || { tail -n 40 "$dir/$target.log"; exit 1; }
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$dir/$target.log"
  done
  ;;
esac
