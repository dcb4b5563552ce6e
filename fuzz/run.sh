#!/usr/bin/env bash
# Runs the harnesses of a CB_FUZZ build, each for a fixed time on its corpus:
#   bash fuzz/run.sh BUILD_DIR SECONDS [HARNESS...]   (default: all four)
# The corpus each run grows is BUILD_DIR/fuzz/corpus/<harness>; it starts from
# the seeds the build wrote, the committed corpus fuzz/corpus/<harness> and,
# for the file harnesses, the shared samples when they sit beside the
# checkout. Findings are written as BUILD_DIR/fuzz/findings/<harness>-*.
# Any crash, leak, timeout or out-of-memory ends the script with exit 1.
# FUZZ_FLAGS adds libFuzzer flags (for a long campaign: -jobs=1 -workers=1).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
seconds="$2"
shift 2
harnesses=("$@")
[ ${#harnesses[@]} -eq 0 ] && harnesses=(fuzz_ztp fuzz_qel fuzz_sig fuzz_writer)

seeds_of() {
  case "$1" in
    fuzz_ztp | fuzz_writer) echo ztp ;;
    fuzz_qel) echo qel ;;
    fuzz_sig) echo sig ;;
    *) echo "unknown harness $1" >&2; exit 2 ;;
  esac
}
dict_of() {
  case "$1" in
    fuzz_ztp | fuzz_writer) echo ztp ;;
    *) seeds_of "$1" ;;
  esac
}

mkdir -p "$build/fuzz/findings"
passed=0
failed=0
for h in "${harnesses[@]}"; do
  kind="$(seeds_of "$h")"
  corpus="$build/fuzz/corpus/$h"
  mkdir -p "$corpus"
  inputs=("$build/fuzz/seeds/$kind")
  [ -d "$here/corpus/$h" ] && inputs+=("$here/corpus/$h")
  if [ "$kind" = ztp ] && [ -d "$here/../../shared/fixtures/cases" ]; then
    inputs+=("$here/../../shared/fixtures/cases")
  fi
  echo "== $h: ${seconds}s on ${inputs[*]}"
  # One thread for OpenMP, stderr of the library closed (libFuzzer keeps its
  # own and the sanitizers' reports); inputs up to 16 KiB (larger seeds are
  # cut), 2 GiB bound memory, 25 s one input.
  log="$build/fuzz/$h.log"
  status=0
  OMP_NUM_THREADS=1 OMP_THREAD_LIMIT=1 \
  ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}" \
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    "$build/fuzz/$h" "$corpus" "${inputs[@]}" -dict="$here/dict/$(dict_of "$h").dict" \
      -max_total_time="$seconds" -max_len=16384 -rss_limit_mb=2048 -malloc_limit_mb=2048 -timeout=25 -detect_leaks=1 \
      -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$build/fuzz/findings/$h-" ${FUZZ_FLAGS:-} \
      >"$log" 2>&1 || status=$?
  grep -E "^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::number_of_executed_units|^Done" "$log" || true
  if [ "$status" -eq 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    tail -n 60 "$log"
    echo "$h FAILED (exit $status): see $log and $build/fuzz/findings/"
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
