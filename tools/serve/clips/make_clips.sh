#!/bin/sh
# Makes the sample clips that `jxrtsp serve` streams, with Debian's ffmpeg
# (apt-get install ffmpeg). Run from anywhere; the clips land beside this
# script. See README.md in this folder for what each one is.
set -eu
cd "$(dirname "$0")"
FF="ffmpeg -hide_banner -loglevel error -y"
SECONDS_LONG=4
# A moving test picture with a counter: easy to tell frames apart, and it
# compresses to a small file.
SRC="testsrc2=size=640x360:rate=25:duration=${SECONDS_LONG}"

# H.264 baseline, 25 fps, a key frame every 25 frames, about 1 Mbit/s;
# parameter sets before every key frame.
$FF -f lavfi -i "$SRC" -c:v libx264 -profile:v baseline -pix_fmt yuv420p \
    -b:v 1M -maxrate 1M -bufsize 1M \
    -x264-params keyint=25:min-keyint=25:scenecut=0:repeat-headers=1 \
    -bsf:v h264_metadata=aud=remove -f h264 sample.h264

# The same in H.265 (no B frames, closed GOPs: every key frame an IDR with
# its parameter sets).
$FF -f lavfi -i "$SRC" -c:v libx265 -pix_fmt yuv420p -b:v 600k \
    -x265-params keyint=25:min-keyint=25:scenecut=0:open-gop=0:bframes=0:repeat-headers=1:log-level=error \
    -f hevc sample.h265

# Baseline JPEG, 4:2:0, the standard Huffman tables, one picture after
# another; 2 s only, JPEG pictures being large.
$FF -f lavfi -i "testsrc2=size=640x360:rate=25:duration=2" -c:v mjpeg -huffman default -pix_fmt yuvj420p -q:v 16 \
    -f mjpeg sample.mjpeg

# Tones in G.711, 8 kHz mono WAV: A-law (format 6) and mu-law (format 7).
$FF -f lavfi -i "sine=frequency=440:sample_rate=8000:duration=${SECONDS_LONG}" \
    -c:a pcm_alaw -ar 8000 -ac 1 -map_metadata -1 -fflags +bitexact sample_pcma.wav
$FF -f lavfi -i "sine=frequency=660:sample_rate=8000:duration=${SECONDS_LONG}" \
    -c:a pcm_mulaw -ar 8000 -ac 1 -map_metadata -1 -fflags +bitexact sample_pcmu.wav
# A tone in AAC-LC, 16 kHz mono at 32 kbit/s, ADTS: served as mpeg4-generic
# AAC-hbr, one access unit a packet.
$FF -f lavfi -i "sine=frequency=880:sample_rate=16000:duration=${SECONDS_LONG}" \
    -c:a aac -b:a 32k -ar 16000 -ac 1 -map_metadata -1 -fflags +bitexact -f adts sample.aac
ls -l sample.*  sample_*.wav
