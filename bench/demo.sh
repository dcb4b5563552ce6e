#!/usr/bin/env bash
# The converter on a small example: builds the programs (bench/programs.sh),
# writes a cache of a fountain over a pool with ztp-sample and converts it to
# a txscene file, printing what each step did.
#   bash bench/demo.sh [particle_count]      (default 20000)
# The files stay in out/demo/ (OUT_DIR overrides).
set -euo pipefail
source "$(dirname "$0")/programs.sh"

count="${1:-20000}"
out="${OUT_DIR:-$ROOT/out/demo}"
mkdir -p "$out"

echo "== building ztp-sample and ztp2txscene in $BUILD_DIR"
build_programs

echo "== ztp-sample $out/fountain.ztp $count"
"$SAMPLE" "$out/fountain.ztp" "$count" 2>&1 | grep -v '^Corix: '

echo "== ztp2txscene $out/fountain.ztp $out/fountain.txscene fountain 0.01 24 1"
"$CONVERTER" "$out/fountain.ztp" "$out/fountain.txscene" fountain 0.01 24 1 2>"$out/convert.log" || {
  cat "$out/convert.log" >&2
  exit 1
}
ls -l "$out/fountain.ztp" "$out/fountain.txscene"
