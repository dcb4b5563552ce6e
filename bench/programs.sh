# Sourced by the scripts of this folder: builds ztp-sample, ztp2txscene and
# ztp_sidecar in a Release build of their own (tests and benchmarks off, so a
# fresh machine needs only cmake, a compiler, zlib, libdeflate and OpenSSL)
# and points CORIX_PATH at the checkout's installation folder.
#   BUILD_DIR  the build folder (default: <checkout>/build-release)

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build-release}"
SAMPLE="$BUILD_DIR/ztp-sample"
CONVERTER="$BUILD_DIR/ztp2txscene"
SIDECAR="$BUILD_DIR/bench/ztp_sidecar"
export CORIX_PATH="$ROOT/share/corix"

# Configures the folder the first time, then lets the build tool bring the two
# programs up to date (nothing to do when they are). The tools' output goes
# to $BUILD_DIR/programs.log and is shown when they fail.
build_programs() {
  mkdir -p "$BUILD_DIR"
  local log="$BUILD_DIR/programs.log"
  local generator=()
  command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
  if { [ -f "$BUILD_DIR/CMakeCache.txt" ] ||
    cmake -S "$ROOT" -B "$BUILD_DIR" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
      -DCB_BUILD_TESTS=OFF -DCB_BUILD_BENCH=OFF; } >"$log" 2>&1 &&
    cmake --build "$BUILD_DIR" --target ztp-sample ztp2txscene ztp_sidecar -j2 >>"$log" 2>&1; then
    return 0
  fi
  cat "$log" >&2
  echo "building ztp-sample and ztp2txscene failed (log: $log)" >&2
  return 1
}
