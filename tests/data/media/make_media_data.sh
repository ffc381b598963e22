#!/bin/sh
# Regenerates the media test data of this folder with Debian's ffmpeg (libx264,
# libx265, mjpeg). Run once from this folder; the outputs are committed, the
# tests never run ffmpeg. Every stream is one frame of testsrc at 25 fps.
set -eu
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
FF="ffmpeg -hide_banner -loglevel error -y"

# h264 NAME SIZE PROFILE PIXFMT [EXTRA...]: the SPS and PPS of the first key frame.
h264() {
    name=$1; size=$2; profile=$3; pix=$4; shift 4
    $FF -f lavfi -i testsrc=size=$size:rate=25 -frames:v 1 -pix_fmt $pix \
        -c:v libx264 -profile:v $profile "$@" -bsf:v h264_mp4toannexb -f h264 "$TMP/$name.h264"
    python3 ./keep_param_sets.py h264 "$TMP/$name.h264" "$name.h264"
}
# h265 NAME SIZE PIXFMT [X265PARAMS]: the VPS, SPS and PPS of the first key frame.
h265() {
    name=$1; size=$2; pix=$3; params=${4:-}
    $FF -f lavfi -i testsrc=size=$size:rate=25 -frames:v 1 -pix_fmt $pix \
        -c:v libx265 -x265-params "log-level=error${params:+:$params}" -f hevc "$TMP/$name.hevc"
    python3 ./keep_param_sets.py h265 "$TMP/$name.hevc" "$name.h265"
}
# jpeg NAME SIZE: a picture cut 16 bytes after its SOS segment (the headers are all a size reader needs).
jpeg() {
    name=$1; size=$2
    $FF -f lavfi -i testsrc=size=$size:rate=25 -frames:v 1 -pix_fmt yuvj420p -c:v mjpeg "$TMP/$name.jpg"
    python3 - "$TMP/$name.jpg" "$name.jpg" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
i = 2
while data[i + 1] != 0xDA:                     # walk the segments up to SOS
    i += 2 + int.from_bytes(data[i + 2:i + 4], "big")
end = i + 2 + int.from_bytes(data[i + 2:i + 4], "big") + 16
open(sys.argv[2], "wb").write(data[:end])
PY
}

h264 h264_high_1920x1080     1920x1080 high     yuv420p
h264 h264_high_2592x1944     2592x1944 high     yuv420p
h264 h264_high_1280x720      1280x720  high     yuv420p
h264 h264_baseline_352x288   352x288   baseline yuv420p
h264 h264_baseline_640x360   640x360   baseline yuv420p
h264 h264_high_1366x768      1366x768  high     yuv420p
h264 h264_high422_1366x766   1366x766  high422  yuv422p
h264 h264_high444_1365x767   1365x767  high444  yuv444p
h264 h264_high_gray_1365x767 1365x767  high     gray
h264 h264_interlaced_1920x1080 1920x1080 high   yuv420p -flags +ildct+ilme -x264-params interlaced=1

h265 h265_main_1920x1080     1920x1080 yuv420p
h265 h265_main_2592x1944     2592x1944 yuv420p
h265 h265_main_1366x766      1366x766  yuv420p
h265 h265_main_640x360       640x360   yuv420p
h265 h265_sublayers_1280x720 1280x720  yuv420p temporal-layers=1
h265 h265_main444_1365x767   1365x767  yuv444p

jpeg jpeg_640x480   640x480
jpeg jpeg_1920x1080 1920x1080
