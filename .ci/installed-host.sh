#!/usr/bin/env bash
# The installed package as a host sees it: `cmake --install` into a fresh
# prefix, examples/ configured on its own against it (find_package(JXRtsp)),
# the pkg-config file read, and the built example played against the test
# server on loopback for two seconds.
set -euo pipefail
BUILD=${1:-build}
work=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cmake --install "$BUILD" --prefix "$work/prefix" >/dev/null
cmake -S examples -B "$work/host" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/host" >/dev/null
echo "installed: $(cd "$work/prefix" && find . -type f | sort | tr '\n' ' ')"
for f in bin/jxrtsp share/man/man1/jxrtsp.1 share/bash-completion/completions/jxrtsp share/jxrtsp/clips/sample.h264; do
  [ -s "$work/prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done

export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
module=$(pkg-config --variable=module jxrtsp)
[ -f "$module" ] || { echo "pkg-config names no installed module: $module"; exit 1; }
echo "pkg-config: $(pkg-config --cflags --libs jxrtsp)"

# The installed program finds the installed module and clips on its own.
"$work/prefix/bin/jxrtsp" check | grep "stream: name IJXStream"
"$work/prefix/bin/jxrtsp" serve --port 0 --media h264 >"$work/serve.log" 2>&1 &
server=$!
url=
for _ in $(seq 1 100); do
  url=$(sed -n 's|^serving \(rtsp://127.0.0.1:[0-9]*/\)$|\1|p' "$work/serve.log")
  [ -n "$url" ] && break
  sleep 0.1
done
[ -n "$url" ] || { cat "$work/serve.log"; echo "the test server did not start"; exit 1; }
timeout 30 "$work/host/play_one" "${url}h264" 2 | grep " frames ("
