#!/usr/bin/env bash
# Windows stage of CI: cross-builds JXBase.dll, JXRtsp.dll, the host program and
# the unit tests for 64-bit Windows with mingw-w64, checks that the binaries
# need no mingw runtime DLL beside them, and runs the unit tests under wine in a
# fresh, throw-away wine prefix (all tests but those labelled linux-only).
#
#   bash .ci/windows.sh            # build dir: build-win
#
# Environment: JX_WIN_BUILD (build dir), JX_JOBS (parallel jobs, default 2),
# JX_WIN_TIMEOUT (seconds for the build and for the test run, default 1800).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=${JX_WIN_BUILD:-$ROOT/build-win}
JOBS=${JX_JOBS:-2}
LIMIT=${JX_WIN_TIMEOUT:-1800}
WINE_DIR=/usr/lib/wine          # wine64 and wineserver live here, not on the PATH
STARTED=$(date +%s)

say() { printf 'windows: %s\n' "$*"; }

# 1. Packages: the posix-thread mingw-w64 compilers, wine64, GoogleTest sources.
missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
[ -x "$WINE_DIR/wine64" ] || missing+=(wine64)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
command -v cmake >/dev/null || missing+=(cmake)
if [ "${#missing[@]}" -gt 0 ]; then
  say "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq "${missing[@]}" >/dev/null ||
    { apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null; }
fi

# 2. A fresh wine prefix, removed again on exit. Mono and Gecko are not wanted.
PREFIX=$(mktemp -d /tmp/jx-wineprefix.XXXXXX)
export WINEPREFIX=$PREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  "$WINE_DIR/wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$PREFIX" "$PREFIX.boot.log"
}
trap cleanup EXIT
say "wine prefix $PREFIX"
# One wine server for the whole run, started first and kept up (-p): every
# test program is a process of its own and is spared the server's start-up,
# and wine's service processes, started once by wineboot with their output in
# the log, are not started again by a test program whose output pipe they
# would then hold open (CTest waits for that pipe to close).
"$WINE_DIR/wineserver" -p </dev/null >/dev/null 2>&1
timeout 300 "$WINE_DIR/wine64" wineboot -i </dev/null >"$PREFIX.boot.log" 2>&1 ||
  { cat "$PREFIX.boot.log"; say "wineboot failed"; exit 1; }
rm -f "$PREFIX.boot.log"

# 3. Cross build: DLLs, host program, tests. No benchmarks, no fuzz targets.
timeout "$LIMIT" cmake -S . -B "$BUILD" \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DJX_BUILD_TESTS=ON -DJX_BUILD_BENCH=OFF -DJX_FUZZ=OFF
timeout "$LIMIT" cmake --build "$BUILD" -j"$JOBS"

# 4. Nothing may import the mingw runtime DLLs: they are linked in statically.
bad=0
for f in "$BUILD"/bin/*.dll "$BUILD"/bin/*.exe; do
  [ -e "$f" ] || continue
  if x86_64-w64-mingw32-objdump -p "$f" |
      grep -iE 'DLL Name: *(libgcc|libstdc\+\+|libwinpthread)'; then
    say "$(basename "$f") needs a mingw runtime DLL"
    bad=1
  fi
done
[ "$bad" = 0 ] || exit 1
for f in JXBase.dll JXRtsp.dll; do
  [ -f "$BUILD/bin/$f" ] || { say "$f was not built"; exit 1; }
done
say "imports checked: $(cd "$BUILD/bin" && echo *.dll *.exe)"

# 5. Unit tests under wine (CMAKE_CROSSCOMPILING_EMULATOR runs them), one test
# program after the other: every socket call of every wine process goes
# through the one wineserver, so programs run side by side slow each other down.
set +e
timeout "$LIMIT" ctest --test-dir "$BUILD" -LE linux-only --output-on-failure -j1 \
  2>&1 | tee "$BUILD/ctest-wine.log"
status=${PIPESTATUS[0]}
set -e
say "$(grep -E 'tests passed|tests failed' "$BUILD/ctest-wine.log" | tail -n 1)"
if [ "$status" -ne 0 ] || ! grep -qE '^Total Test time' "$BUILD/ctest-wine.log"; then
  say "tests failed (status $status)"
  exit 1
fi
if grep -q 'No tests were found' "$BUILD/ctest-wine.log"; then
  say "no tests were run"
  exit 1
fi
say "stage took $(( $(date +%s) - STARTED ))s"
