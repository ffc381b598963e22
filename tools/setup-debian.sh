#!/bin/sh
# Installs what building jxrtsp needs on Debian 12 (and Ubuntu), with apt-get.
#   tools/setup-debian.sh          the build: compiler, CMake, libavformat for
#                                  the recorder's Matroska files
#   tools/setup-debian.sh --tests  also GoogleTest, Google Benchmark and the
#                                  independent peers of the interop tests
#                                  (GStreamer's RTSP server, VLC, ffmpeg)
#   tools/setup-debian.sh --bench  also what bench/bench_streams.py runs
#                                  (gst-launch-1.0, strace)
# Run as root, or as a user who may use sudo. Packages already there are kept.
set -eu

BUILD_PACKAGES="build-essential cmake pkg-config ca-certificates libavformat-dev libavcodec-dev libavutil-dev"
TEST_PACKAGES="libgtest-dev libgmock-dev libbenchmark-dev libjpeg62-turbo-dev iproute2 util-linux
  python3 python3-gi python3-matplotlib gir1.2-gst-rtsp-server-1.0 gstreamer1.0-plugins-base
  gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav
  ffmpeg vlc-bin vlc-plugin-base"
BENCH_PACKAGES="gstreamer1.0-tools strace"

packages=$BUILD_PACKAGES
case "${1:-}" in
  "") ;;
  --tests) packages="$BUILD_PACKAGES $TEST_PACKAGES" ;;
  --bench) packages="$BUILD_PACKAGES $TEST_PACKAGES $BENCH_PACKAGES" ;;
  *) echo "usage: $0 [--tests | --bench]" >&2; exit 2 ;;
esac

if [ "$(id -u)" = 0 ]; then
  SUDO=
elif command -v sudo >/dev/null 2>&1; then
  SUDO=sudo
else
  echo "$0: run as root (apt-get needs it) or install sudo" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086 # the lists are meant to split into words
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $packages >/dev/null
echo "setup-debian: installed $(echo $packages | wc -w) packages (or found them there)"
