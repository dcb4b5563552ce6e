#!/usr/bin/env bash
# Times ztp2txscene on sample caches of growing size. For each particle count
# it writes a cache with ztp-sample (compressed; with --raw also one with raw
# channel data) into a temporary folder, converts it, and reports the
# conversion's wall time, CPU time (user + system) and peak memory (maximum
# resident set size), the txscene file's size, and for scale the time a plain
# cp of that file takes.
#
#   bash bench/convert_bench.sh [--raw] [particle_count ...]
#
# Counts default to SIZES, else "1000000 5000000 10000000". The programs are
# built in Release first (bench/programs.sh; BUILD_DIR overrides the folder).
# SEED picks the cache (default 1); TMPDIR the temporary folder's parent.
# Times and memory come from a small python3 wrapper around each run (the
# rusage that wait4 reports for the one child), so GNU time is not needed.
set -euo pipefail
source "$(dirname "$0")/programs.sh"

usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; }

raw=0
sizes=()
for arg in "$@"; do
  case "$arg" in
    --raw) raw=1 ;;
    -h | --help) usage; exit 0 ;;
    '' | *[!0-9]*) echo "convert_bench.sh: not a particle count: '$arg'" >&2; usage >&2; exit 1 ;;
    *) sizes+=("$arg") ;;
  esac
done
[ ${#sizes[@]} -gt 0 ] || read -r -a sizes <<<"${SIZES:-1000000 5000000 10000000}"
seed="${SEED:-1}"
command -v python3 >/dev/null || { echo "convert_bench.sh: python3 is needed to measure" >&2; exit 1; }

echo "building ztp-sample and ztp2txscene (Release) in $BUILD_DIR ..." >&2
build_programs

work="$(mktemp -d "${TMPDIR:-/tmp}/convert_bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# measure <name> <command ...>: runs the command with its output in
# $work/<name>.out and .err; sets rc, wall (s), cpu (s, user + system) and
# rss (peak, KiB).
cat >"$work/measure.py" <<'PY'
import os, subprocess, sys, time
name, cmd = sys.argv[1], sys.argv[2:]
with open(name + ".out", "wb") as out, open(name + ".err", "wb") as err:
    start = time.perf_counter()
    child = subprocess.Popen(cmd, stdout=out, stderr=err)
    # wait4 gives this one child's usage: RUSAGE_CHILDREN would also count
    # whatever the interpreter's own start-up waited for.
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
rc = os.waitstatus_to_exitcode(status)
print(rc, "%.3f" % wall, "%.3f" % (usage.ru_utime + usage.ru_stime), usage.ru_maxrss)
PY
measure() {
  local name="$1"
  shift
  read -r rc wall cpu rss < <(python3 "$work/measure.py" "$work/$name" "$@")
  if [ "$rc" != 0 ]; then
    echo "convert_bench.sh: '$*' failed (exit $rc):" >&2
    cat "$work/$name.err" >&2
    exit 1
  fi
}
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
    measure sample "$SAMPLE" "$cache" "$count" "${flags[@]}"
    make_wall="$wall"
    tiles="$(sed -n 's/.* particles, \([0-9]*\) tiles$/\1/p' "$work/sample.err")"
    cache_size="$(stat -c %s "$cache")"

    echo "$count particles, $mode: converting ..." >&2
    measure convert "$CONVERTER" "$cache" "$work/out.txscene" bench 0.01 24 1
    grep -qx "exported $count particles" "$work/convert.out" || {
      echo "convert_bench.sh: expected $count particles, the converter said:" >&2
      cat "$work/convert.out" >&2
      exit 1
    }
    convert_wall="$wall" convert_cpu="$cpu" convert_rss="$rss"
    out_size="$(stat -c %s "$work/out.txscene")"

    measure copy cp "$work/out.txscene" "$work/copy.txscene"
    rows+=("$(printf '%11s %-10s %6s %9s %7s | %8s %8s %9s | %11s %7s' "$count" "$mode" "$tiles" \
      "$(mb "$cache_size")" "$make_wall" "$convert_wall" "$convert_cpu" "$(mb $((convert_rss * 1024)))" \
      "$(mb "$out_size")" "$wall")")
    rm -f "$cache" "$work/out.txscene" "$work/copy.txscene"
  done
done

echo
echo "ztp2txscene on ztp-sample caches (seed $seed, $(nproc) processors, OMP_NUM_THREADS=${OMP_NUM_THREADS:-unset})"
printf '%11s %-10s %6s %9s %7s | %8s %8s %9s | %11s %7s\n' particles cache tiles "cache MB" "make s" \
  "wall s" "cpu s" "peak MB" "txscene MB" "cp s"
for row in "${rows[@]}"; do echo "$row"; done
echo "make s: ztp-sample writing the cache; wall s, cpu s (user + system), peak MB (maximum"
echo "resident set): ztp2txscene converting it; cp s: a plain cp of the txscene file."
