#!/usr/bin/env bash
# Installs a build into a temporary prefix and uses it as a studio would:
# checks what went where, builds examples/plugin against it with CMake and
# with pkg-config, converts a cache holding a body of the plug-in's type with
# the installed converter, moves the prefix and runs the programs from there,
# asks find_package for wrong versions, and builds the Debian package.
#
#   tests/install/check_install.sh [build_dir]     (default: build)
set -uo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$src/build}" && pwd) || exit 1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/cb-install.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
version=$(sed -n 's/^#define CB_VERSION_STRING "\(.*\)"$/\1/p' "$src/include/cb/Version.h")
major=${version%%.*}
# The programs must find everything through the install tree alone.
unset LD_LIBRARY_PATH CORIX_USER_SIG_PATH

passed=0 failed=0
ok() { passed=$((passed + 1)); echo "ok   $1"; }
bad() { failed=$((failed + 1)); echo "FAIL $1${2:+: $2}"; }
# check NAME COMMAND...: passes when the command succeeds.
check() { local name=$1; shift; if "$@" >"$tmp/last.log" 2>&1; then ok "$name"; else bad "$name" "$(tail -5 "$tmp/last.log")"; fi; }
# run NAME COMMAND...: keeps standard output, error and exit code as
# $tmp/NAME.out, .err, .code.
run() { local name=$1; shift; "$@" >"$tmp/$name.out" 2>"$tmp/$name.err"; echo $? >"$tmp/$name.code"; }
code() { cat "$tmp/$1.code"; }
has() { grep -qF -- "$2" "$tmp/$1"; }
first_line() { head -n 1 "$tmp/$1"; }

echo "installing $build (version $version) into $prefix"
if ! cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1; then
  cat "$tmp/install.log"; echo "check_install: 0 passed, 1 failed"; exit 1
fi

# --- What went where -------------------------------------------------------
for f in bin/ztp2txscene bin/ztp-sample bin/ztpinfo "lib/libcb.so.$version" lib/cmake/Cb/CbConfig.cmake \
         lib/cmake/Cb/CbConfigVersion.cmake lib/cmake/Cb/CbTargets.cmake lib/pkgconfig/cb.pc \
         share/corix/server/standard-sig/Particle-Liquid.sig share/corix/server/user-sig/README \
         share/doc/ztp2txscene/README.md; do
  check "installed $f" test -f "$prefix/$f"
done
check "libcb.so -> libcb.so.$major -> libcb.so.$version" \
  test "$(readlink "$prefix/lib/libcb.so")" = "libcb.so.$major" -a "$(readlink "$prefix/lib/libcb.so.$major")" = "libcb.so.$version"
check "soname is libcb.so.$major" bash -c "readelf -d '$prefix/lib/libcb.so.$version' | grep -q 'Library soname: \[libcb.so.$major\]'"
# Public headers are exactly include/; the library's own headers stay out.
check "installed headers are include/ exactly" diff -r "$src/include" "$prefix/include"
check "no internal header installed" test -z "$(find "$prefix" -name block3_detail.h -o -name QelEvalHelpers.h -o -name FieldBodyAccess.h)"
for p in ztp2txscene ztp-sample ztpinfo; do
  check "$p runpath is \$ORIGIN/../lib" bash -c "readelf -d '$prefix/bin/$p' | grep -q 'R.*PATH.*\[\$ORIGIN/../lib\]'"
  run "$p-version" "$prefix/bin/$p" --version
  check "$p --version prints $version" test "$(code "$p-version")" = 0 -a "$(cat "$tmp/$p-version.out")" = "$p $version"
done
# ztp2vdb, when the build has OpenVDB.
if [ -x "$build/ztp2vdb" ]; then
  check "installed bin/ztp2vdb" test -x "$prefix/bin/ztp2vdb"
  run ztp2vdb-version "$prefix/bin/ztp2vdb" --version
  check "ztp2vdb --version prints $version" bash -c "head -n 1 '$tmp/ztp2vdb-version.out' | grep -q '^ztp2vdb $version '"
fi

# The Python module, when the build has one: installed beside the
# interpreter's own packages, it finds libcb in the prefix.
if ls "$build"/python/ztp.*.so >/dev/null 2>&1; then
  module=$(find "$prefix" -name 'ztp.*.so' | head -n 1)
  check "installed the Python module and its stubs" test -n "$module" -a -f "$(dirname "$module")/ztp.pyi"
  check "the installed module imports and reports $version" \
    bash -c "PYTHONPATH='$(dirname "$module")' /usr/bin/python3 -c 'import ztp; assert ztp.__version__ == \"$version\"'"
fi
run help "$prefix/bin/ztp2txscene" --help
check "ztp2txscene --help: usage on standard output, exit 0" \
  bash -c "test $(code help) = 0 && grep -q '^usage: .*ztp2txscene input_file output_file plugin_name radius fps frame$' '$tmp/help.out'"

# --- pkg-config --------------------------------------------------------------
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
check "pkg-config --modversion cb is $version" test "$(pkg-config --modversion cb)" = "$version"
cflags=$(pkg-config --cflags cb) libs=$(pkg-config --libs cb)
check "pkg-config cflags: -fopenmp and the include folder" \
  bash -c "[[ ' $cflags ' == *' -fopenmp '* && '$(cd "$prefix/include" && pwd -P)' == \$(cd '$(pkg-config --variable=includedir cb)' && pwd -P) ]]"
check "pkg-config libs: -lcb" bash -c "[[ ' $libs ' == *' -lcb '* ]]"
# Every public header together, against the install tree alone.
find "$prefix/include" -name '*.h' | sort | sed 's|.*/include/|#include "|; s|$|"|' >"$tmp/all_headers.cpp"
check "every installed header compiles against the prefix" \
  g++ -std=c++20 -fsyntax-only -Wall -Wextra -Werror $cflags -x c++ "$tmp/all_headers.cpp"

# --- The example plug-in, built twice ----------------------------------------
example=$src/examples/plugin
check "examples/plugin configures with find_package(Cb)" \
  cmake -S "$example" -B "$tmp/cmake-build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix"
check "examples/plugin builds with CMake" cmake --build "$tmp/cmake-build"
pc=$tmp/pkgconfig-build
mkdir -p "$pc/user-sig"
cp "$example/Spark-Emitter.sig" "$pc/user-sig/"
check "plug-in builds with pkg-config" \
  g++ -std=c++20 -O2 -Wall -Wextra -Werror -fPIC -shared -fvisibility=hidden "$example/SparkEmitter.cpp" \
      $cflags $libs -o "$pc/user-sig/Spark-Emitter.so"
check "make-cache builds with pkg-config" \
  g++ -std=c++20 -O2 -Wall -Wextra -Werror "$example/MakeCache.cpp" $cflags $libs \
      -Wl,-rpath,"$(pkg-config --variable=libdir cb)" -o "$pc/make-cache"

# --- Converting a cache holding a plug-in body --------------------------------
export CORIX_PATH=$prefix/share/corix
cd "$tmp"
sparks=3000
run make-cmake env CORIX_USER_SIG_PATH="$tmp/cmake-build/user-sig" "$tmp/cmake-build/make-cache" sparks.ztp $sparks
check "make-cache (CMake) writes a Spark-Emitter cache" test "$(code make-cmake)" = 0 -a -f sparks.ztp
run make-pc env CORIX_USER_SIG_PATH="$pc/user-sig" "$pc/make-cache" sparks-pc.ztp $sparks
check "make-cache (pkg-config) writes the same cache" cmp sparks.ztp sparks-pc.ztp

converter=$prefix/bin/ztp2txscene
convert() {  # convert NAME SIG_PATH INPUT: the installed converter
  run "$1" env ${2:+CORIX_USER_SIG_PATH="$2"} "$converter" "$3" "$1.txscene" sparks 0.01 24 1
}
convert cmake "$tmp/cmake-build/user-sig" sparks.ztp
check "converter loads the CMake-built plug-in from CORIX_USER_SIG_PATH" has cmake.err "Corix: Loaded user body code: Spark-Emitter"
check "converter exports every spark (exit 0)" \
  test "$(code cmake)" = 0 -a "$(first_line cmake.out)" = "exported $sparks particles"
check "output is a GeomParticleSystem named sparks" test "$(head -n 1 cmake.txscene)" = "GeomParticleSystem sparks {"
convert pkgconfig "$pc/user-sig" sparks.ztp
check "the pkg-config plug-in converts to the same bytes" \
  bash -c "test $(code pkgconfig) = 0 && cmp -s cmake.txscene pkgconfig.txscene && cmp -s cmake.out pkgconfig.out"

convert none "" sparks.ztp
check "without the plug-in the body cannot be made, and is said so" \
  bash -c "test $(code none) = 0 && grep -qF \"Corrupt ZTP: Error creating body of type 'Spark-Emitter': not registered\" '$tmp/none.err' && test \"\$(head -n 1 '$tmp/none.out')\" = 'exported 0 particles'"

# The plug-in's own record, damaged: its version number, just before the
# writer text it keeps, is read by the plug-in's code and refused.
cp sparks.ztp damaged.ztp
at=$(grep -obUaF "Spark-Emitter plug-in" damaged.ztp | head -n 1 | cut -d: -f1)
printf '\011\000\000\000' | dd of=damaged.ztp bs=1 seek=$((at - 8)) conv=notrunc status=none
convert damaged "$pc/user-sig" damaged.ztp
check "a damaged plug-in record is refused by the plug-in's check" \
  bash -c "test $(code damaged) = 0 && grep -qF \"Corrupt ZTP: Spark-Emitter: record version 9 of body 'sparks' is not one this plug-in reads (1 to 1)\" '$tmp/damaged.err' && test \"\$(head -n 1 '$tmp/damaged.out')\" = 'exported 0 particles'"

# Installed where the installation's own plug-ins go: no variable needed.
check "plug-in installs into \$CORIX_PATH/server/user-sig" \
  cmake --install "$tmp/cmake-build" --prefix "$CORIX_PATH/server/user-sig"
convert user-sig "" sparks.ztp
check "converter loads the plug-in from \$CORIX_PATH/server/user-sig" \
  bash -c "test $(code user-sig) = 0 && cmp -s cmake.txscene user-sig.txscene && grep -qF 'Loaded user body code: Spark-Emitter' '$tmp/user-sig.err'"

# --- find_package versions -------------------------------------------------------
vcheck() {  # vcheck NAME WANTED
  run "$1" cmake -S "$src/tests/install/version_check" -B "$tmp/$1-build" -DCMAKE_PREFIX_PATH="$prefix" -DCB_WANTED="$2"
}
vcheck v-same "$major.0"
check "find_package(Cb $major.0) finds $version with its include folder and OpenMP" \
  bash -c "test $(code v-same) = 0 && grep -qF 'Cb $version: includes $prefix/include; links OpenMP::OpenMP_CXX;Threads::Threads' '$tmp/v-same.out'"
for wanted in 99.0 $((major + 1)).0 0.9; do
  vcheck "v-$wanted" "$wanted"
  # CMake names the version asked for and the one it found.
  check "find_package(Cb $wanted) fails, naming both versions" \
    bash -c "test $(code "v-$wanted") != 0 && tr -s ' \n' ' ' <'$tmp/v-$wanted.err' | grep -qF 'compatible with requested version \"$wanted\"' && grep -qF 'version: $version' '$tmp/v-$wanted.err'"
done

# --- The prefix moved ---------------------------------------------------------
moved=$tmp/moved/somewhere/else
mkdir -p "$(dirname "$moved")"
mv "$prefix" "$moved"
converter=$moved/bin/ztp2txscene
export CORIX_PATH=$moved/share/corix PKG_CONFIG_PATH=$moved/lib/pkgconfig
run moved-version "$moved/bin/ztp2txscene" --version
check "moved: ztp2txscene --version" test "$(cat "$tmp/moved-version.out")" = "ztp2txscene $version"
run moved-sample "$moved/bin/ztp-sample" sample.ztp 2000 --seed 5
run moved-convert "$moved/bin/ztp2txscene" sample.ztp sample.txscene pool 0.05 24 1
check "moved: ztp-sample and ztp2txscene convert a sample" \
  test "$(code moved-sample)" = 0 -a "$(code moved-convert)" = 0 -a "$(first_line moved-convert.out)" = "exported 2000 particles"
convert moved-sparks "" sparks.ztp
check "moved: the plug-in in the moved user-sig still converts" \
  bash -c "test $(code moved-sparks) = 0 && cmp -s cmake.txscene moved-sparks.txscene"
check "moved: pkg-config points into the moved prefix" test "$(cd "$(pkg-config --variable=libdir cb)" && pwd -P)" = "$(cd "$moved/lib" && pwd -P)"
run v-moved cmake -S "$src/tests/install/version_check" -B "$tmp/v-moved-build" -DCMAKE_PREFIX_PATH="$moved" -DCB_WANTED="$major.0"
check "moved: find_package(Cb) points into the moved prefix" \
  bash -c "test $(code v-moved) = 0 && grep -qF 'includes $moved/include;' '$tmp/v-moved.out'"

# --- The Debian package --------------------------------------------------------
if command -v cpack >/dev/null && command -v dpkg-deb >/dev/null && command -v dpkg-shlibdeps >/dev/null; then
  check "cpack builds the Debian package" bash -c "cd '$build' && cpack -G DEB -B '$tmp/deb'"
  deb=$(ls "$tmp"/deb/*.deb 2>/dev/null | head -n 1)
  if [ -n "$deb" ]; then
    check "package version is $version" test "$(dpkg-deb -f "$deb" Version)" = "$version"
    depends=$(dpkg-deb -f "$deb" Depends)
    check "package depends on the runtime libraries ($depends)" \
      bash -c "for d in libc6 libgomp1 zlib1g libstdc++6 libssl libdeflate; do [[ '$depends' == *\$d* ]] || exit 1; done"
    dpkg-deb -c "$deb" | awk '{print $6}' >"$tmp/deb.list"
    for f in ./usr/bin/ztp2txscene ./usr/bin/ztp-sample "./usr/lib/libcb.so.$version" ./usr/include/cb/Version.h \
             ./usr/lib/cmake/Cb/CbConfig.cmake ./usr/lib/pkgconfig/cb.pc \
             ./usr/share/corix/server/standard-sig/Particle-Liquid.sig ./usr/share/doc/ztp2txscene/README.md; do
      check "package holds $f" grep -qxF "$f" "$tmp/deb.list"
    done
  fi
else
  bad "Debian package" "cpack, dpkg-deb or dpkg-shlibdeps missing (bash .ci/deps installs dpkg-dev)"
fi

echo "check_install: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
