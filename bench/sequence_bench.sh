#!/usr/bin/env bash
# Times converting a frame sequence: a shell loop running the six-argument
# form once per frame (the way before) against one run of the sequence form
# with --jobs 1 and with --jobs 2. It writes FRAMES caches of COUNT
# particles with ztp-sample (a seed per frame), then runs the three
# alternately, ROUNDS times each, and reports medians of the wall time, the
# CPU time (user + system of all children) and the peak memory (the largest
# resident set of one process). It checks that all three write the same
# bytes for every frame.
#
#   bash bench/sequence_bench.sh [COUNT [FRAMES]]
#
# COUNT defaults to 1000000 and FRAMES to 8; ROUNDS (default 3) and TMPDIR
# (the temporary folder's parent) adjust the runs. OMP_NUM_THREADS is left
# as the caller has it. The programs are built in Release first
# (bench/programs.sh; BUILD_DIR overrides the folder).
set -euo pipefail
source "$(dirname "$0")/programs.sh"

usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; }
case "${1:-}" in -h | --help) usage; exit 0 ;; esac
count="${1:-1000000}" frames="${2:-8}" rounds="${ROUNDS:-3}"
for n in "$count" "$frames" "$rounds"; do
  case "$n" in '' | *[!0-9]*) echo "sequence_bench.sh: not a number: '$n'" >&2; usage >&2; exit 1 ;; esac
done
command -v python3 >/dev/null || { echo "sequence_bench.sh: python3 is needed to measure" >&2; exit 1; }

echo "building ztp-sample and ztp2txscene (Release) in $BUILD_DIR ..." >&2
build_programs

work="$(mktemp -d "${TMPDIR:-/tmp}/sequence_bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# measure <command ...>: prints "rc wall cpu rss" (s, s, KiB) of the command
# and every process it waited for.
cat >"$work/measure.py" <<'PY'
import os, resource, subprocess, sys, time
start = time.perf_counter()
rc = subprocess.call(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
wall = time.perf_counter() - start
u = resource.getrusage(resource.RUSAGE_CHILDREN)
print(rc, "%.3f" % wall, "%.3f" % (u.ru_utime + u.ru_stime), u.ru_maxrss)
PY
measure() {
  read -r rc wall cpu rss < <(python3 "$work/measure.py" "$@")
  if [ "$rc" != 0 ]; then
    echo "sequence_bench.sh: '$*' failed (exit $rc)" >&2
    exit 1
  fi
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

for ((f = 1; f <= frames; f++)); do
  echo "writing frame $f of $frames ($count particles) ..." >&2
  "$SAMPLE" "$(printf '%s/cache.%04d.ztp' "$work" "$f")" "$count" --seed "$f" >/dev/null 2>&1
done

cat >"$work/loop.sh" <<SH
for ((f = 1; f <= $frames; f++)); do
  n=\$(printf '%04d' "\$f")
  "$CONVERTER" "$work/cache.\$n.ztp" "$work/loop.\$n.txscene" bench 0.01 24 "\$f" || exit 1
done
SH

declare -A walls cpus rsss
names=(loop jobs1 jobs2)
for ((r = 1; r <= rounds; r++)); do
  for name in "${names[@]}"; do
    echo "round $r of $rounds: $name ..." >&2
    case "$name" in
      loop) measure bash "$work/loop.sh" ;;
      jobs1) measure "$CONVERTER" --frames "1-$frames" --quiet "$work/cache.####.ztp" "$work/jobs1.####.txscene" bench 0.01 24 ;;
      jobs2) measure "$CONVERTER" --frames "1-$frames" --jobs 2 --quiet "$work/cache.####.ztp" "$work/jobs2.####.txscene" \
        bench 0.01 24 ;;
    esac
    walls[$name]+="$wall " cpus[$name]+="$cpu " rsss[$name]+="$rss "
  done
done
for ((f = 1; f <= frames; f++)); do
  n="$(printf '%04d' "$f")"
  cmp -s "$work/loop.$n.txscene" "$work/jobs1.$n.txscene" && cmp -s "$work/loop.$n.txscene" "$work/jobs2.$n.txscene" || {
    echo "sequence_bench.sh: frame $f differs between the loop and the sequence form" >&2
    exit 1
  }
done

echo
echo "$frames frames of $count particles ($(nproc) processors, OMP_NUM_THREADS=${OMP_NUM_THREADS:-unset}, median of $rounds)"
printf '%-28s %8s %8s %9s\n' command "wall s" "cpu s" "peak MB"
for name in "${names[@]}"; do
  case "$name" in
    loop) label="shell loop, six arguments" ;;
    jobs1) label="--frames, --jobs 1" ;;
    jobs2) label="--frames, --jobs 2" ;;
  esac
  # shellcheck disable=SC2086
  printf '%-28s %8s %8s %9s\n' "$label" "$(median ${walls[$name]})" "$(median ${cpus[$name]})" \
    "$(awk -v k="$(median ${rsss[$name]})" 'BEGIN { printf "%.1f", k / 1024 }')"
done
