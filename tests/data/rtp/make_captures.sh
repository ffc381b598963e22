#!/usr/bin/env bash
# Makes the RTP captures that the payload-format tests replay. Run once in this
# folder; the tests never call ffmpeg or GStreamer. Each clip is encoded by
# ffmpeg, packetized by GStreamer's payloader and written by rtpstreampay: every
# packet behind its length in two bytes, most significant first.
# Needs Debian's ffmpeg, gstreamer1.0-tools and gstreamer1.0-plugins-good/-bad.
set -euo pipefail
ff() { ffmpeg -hide_banner -loglevel error -y "$@"; }
gst() { gst-launch-1.0 -q "$@" >/dev/null; }
# A moving test picture with grain, so frames are as large as a camera's.
src() { echo "testsrc2=size=$1:rate=25"; }
grain="noise=alls=8:allf=t"

# AAC: the clips as ADTS (their access units are the reference), packetized by
# GStreamer's payloaders (one unit a packet, or fragments under a small MTU)
# and by ffmpeg's RTP muxer (several units a packet; LATM with the whole
# StreamMuxConfig). NAME.sdp holds the a=rtpmap: and a=fmtp: lines a camera
# would announce. `./make_captures.sh aac` makes these alone.
aac_captures() {
  ff -f lavfi -i "sine=frequency=440:sample_rate=16000:duration=1" -c:a aac -b:a 32k -f adts aac_16k_mono.aac
  ff -f lavfi -i "sine=frequency=660:sample_rate=48000:duration=0.5" -ac 2 -c:a aac -b:a 96k -f adts aac_48k_stereo.aac
  # The payloader's caps, as SDP lines.
  caps_sdp() {
    python3 -c '
import re, sys
caps = [l for l in sys.stdin if "rtpstreampay0.GstPad:sink: caps" in l][-1]
f = dict(re.findall(r"([a-z-]+)=\([a-z]+\)([^,]+)", caps))
name = f.pop("encoding-name"); pt = f.pop("payload"); rate = f.pop("clock-rate")
chans = f.pop("encoding-params", None)
for k in ("media", "ssrc", "timestamp-offset", "seqnum-offset"): f.pop(k, None)
print("a=rtpmap:%s %s/%s%s" % (pt, name, rate, "/" + chans if chans else ""))
print("a=fmtp:%s %s" % (pt, ";".join("%s=%s" % kv for kv in f.items())))' > "$1"
  }
  for run in aac_hbr_16k:rtpmp4gpay:aac_16k_mono:1400 aac_hbr_frag:rtpmp4gpay:aac_16k_mono:150 \
             aac_latm_16k:rtpmp4apay:aac_16k_mono:1400 aac_latm_frag:rtpmp4apay:aac_16k_mono:150 \
             aac_hbr_48k:rtpmp4gpay:aac_48k_stereo:1400 aac_latm_48k:rtpmp4apay:aac_48k_stereo:1400; do
    IFS=: read -r name pay clip mtu <<< "$run"
    gst-launch-1.0 -v filesrc location=$clip.aac ! aacparse ! $pay pt=96 mtu=$mtu ! rtpstreampay \
        ! filesink location=$name.rtp | caps_sdp $name.sdp
  done
  # ffmpeg's muxer sends to a UDP port: a receiver on loopback writes what
  # comes, framed as rtpstreampay does, until 2 s pass without a packet.
  ff -i aac_16k_mono.aac -c copy aac_16k_mono.m4a
  for run in aac_hbr_ff: aac_latm_ff:latm; do
    name=${run%:*}
    flags=${run#*:}
    coproc RX { python3 -c '
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); s.settimeout(2.0)
print(s.getsockname()[1], flush=True)
with open(sys.argv[1], "wb") as f:
    while True:
        try: p = s.recv(65536)
        except socket.timeout: break
        f.write(len(p).to_bytes(2, "big") + p)' $name.rtp; }
    read -r port <&"${RX[0]}"
    ff -i aac_16k_mono.m4a -c copy -f rtp ${flags:+-rtpflags $flags} -sdp_file $name.full.sdp \
       "rtp://127.0.0.1:$port?pkt_size=1200"
    wait
    grep -E '^a=(rtpmap|fmtp):' $name.full.sdp | tr -d '\r' > $name.sdp
    rm $name.full.sdp
  done
  rm aac_16k_mono.m4a
}
if [ "${1:-}" = aac ]; then aac_captures; ls -l aac_*; exit 0; fi

# H.264, 1080p at about 2 Mbit/s, a key frame every 6 frames: FU-A fragments,
# parameter sets in-band before every key frame.
ff -f lavfi -i "$(src 1920x1080)" -vf "$grain" -frames:v 12 -c:v libx264 -preset veryfast \
   -b:v 2M -maxrate 2M -bufsize 400k -g 6 -bf 0 -bsf:v h264_mp4toannexb -f h264 h264_1080p.h264
gst filesrc location=h264_1080p.h264 ! h264parse ! video/x-h264,stream-format=byte-stream,alignment=au \
    ! rtph264pay pt=96 mtu=1400 config-interval=-1 ! rtpstreampay ! filesink location=h264_1080p.rtp

# H.264, small pictures aggregated: STAP-A packets.
ff -f lavfi -i "$(src 320x240)" -frames:v 25 -c:v libx264 -preset veryfast -profile:v main \
   -g 10 -bf 0 -bsf:v h264_mp4toannexb -f h264 h264_stap.h264
gst filesrc location=h264_stap.h264 ! h264parse ! video/x-h264,stream-format=byte-stream,alignment=au \
    ! rtph264pay pt=96 mtu=1400 config-interval=-1 aggregate-mode=zero-latency ! rtpstreampay \
    ! filesink location=h264_stap.rtp

# H.265, 1080p: fragmentation units, VPS, SPS and PPS in-band.
ff -f lavfi -i "$(src 1920x1080)" -vf "$grain" -frames:v 12 -c:v libx265 -preset veryfast \
   -b:v 2M -x265-params "keyint=6:min-keyint=6:bframes=0:log-level=error" -f hevc h265_1080p.h265
gst filesrc location=h265_1080p.h265 ! h265parse ! video/x-h265,stream-format=byte-stream,alignment=au \
    ! rtph265pay pt=96 mtu=1400 config-interval=-1 ! rtpstreampay ! filesink location=h265_1080p.rtp

# H.265, small pictures aggregated: aggregation packets.
ff -f lavfi -i "$(src 320x240)" -frames:v 25 -c:v libx265 -preset veryfast \
   -x265-params "keyint=10:min-keyint=10:bframes=0:log-level=error" -f hevc h265_ap.h265
gst filesrc location=h265_ap.h265 ! h265parse ! video/x-h265,stream-format=byte-stream,alignment=au \
    ! rtph265pay pt=96 mtu=1400 config-interval=-1 aggregate-mode=zero-latency ! rtpstreampay \
    ! filesink location=h265_ap.rtp

# H.265 with CRA random-access points only (no IDR after the first picture),
# each followed by RASL pictures: an open GOP of 4 B-frames, a CRA every 24.
# Encoded into Matroska for a timestamp per access unit (B-frames: raw HEVC has
# none to remux), the clip copied out of it; x265's info SEI is left out, as
# the payloader does not send what the container keeps beside the pictures.
ff -f lavfi -i "$(src 320x240)" -frames:v 60 -c:v libx265 -preset veryfast \
   -x265-params "keyint=24:min-keyint=24:scenecut=0:bframes=4:b-adapt=0:b-pyramid=0:info=0:log-level=error" \
   -f matroska timed.mkv
ff -i timed.mkv -c copy -f hevc h265_cra.h265
gst filesrc location=timed.mkv ! matroskademux ! h265parse ! video/x-h265,stream-format=byte-stream,alignment=au \
    ! rtph265pay pt=96 mtu=1400 config-interval=-1 ! rtpstreampay ! filesink location=h265_cra_timed.rtp
rm -f timed.mkv

# JPEG, 4:2:0 and 4:2:2, and a picture wider than 2040 pixels.
ff -f lavfi -i "$(src 640x480)" -frames:v 5 -c:v mjpeg -pix_fmt yuvj420p -q:v 4 -f mjpeg jpeg_420.mjpeg
# GStreamer's payloader refuses ffmpeg's 4:2:2 pictures, so its own encoder makes those.
gst videotestsrc num-buffers=3 pattern=smpte ! video/x-raw,format=Y42B,width=320,height=240 \
    ! jpegenc quality=80 ! filesink location=jpeg_422.mjpeg
ff -f lavfi -i "$(src 2064x48)" -frames:v 2 -c:v mjpeg -pix_fmt yuvj420p -q:v 4 -f mjpeg jpeg_wide.mjpeg
for name in jpeg_420 jpeg_422 jpeg_wide; do
  gst filesrc location=$name.mjpeg ! jpegparse ! rtpjpegpay pt=26 mtu=1400 ! rtpstreampay \
      ! filesink location=$name.rtp
done

# G.711, one second of a 440 Hz tone at 8 kHz, in A-law and mu-law.
for law in alaw mulaw; do
  ff -f lavfi -i "sine=frequency=440:sample_rate=8000:duration=1" -c:a pcm_$law -f wav g711_$law.wav
done
gst filesrc location=g711_alaw.wav ! wavparse ! rtppcmapay ! rtpstreampay ! filesink location=g711_alaw.rtp
gst filesrc location=g711_mulaw.wav ! wavparse ! rtppcmupay ! rtpstreampay ! filesink location=g711_mulaw.rtp
# The same H.264 and H.265 clips with a timestamp per access unit: a raw
# elementary stream gives the payloader no times, so every packet above shares
# one timestamp. Through Matroska at 25 frames per second each access unit gets
# its own (3600 ticks apart), as from a camera.
for name in h264_1080p h264_stap h265_1080p h265_ap; do
  codec=${name%%_*}
  ff -r 25 -i $name.${codec} -c copy -f matroska timed.mkv
  case $name in
    *_1080p) opts="mtu=1400 config-interval=-1" ;;
    *) opts="mtu=1400 config-interval=-1 aggregate-mode=zero-latency" ;;
  esac
  gst filesrc location=timed.mkv ! matroskademux ! ${codec}parse \
      ! video/x-${codec},stream-format=byte-stream,alignment=au ! rtp${codec}pay pt=96 $opts \
      ! rtpstreampay ! filesink location=${name}_timed.rtp
  rm -f timed.mkv
done
# JPEG with the standard Huffman tables (the only ones an RTP/JPEG header stands
# for, so the rebuilt pictures decode to the source's pixels), timestamped at
# 25 pictures a second by a container: 4:2:0 at 640x480, and 2560x128 (wider than
# 2040: the size comes from a=x-dimensions) in 60000-byte payloads, as over TCP.
ff -f lavfi -i "$(src 640x480)" -frames:v 3 -c:v mjpeg -pix_fmt yuvj420p -q:v 4 -huffman default \
   -f mjpeg jpeg_std_420.mjpeg
ff -f lavfi -i "$(src 2560x128)" -vf "$grain" -frames:v 2 -c:v mjpeg -pix_fmt yuvj420p -q:v 3 \
   -huffman default -f mjpeg jpeg_tcp_wide.mjpeg
for run in jpeg_std_420:1400 jpeg_tcp_wide:60012; do
  name=${run%:*}
  ff -r 25 -i $name.mjpeg -c copy $name.mkv
  gst filesrc location=$name.mkv ! matroskademux ! jpegparse ! rtpjpegpay pt=26 mtu=${run#*:} \
      ! rtpstreampay ! filesink location=$name.rtp
  rm $name.mkv
done
# One 4:2:0 picture at quality 50: its tables are the base tables that Q 50 in an
# RTP/JPEG header stands for (no capture: the tests cut it into packets).
gst videotestsrc num-buffers=1 pattern=smpte ! video/x-raw,format=I420,width=320,height=240 \
    ! jpegenc quality=50 ! filesink location=jpeg_q50.jpg
aac_captures
ls -l
