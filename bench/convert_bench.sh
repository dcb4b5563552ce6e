#!/usr/bin/env bash
# Times ztp2txscene against the speed bound of ../shared/perf on sample
# caches of growing size. For each particle count it writes a cache with
# ztp-sample, the bound's sidecar with ztp_sidecar, then runs the bound and
# the converter alternately on the same file, ROUNDS times each, both on
# THREADS threads, and reports medians: the converter's wall time, the
# bound's, their ratio, and the converter's peak memory (maximum resident
# set). It checks that both write the same bytes. ztp-sample's time and
# throughput are reported too.
#
#   bash bench/convert_bench.sh [--raw] [--overwrite] [particle_count ...]
#
# Each program writes a new file: its output of the round before is removed
# first, outside the timing, as a farm writes each frame anew. With
# --overwrite the outputs stay and every run replaces its own file of the
# round before. The converter keeps that file whole until the new one is
# complete, so it needs fresh memory for the new file's pages, where the bound
# and the first converter unlink or truncate the old file first and reuse its
# pages: on a virtual machine that returns free memory to its host, touching
# fresh memory costs more than the work itself.
#
# Counts default to SIZES, else "1000000 5000000 10000000". ROUNDS (default
# 5), THREADS (default 2), SEED (default 1) and TMPDIR (the temporary
# folder's parent) adjust the runs. BASELINE=path/to/another/ztp2txscene adds
# that converter to the alternation (for example the build of an earlier
# revision), with its library beside it (BASELINE_LIB, its folder by default).
# The programs are built in Release first (bench/programs.sh; BUILD_DIR
# overrides the folder); the bound is built from ../shared/perf when it is
# there (it needs libdeflate), otherwise only the converter is timed.
set -euo pipefail
source "$(dirname "$0")/programs.sh"

usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; }

raw=0
overwrite=0
sizes=()
for arg in "$@"; do
  case "$arg" in
    --raw) raw=1 ;;
    --overwrite) overwrite=1 ;;
    -h | --help) usage; exit 0 ;;
    '' | *[!0-9]*) echo "convert_bench.sh: not a particle count: '$arg'" >&2; usage >&2; exit 1 ;;
    *) sizes+=("$arg") ;;
  esac
done
[ ${#sizes[@]} -gt 0 ] || read -r -a sizes <<<"${SIZES:-1000000 5000000 10000000}"
seed="${SEED:-1}" rounds="${ROUNDS:-5}" threads="${THREADS:-2}"
command -v python3 >/dev/null || { echo "convert_bench.sh: python3 is needed to measure" >&2; exit 1; }

echo "building ztp-sample, ztp2txscene and ztp_sidecar (Release) in $BUILD_DIR ..." >&2
build_programs
bound=""
perf="$ROOT/../shared/perf"
if [ -f "$perf/bound.cpp" ]; then
  if make -s -C "$perf" OUT="$BUILD_DIR/bound" >"$BUILD_DIR/bound.log" 2>&1; then
    bound="$BUILD_DIR/bound"
  else
    echo "convert_bench.sh: the bound did not build (log: $BUILD_DIR/bound.log); timing the converter alone" >&2
  fi
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/convert_bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# measure <name> <command ...>: runs the command with its output in
# $work/<name>.out and .err; prints "rc wall rss" (s, KiB of the one child).
cat >"$work/measure.py" <<'PY'
import os, subprocess, sys, time
name, cmd = sys.argv[1], sys.argv[2:]
with open(name + ".out", "wb") as out, open(name + ".err", "wb") as err:
    start = time.perf_counter()
    child = subprocess.Popen(cmd, stdout=out, stderr=err)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
print(os.waitstatus_to_exitcode(status), "%.3f" % wall, usage.ru_maxrss)
PY
measure() {
  local name="$1"
  shift
  [ "$overwrite" = 1 ] || rm -f "$work"/"$name".txscene
  read -r rc wall rss < <(python3 "$work/measure.py" "$work/$name" "$@")
  if [ "$rc" != 0 ]; then
    echo "convert_bench.sh: '$*' failed (exit $rc):" >&2
    cat "$work/$name.err" >&2
    exit 1
  fi
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }

modes=(compressed)
[ "$raw" = 1 ] && modes+=(raw)
rows=()
for count in "${sizes[@]}"; do
  for mode in "${modes[@]}"; do
    cache="$work/cache.ztp"
    flags=(--seed "$seed")
    [ "$mode" = raw ] && flags+=(--raw)
    echo "$count particles, $mode: writing the cache ..." >&2
    OMP_NUM_THREADS="$threads" measure sample "$SAMPLE" "$cache" "$count" "${flags[@]}"
    make_wall="$wall"
    cache_size="$(stat -c %s "$cache")"
    "$SIDECAR" "$cache" >"$work/sidecar.json" 2>"$work/sidecar.err" || true
    bound_here="$bound"
    [ -s "$work/sidecar.json" ] || bound_here=""

    conv_walls=() conv_rss=() bound_walls=() base_walls=() base_rss=()
    for ((r = 1; r <= rounds; r++)); do
      echo "$count particles, $mode: round $r of $rounds ..." >&2
      if [ -n "$bound_here" ]; then
        measure bound "$bound_here" "$work/sidecar.json" "$cache" "$work/bound.txscene" bench 0.01 24 1 "$threads"
        bound_walls+=("$wall")
      fi
      OMP_NUM_THREADS="$threads" measure convert "$CONVERTER" "$cache" "$work/convert.txscene" bench 0.01 24 1
      conv_walls+=("$wall") conv_rss+=("$rss")
      if [ -n "${BASELINE:-}" ]; then
        LD_LIBRARY_PATH="${BASELINE_LIB:-$(dirname "$BASELINE")}" OMP_NUM_THREADS="$threads" \
          measure baseline "$BASELINE" "$cache" "$work/baseline.txscene" bench 0.01 24 1
        base_walls+=("$wall") base_rss+=("$rss")
      fi
    done
    grep -qx "exported $count particles" "$work/convert.out" || {
      echo "convert_bench.sh: expected $count particles, the converter said:" >&2
      cat "$work/convert.out" >&2
      exit 1
    }
    if [ -n "$bound_here" ] && ! cmp -s "$work/convert.txscene" "$work/bound.txscene"; then
      echo "convert_bench.sh: the converter and the bound wrote different files" >&2
      exit 1
    fi
    out_size="$(stat -c %s "$work/convert.txscene")"
    conv="$(median "${conv_walls[@]}")" rss="$(median "${conv_rss[@]}")"
    if [ -n "$bound_here" ]; then
      b="$(median "${bound_walls[@]}")"
      ratio="$(awk -v c="$conv" -v b="$b" 'BEGIN { printf "%.2f", c / b }')"
    else
      b="-" ratio="-"
    fi
    base="-" base_mem="-"
    if [ -n "${BASELINE:-}" ]; then
      base="$(median "${base_walls[@]}")"
      base_mem="$(mb $(($(median "${base_rss[@]}") * 1024)))"
    fi
    sample_rate="$(awk -v b="$cache_size" -v s="$make_wall" 'BEGIN { printf "%.1f", b / 1048576 / s }')"
    rows+=("$(printf '%11s %-10s %9s %11s | %9s %8s %6s %9s | %10s %9s | %7s %8s' "$count" "$mode" \
      "$(mb "$cache_size")" "$(mb "$out_size")" "$conv" "$b" "$ratio" "$(mb $((rss * 1024)))" "$base" "$base_mem" \
      "$make_wall" "$sample_rate")")
    rm -f "$cache" "$work"/*.txscene
  done
done

echo
target="new files"
[ "$overwrite" = 1 ] && target="each run replacing its own output"
echo "ztp2txscene against the bound on ztp-sample caches (seed $seed, $(nproc) processors, $threads threads, median of $rounds, $target)"
printf '%11s %-10s %9s %11s | %9s %8s %6s %9s | %10s %9s | %7s %8s\n' particles cache "cache MB" "txscene MB" \
  "convert s" "bound s" ratio "peak MB" "baseline s" "base MB" "make s" "make MB/s"
for row in "${rows[@]}"; do echo "$row"; done
echo "convert s, peak MB: ztp2txscene; bound s: ../shared/perf's bound on the same file; ratio = convert / bound;"
echo "baseline: BASELINE's converter in the same alternation; make: ztp-sample writing the cache (MB/s of cache)."
