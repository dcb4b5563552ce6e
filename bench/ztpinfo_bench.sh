#!/usr/bin/env bash
# Times ztpinfo on a sample cache against converting the same cache (the
# only way to look into one before ztpinfo). Writes a cache of the given
# particle count with ztp-sample (or takes CACHE=<file>), then runs each
# command RUNS times (default 3) and reports the median wall time, CPU time
# (user + system) and peak memory (maximum resident set size) of:
#   ztp2txscene          the conversion (the baseline)
#   ztpinfo              the plain listing (tables only)
#   ztpinfo --stats      statistics walked a block at a time
#   ztpinfo --blocks --json
#   ztpinfo --stats --values --blocks --json
#
#   bash bench/ztpinfo_bench.sh [particle_count]
#
# The count defaults to 5000000. Programs are built in Release first
# (bench/programs.sh; BUILD_DIR overrides the folder). TMPDIR: the
# temporary folder's parent.
set -euo pipefail
source "$(dirname "$0")/programs.sh"

usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; }

count=5000000
for arg in "$@"; do
  case "$arg" in
    -h | --help) usage; exit 0 ;;
    '' | *[!0-9]*) echo "ztpinfo_bench.sh: not a particle count: '$arg'" >&2; usage >&2; exit 1 ;;
    *) count="$arg" ;;
  esac
done
runs="${RUNS:-3}"
command -v python3 >/dev/null || { echo "ztpinfo_bench.sh: python3 is needed to measure" >&2; exit 1; }

echo "building ztp-sample, ztp2txscene and ztpinfo (Release) in $BUILD_DIR ..." >&2
build_programs
cmake --build "$BUILD_DIR" --target ztpinfo -j2 >>"$BUILD_DIR/programs.log" 2>&1 || {
  cat "$BUILD_DIR/programs.log" >&2
  exit 1
}
INFO="$BUILD_DIR/ztpinfo"

work="$(mktemp -d "${TMPDIR:-/tmp}/ztpinfo_bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# One run: exit code, wall s, cpu s, peak KiB of the one child (wait4).
cat >"$work/measure.py" <<'PY'
import os, subprocess, sys, time
out_name, cmd = sys.argv[1], sys.argv[2:]
with open(out_name, "wb") as out, open(out_name + ".err", "wb") as err:
    start = time.perf_counter()
    child = subprocess.Popen(cmd, stdout=out, stderr=err)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
print(os.waitstatus_to_exitcode(status), "%.3f" % wall, "%.3f" % (usage.ru_utime + usage.ru_stime), usage.ru_maxrss)
PY

cache="${CACHE:-}"
if [ -z "$cache" ]; then
  cache="$work/cache.ztp"
  echo "writing a cache of $count particles ..." >&2
  "$SAMPLE" "$cache" "$count" >/dev/null 2>&1
fi

# median of the RUNS results of a command: "wall cpu peakMB"
measure() {
  local name="$1"
  shift
  local walls=() cpus=() rsss=() rc wall cpu rss
  for ((r = 0; r < runs; ++r)); do
    read -r rc wall cpu rss < <(python3 "$work/measure.py" "$work/$name.out" "$@")
    if [ "$rc" != 0 ]; then
      echo "ztpinfo_bench.sh: '$*' failed (exit $rc):" >&2
      cat "$work/$name.out.err" >&2
      exit 1
    fi
    walls+=("$wall") cpus+=("$cpu") rsss+=("$rss")
  done
  median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
  printf '%-42s %8s %8s %9.1f\n' "$name" "$(median "${walls[@]}")" "$(median "${cpus[@]}")" \
    "$(awk -v k="$(median "${rsss[@]}")" 'BEGIN { print k / 1024 }')"
}

echo "cache: $(awk -v b="$(stat -c %s "$cache")" 'BEGIN { printf "%.1f", b / 1048576 }') MB, $count particles;" \
  "median of $runs runs, $(nproc) processors"
printf '%-42s %8s %8s %9s\n' command "wall s" "cpu s" "peak MB"
measure "ztp2txscene (baseline)" "$CONVERTER" "$cache" "$work/out.txscene" bench 0.01 24 1
rm -f "$work/out.txscene"
measure "ztpinfo" "$INFO" "$cache"
measure "ztpinfo --stats" "$INFO" --stats "$cache"
measure "ztpinfo --blocks --json" "$INFO" --blocks --json "$cache"
measure "ztpinfo --stats --values --blocks --json" "$INFO" --stats --values --blocks --json "$cache"
