#!/usr/bin/env bash
# Times ztp2vdb on a generated cache: make_vdb_bench_cache writes a Field-Smoke
# ball of about VOXELS fine voxels (density, temperature, velocity) and a
# Particle-Liquid body of PARTICLES particles. Each conversion runs RUNS times;
# the medians of wall time, CPU time (user + system) and peak memory (maximum
# resident set size, from /usr/bin/time) are printed with the output's size.
# For scale: ztp2txscene on the same cache (it converts the particles only)
# and a plain cp of the input.
#
#   bash ztp2vdb/bench/vdb_bench.sh [VOXELS [PARTICLES [RUNS]]]
#
# Defaults: 8000000 voxels, 5000000 particles, 3 runs. BUILD_DIR names the
# Release build folder (default build); TMPDIR the temporary folder's parent;
# CACHE an existing cache to time instead of a generated one.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${BUILD_DIR:-$root/build}"
voxels="${1:-8000000}"
particles="${2:-5000000}"
runs="${3:-3}"
for program in "$build/ztp2vdb" "$build/ztp2txscene" "$build/bench/make_vdb_bench_cache"; do
  [ -x "$program" ] || { echo "vdb_bench.sh: build $program first (cmake --build $build)" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "vdb_bench.sh: /usr/bin/time is needed" >&2; exit 1; }
export CORIX_PATH="$root/share/corix"

work="$(mktemp -d "${TMPDIR:-/tmp}/vdb_bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
if [ -n "${CACHE:-}" ]; then
  ln -s "$(realpath "$CACHE")" "$work/in.ztp"
else
  "$build/bench/make_vdb_bench_cache" "$work/in.ztp" "$voxels" "$particles"
fi
echo "input $(du -mL "$work/in.ztp" | cut -f1) MB; medians of $runs runs"

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# measure <label> <output file> <command ...>
measure() {
  local label="$1" output="$2"
  shift 2
  : >"$work/times"
  for _ in $(seq "$runs"); do
    rm -f "$output"
    if ! /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >"$work/out" 2>"$work/err"; then
      echo "vdb_bench.sh: $label failed:" >&2
      cat "$work/err" >&2
      exit 1
    fi
    cat "$work/time" >>"$work/times"
  done
  local wall cpu rss size
  wall=$(awk '{print $1}' "$work/times" | median)
  cpu=$(awk '{printf "%.2f\n", $2 + $3}' "$work/times" | median)
  rss=$(awk '{printf "%d\n", $4 / 1024}' "$work/times" | median)
  size=$(du -m "$output" | cut -f1)
  printf "%-26s wall %7.2f s   cpu %7.2f s   peak %6d MB   output %6d MB\n" "$label" "$wall" "$cpu" "$rss" "$size"
}

measure "ztp2vdb" "$work/out.vdb" "$build/ztp2vdb" "$work/in.ztp" "$work/out.vdb"
measure "ztp2vdb --no-points" "$work/out.vdb" "$build/ztp2vdb" --no-points "$work/in.ztp" "$work/out.vdb"
measure "ztp2vdb --no-fields" "$work/out.vdb" "$build/ztp2vdb" --no-fields "$work/in.ztp" "$work/out.vdb"
measure "ztp2txscene (particles)" "$work/out.txscene" "$build/ztp2txscene" "$work/in.ztp" "$work/out.txscene" p 0.1 24 1
measure "cp of the input" "$work/copy.ztp" cp "$work/in.ztp" "$work/copy.ztp"
