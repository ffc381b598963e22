#!/usr/bin/python3
"""Interop cases for `jxrtsp record` and `jxrtsp probe` against GStreamer's RTSP
server (gst_rtsp_server.py beside this file), on 127.0.0.1 only.

  record_cases.py --jxrtsp PATH CASE     run one case (exit 0 pass, 1 fail, 77 skip)
  record_cases.py --list                 the case names

Each record case starts the server on a free port, records for a few seconds,
then checks summary.json and every file with ffprobe (codec, size, frame count
equal to the summary's and near the expected) and a full decode with ffmpeg
that must print nothing. Cases named mkv_* record stream.mkv (record's
default) and also check that every stream's timestamps increase; the others
record the elementary files (--raw). No PyPI packages: Debian's python3 and
python3-gi.
"""
import json
import math
import os
import pty
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

from interop_util import (EXIT_SKIP, PROCESS_LIMIT_S, Fail, Skip, check, check_decodes, free_port, main, need_tools,
                          run)

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "gst_rtsp_server.py")
USER, PASSWORD, WRONG = "viewer", "s3cret-pw", "wrong-pw"
SECONDS = 4
FPS = 25
WIDTH, HEIGHT = 320, 240
G711_RATE = 8000
AAC_RATE = 16000
AAC_UNIT_SAMPLES = 1024
WAV_HEADER = 58
SERVER_START_S = 60      # a loaded machine may take long to load GStreamer
RETRY_GAP_MS = 9900      # the module retries a failed session every 10 s

# One row a case: server media, URL scheme, authentication.
RECORD_CASES = {
    "jpeg_tcp": ("jpeg", "rtsp", "none"),
    "jpeg_udp": ("jpeg", "rtspu", "none"),
    "jpeg_basic_tcp": ("jpeg", "rtsp", "basic"),
    "pcma_tcp": ("pcma", "rtsp", "none"),
    "pcma_udp": ("pcma", "rtspu", "digest"),
    "pcmu_tcp": ("pcmu", "rtsp", "digest"),
    "pcmu_udp": ("pcmu", "rtspu", "none"),
    "jpeg+pcma_tcp": ("jpeg+pcma", "rtsp", "digest"),
    "jpeg+pcma_udp": ("jpeg+pcma", "rtspu", "none"),
    "h264_tcp": ("h264", "rtsp", "none"),
    "h264_udp": ("h264", "rtspu", "digest"),
    "h265_tcp": ("h265", "rtsp", "none"),
    "h265_udp": ("h265", "rtspu", "basic"),
    "h264+pcmu_tcp": ("h264+pcmu", "rtsp", "basic"),
    "h264+pcmu_udp": ("h264+pcmu", "rtspu", "none"),
    "h264+aac_udp": ("h264+aac", "rtspu", "none"),     # audio.aac: ADTS
}
# stream.mkv (no --raw): server media, URL scheme, authentication.
MKV_CASES = {
    "mkv_h264+pcmu_tcp": ("h264+pcmu", "rtsp", "none"),
    "mkv_h264+pcmu_udp": ("h264+pcmu", "rtspu", "digest"),
    "mkv_h265_tcp": ("h265", "rtsp", "basic"),
    "mkv_h265_udp": ("h265", "rtspu", "none"),
    "mkv_jpeg+pcma_tcp": ("jpeg+pcma", "rtsp", "none"),
    "mkv_jpeg+pcma_udp": ("jpeg+pcma", "rtspu", "none"),
    "mkv_h264+aac_tcp": ("h264+aac", "rtsp", "none"),       # mpeg4-generic, AAC-hbr
    "mkv_h264+latm_udp": ("h264+latm", "rtspu", "digest"),  # MP4A-LATM
}
# probe on a playing stream: media, authentication, video codec, audio codec.
PROBE_CASES = {
    "probe_jpeg+pcma": ("jpeg+pcma", "digest", "jpeg", "pcma"),
    "probe_h264+pcmu": ("h264+pcmu", "none", "h264", "pcmu"),
    "probe_h265": ("h265", "basic", "h265", None),
    "probe_h264+aac": ("h264+aac", "none", "h264", "aac"),
}
# ffmpeg's clips served at their own pace from a file: seconds, video, audio. sync: a flash and a
# beep from 1.0 s; vfr: frames 40, then 200, then 40 ms apart; silence: 1 s, 3 s of nothing, 1 s.
TIMING_CASES = {
    "mkv_sync_h264+pcmu": (3, "color=c=black:s=320x240:r=25:d=3,drawbox=c=white:t=fill:enable='between(t,1,1.19)'",
                           "aevalsrc='if(between(t,1,1.2),0.5*sin(2*PI*1000*t),0)':s=8000:d=3"),
    "mkv_vfr_h264": (3.76, "testsrc=s=320x240:r=25:d=3,settb=1/1000,setpts='round(1000*if(lt(N,25),N*0.04,"
                           "if(lt(N,30),1+(N-25)*0.2,2+(N-30)*0.04)))'", None),
    "mkv_silence_h264+pcmu": (5, "testsrc=s=320x240:r=25:d=5,select='not(between(t,1,3.999))'",
                              "sine=f=440:r=8000:d=5,asetnsamples=n=160,aselect='not(between(t,1,3.999))'"),
}
# Each packet's RTP time from its own (a hole in the clip stays a hole); mu-law in 20 ms packets.
CLIP_LAUNCH = ("filesrc location={0} ! matroskademux name=d d.video_0 ! queue ! h264parse"
               " ! rtph264pay name=pay0 pt=96 config-interval=-1")
CLIP_AUDIO = (" d.audio_0 ! queue ! audioconvert ! audioresample ! audio/x-raw,rate=8000,channels=1 ! mulawenc"
              " ! rtppcmupay name=pay1 pt=0 max-ptime=20000000 perfect-rtptime=false")
MAX_AV_OFFSET_MS = 40       # flash and beep: one frame at 25 a second
MAX_SPACING_ERROR_MS = 2    # a frame's time against the clip's
MAX_GAP_ERROR_MS = 100      # the silence against the clip's
OTHER_CASES = ["sigterm", "sigterm_mkv", "reconnect", "reconnect_mkv", "wrong_password", "digest_only", "probe_auth", "probe_closed", "probe_timeout", "give_up_404"]
GIVE_UP_LIMIT_S = 8     # a 404 with --retries 1 ends the run well before the module's 10 s retry

VIDEO_CODECS = {"jpeg": ("video.mjpeg", "mjpeg"), "h264": ("video.h264", "h264"), "h265": ("video.h265", "hevc")}
AUDIO_CODECS = {"pcma": "pcm_alaw", "pcmu": "pcm_mulaw", "aac": "aac", "latm": "aac"}
# The summary's codec, rate and channels of each kind of server audio.
AUDIO_FORMATS = {"pcma": ("pcma", G711_RATE, 1), "pcmu": ("pcmu", G711_RATE, 1), "aac": ("aac", AAC_RATE, 1),
                 "latm": ("aac", AAC_RATE, 1)}


def audio_seconds(a, audio):
    """Seconds of sound a summary's audio holds: G.711 a byte a sample, AAC 1024 samples a frame."""
    codec, rate, _ = AUDIO_FORMATS[audio]
    return a["frames"] * AAC_UNIT_SAMPLES / rate if codec == "aac" else a["bytes"] / rate
MKV = "stream.mkv"


class Server:
    """GStreamer's RTSP server in a child process, stopped with SIGTERM."""

    def __init__(self, media, auth="none", port=0, mounts=(), log_auth=False):
        args = [sys.executable, SERVER, "--port", str(port), "--auth", auth, "--user", USER,
                "--password", PASSWORD] + (["--log-auth"] if log_auth else [])
        for m in media.split(",") if media else []:
            args += ["--media", m]
        for path, launch in mounts:
            args += ["--mount", path, launch]
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        ready, _, _ = select.select([self.proc.stdout], [], [], SERVER_START_S)
        line = self.proc.stdout.readline() if ready else ""
        if not line.startswith("ready"):
            rc = self.proc.wait(timeout=PROCESS_LIMIT_S) if ready else None
            err = self.proc.stderr.read() if rc is not None else "(no answer in time)"
            self.stop()
            if rc == EXIT_SKIP or "No module named" in err or "Namespace" in err:
                raise Skip("GStreamer RTSP server cannot run here: " + err.strip().splitlines()[-1])
            raise Fail("server did not start (exit %s): %s" % (rc, err.strip()))
        self.port = int(line.split()[1])

    def url(self, path, scheme="rtsp", password=None):
        cred = "%s:%s@" % (USER, password) if password else ""
        return "%s://%s127.0.0.1:%d/%s" % (scheme, cred, self.port, path)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=PROCESS_LIMIT_S)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def ffprobe(path, entries):
    r = run(["ffprobe", "-v", "error", "-count_frames", "-show_entries", "stream=" + entries, "-of", "json", path])
    check(r.returncode == 0, "ffprobe %s failed: %s" % (path, r.stderr))
    streams = json.loads(r.stdout)["streams"]
    check(len(streams) == 1, "%s: %d streams" % (path, len(streams)))
    return streams[0]


def record(jxrtsp, urls, out, seconds=SECONDS, extra=()):
    r = run([jxrtsp, "record", "--seconds", str(seconds), "--out", out, "--json"] + list(extra) + urls)
    print("$ jxrtsp record --seconds %d --out %s --json %s %s -> exit %d"
          % (seconds, out, " ".join(extra), " ".join(urls), r.returncode))
    return r.returncode, r.stdout, r.stderr


def load_summary(stream_dir):
    with open(os.path.join(stream_dir, "summary.json")) as f:
        return json.load(f)


def stream_dirs(out):
    return sorted(os.path.join(out, d) for d in os.listdir(out) if os.path.isdir(os.path.join(out, d)))


def check_no_password(texts, out):
    """A password given in a URL appears in no output and no file we wrote."""
    for text in texts:
        check(PASSWORD not in text and WRONG not in text, "a password was printed")
    for root, _, files in os.walk(out):
        for name in files:
            if name.endswith((".json", ".log")):
                with open(os.path.join(root, name), errors="replace") as f:
                    text = f.read()
                check(PASSWORD not in text and WRONG not in text, "a password is in " + name)


def check_files(d, media, expect_frames=True, outage=False):
    """ffprobe and a full decode of every file; counts equal the summary's."""
    s = load_summary(d)
    kinds = media.split("+")
    video = next((k for k in kinds if k in VIDEO_CODECS), None)
    audio = next((k for k in kinds if k in AUDIO_CODECS), None)
    line = []
    if video:
        v = s["video"]
        check(v is not None and v["codec"] == video, "summary video codec: %s" % v)
        check((v["width"], v["height"]) == (WIDTH, HEIGHT), "summary size %sx%s" % (v["width"], v["height"]))
        name, ff_codec = VIDEO_CODECS[video]
        check(v["file"] == name, "video file %s" % v["file"])
        path = os.path.join(d, name)
        st = ffprobe(path, "codec_name,width,height,nb_read_frames")
        check(st["codec_name"] == ff_codec, "%s codec %s" % (name, st["codec_name"]))
        check((st["width"], st["height"]) == (WIDTH, HEIGHT), "%s size %sx%s" % (name, st["width"], st["height"]))
        frames = int(st["nb_read_frames"])
        check(frames == v["frames"], "%s: ffprobe counts %d frames, summary %d" % (name, frames, v["frames"]))
        check(os.path.getsize(path) == v["bytes"], "%s: size differs from the summary's bytes" % name)
        if expect_frames:
            want = SECONDS * FPS
            check(want // 2 <= frames <= want * 11 // 10 + 5, "%s: %d frames, expected near %d" % (name, frames, want))
        check(v["key_frames"] >= 1, "no key frame")
        check_decodes(path)
        line.append("%s %dx%d %d frames (%d key)" % (ff_codec, WIDTH, HEIGHT, frames, v["key_frames"]))
        if video == "jpeg":
            check(s["first_jpeg"] == "first.jpg", "no first.jpg in the summary")
            st = ffprobe(os.path.join(d, "first.jpg"), "codec_name,width,height")
            check((st["codec_name"], st["width"], st["height"]) == ("mjpeg", WIDTH, HEIGHT), "first.jpg: %s" % st)
    else:
        check(s["video"] is None, "video in an audio-only summary")
    if audio and AUDIO_FORMATS[audio][0] == "aac":
        # Each unit behind a 7-byte ADTS header: ffprobe counts the units.
        a = s["audio"]
        codec, rate, channels = AUDIO_FORMATS[audio]
        check(a is not None and (a["codec"], a["rate"], a["channels"], a["file"])
              == (codec, rate, channels, "audio.aac"), "summary audio: %s" % a)
        path = os.path.join(d, "audio.aac")
        st = ffprobe(path, "codec_name,sample_rate,channels,nb_read_frames")
        check((st["codec_name"], int(st["sample_rate"]), st["channels"]) == ("aac", rate, channels),
              "audio.aac: %s" % st)
        check(int(st["nb_read_frames"]) == a["frames"],
              "audio.aac: %s frames, summary %d" % (st["nb_read_frames"], a["frames"]))
        check(os.path.getsize(path) == a["bytes"] + 7 * a["frames"], "audio.aac size")
        if expect_frames:
            check(SECONDS / 2 <= audio_seconds(a, audio) <= SECONDS * 1.15, "audio.aac holds %d frames" % a["frames"])
        check_decodes(path)
        line.append("aac %d frames" % a["frames"])
    elif audio:
        a = s["audio"]
        check(a is not None and a["codec"] == audio, "summary audio codec: %s" % a)
        path = os.path.join(d, "audio.wav")
        st = ffprobe(path, "codec_name,sample_rate,channels,duration")
        check(st["codec_name"] == AUDIO_CODECS[audio], "audio.wav codec %s" % st["codec_name"])
        check((int(st["sample_rate"]), st["channels"]) == (G711_RATE, 1), "audio.wav: %s" % st)
        samples = round(float(st["duration"]) * G711_RATE)
        check(samples == a["bytes"], "audio.wav: %d samples, summary %d bytes" % (samples, a["bytes"]))
        check(os.path.getsize(path) == WAV_HEADER + a["bytes"] + (a["bytes"] & 1), "audio.wav size")
        if expect_frames:
            seconds = a["bytes"] / G711_RATE
            check(SECONDS / 2 <= seconds <= SECONDS * 1.15, "audio.wav holds %.2f s" % seconds)
        check_decodes(path)
        line.append("%s %.2f s" % (AUDIO_CODECS[audio], a["bytes"] / G711_RATE))
    else:
        check(s["audio"] is None, "audio in a video-only summary")
    check(s["write_errors"] == 0 and s["skipped_frames"] == 0, "write errors or skipped frames")
    check(s["first_frame_ms"] is not None, "no time to first frame")
    check_counts(s, outage)
    return s, ", ".join(line)


def packet_times(path, kind):
    """pts of every packet of the file's video ("v") or audio ("a") stream, in ms."""
    r = run(["ffprobe", "-v", "error", "-select_streams", kind, "-show_entries", "packet=pts_time", "-of", "csv=p=0",
             path])
    check(r.returncode == 0, "ffprobe packets of %s failed: %s" % (path, r.stderr))
    return [round(float(t) * 1000) for t in r.stdout.split()]


def check_increasing(times, what):
    """Strictly increasing; the steps between packets in ms."""
    check(len(times) > 0, "no %s packets" % what)
    steps = [b - a for a, b in zip(times, times[1:])]
    check(all(d > 0 for d in steps), "%s timestamps do not increase: %s" % (what, times[:80]))
    return steps


def check_counts(s, outage):
    """The module's counts: every frame it delivered was recorded; on loopback
    no packet is lost and no frame dropped but the one in flight when a
    session broke (one a reconnect). frames_lost is the video's frames dropped."""
    for kind in ("video", "audio"):
        t = s[kind]
        check(t is None or (t["frames_delivered"] == t["frames"] <= t["packets_received"] and t["packets_lost"] == 0
                            and t["frames_dropped"] <= (s["reconnects"] if outage else 0) and t["jitter_ms"] >= 0),
              "%s counts: %s" % (kind, t))
    check(s["video"] is None or s["video"]["frames_lost"] == s["video"]["frames_dropped"], "video: %s" % s["video"])


def check_mkv(d, media, expect_frames=True, outage=False, even=True):
    """stream.mkv: codecs, size, frame counts equal to the summary's, video and
    audio timestamps strictly increasing from 0, a clean full decode; even:
    video 40 ms apart as the live source's clock."""
    s = load_summary(d)
    kinds = media.split("+")
    video = next((k for k in kinds if k in VIDEO_CODECS), None)
    audio = next((k for k in kinds if k in AUDIO_CODECS), None)
    path = os.path.join(d, MKV)
    check(sorted(os.listdir(d)) == sorted([MKV, "summary.json"] + (["first.jpg"] if video == "jpeg" else [])),
          "files: %s" % os.listdir(d))
    r = run(["ffprobe", "-v", "error", "-count_frames", "-show_entries",
             "stream=codec_type,codec_name,width,height,nb_read_frames,sample_rate,channels", "-of", "json", path])
    check(r.returncode == 0, "ffprobe %s failed: %s" % (path, r.stderr))
    streams = {st["codec_type"]: st for st in json.loads(r.stdout)["streams"]}
    check(sorted(streams) == sorted((["video"] if video else []) + (["audio"] if audio else [])),
          "%s streams: %s" % (MKV, sorted(streams)))
    line = []
    firsts = []
    if video:
        v, st = s["video"], streams["video"]
        check(v is not None and v["codec"] == video and v["file"] == MKV, "summary video: %s" % v)
        check(st["codec_name"] == VIDEO_CODECS[video][1], "video codec %s" % st["codec_name"])
        check((st["width"], st["height"]) == (WIDTH, HEIGHT), "video size %sx%s" % (st["width"], st["height"]))
        frames = int(st["nb_read_frames"])
        check(frames == v["frames"], "ffprobe counts %d video frames, summary %d" % (frames, v["frames"]))
        if expect_frames:
            want = SECONDS * FPS
            check(want // 2 <= frames <= want * 11 // 10 + 5, "%d frames, expected near %d" % (frames, want))
        times = packet_times(path, "v")
        check(len(times) == frames, "%d video packets, %d frames" % (len(times), frames))
        steps = check_increasing(times, "video")
        firsts.append(times[0])
        if even:
            # The camera's clock, not the arrival (an outage aside): the video leads, so a sender report moves it not.
            uneven = [d for d in steps if abs(d - 1000 // FPS) > 1 and d < RETRY_GAP_MS]
            check(not uneven, "video steps: %s" % uneven[:20])
        line.append("%s %dx%d %d frames, %d..%d ms, steps %d..%d ms"
                    % (st["codec_name"], WIDTH, HEIGHT, frames, times[0], times[-1], min(steps), max(steps)))
    if audio:
        a, st = s["audio"], streams["audio"]
        codec, rate, channels = AUDIO_FORMATS[audio]
        check(a is not None and a["codec"] == codec and a["file"] == MKV, "summary audio: %s" % a)
        check((a["rate"], a["channels"]) == (rate, channels), "summary audio: %s" % a)
        check(st["codec_name"] == AUDIO_CODECS[audio], "audio codec %s" % st["codec_name"])
        check((int(st["sample_rate"]), st["channels"]) == (rate, channels), "audio: %s" % st)
        times = packet_times(path, "a")
        check(len(times) == a["frames"], "%d audio packets, summary %d frames" % (len(times), a["frames"]))
        check_increasing(times, "audio")
        firsts.append(times[0])
        if expect_frames:
            check(SECONDS / 2 <= audio_seconds(a, audio) <= SECONDS * 1.15, "audio holds %d bytes" % a["bytes"])
        line.append("%s %d packets, %d..%d ms" % (st["codec_name"], len(times), times[0], times[-1]))
    check(min(firsts) == 0, "first packets at %s ms: the file does not start at 0" % firsts)
    check(s["write_errors"] == 0 and s["skipped_frames"] == 0, "write errors or skipped frames")
    check_counts(s, outage)
    check_decodes(path)
    return s, "; ".join(line)


def case_record(jxrtsp, name, tmp):
    mkv = name in MKV_CASES
    media, scheme, auth = MKV_CASES[name] if mkv else RECORD_CASES[name]
    server = Server(media, auth)
    try:
        out = os.path.join(tmp, "out")
        url = server.url(media, scheme, PASSWORD if auth != "none" else None)
        rc, stdout, stderr = record(jxrtsp, [url], out, extra=() if mkv else ("--raw",))
    finally:
        server.stop()
    check(rc == 0, "jxrtsp record exit %d: %s" % (rc, stderr))
    check_no_password([stdout, stderr], out)
    dirs = stream_dirs(out)
    check(len(dirs) == 1, "folders: %s" % dirs)
    printed = json.loads(stdout)
    s, line = check_mkv(dirs[0], media) if mkv else check_files(dirs[0], media)
    check(printed == [s], "--json output differs from summary.json")
    codes = [(r["code"], r["error"]) for r in s["states"]]
    check(codes == [(4101, 0)], "state reports %s" % codes)
    print("PASS %s: %s" % (name, line))


def first_meta(path, kind, filters, key, accept):
    """pts and value of the first frame whose KEY (set by the filters) is accepted."""
    r = run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:" + kind, "-%sf" % kind,
             "%s,%smetadata=mode=print:key=%s:file=-" % (filters, "a" if kind == "a" else "", key), "-f", "null", "-"])
    found = [(float(t) * 1000, float(v)) for t, v in re.findall(r"pts_time:(\S+)\s+%s=(\S+)" % key, r.stdout)]
    found = [f for f in found if accept(f[1])]
    check(r.returncode == 0 and found, "no %s in %s: %s" % (key, path, r.stderr))
    return found[0]


def case_timing(jxrtsp, name, tmp):
    """A clip served at its own pace and recorded: stream.mkv carries each
    frame's own time, on one base for both media."""
    seconds, video, audio = TIMING_CASES[name]
    clip = os.path.join(tmp, "clip.mkv")
    r = run(["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", video + ",format=yuv420p"] +
            (["-f", "lavfi", "-i", audio, "-c:a", "pcm_s16le"] if audio else []) +
            ["-fps_mode", "passthrough", "-c:v", "libx264", "-preset", "ultrafast", "-bf", "0", clip])
    check(r.returncode == 0, "ffmpeg could not make the clip: " + r.stderr)
    server = Server(None, mounts=[("/clip", CLIP_LAUNCH.format(clip) + (CLIP_AUDIO if audio else ""))])
    try:   # the clip plays from PLAY on; two more seconds take it whole
        rc, _, stderr = record(jxrtsp, [server.url("clip")], os.path.join(tmp, "out"), math.ceil(seconds) + 2)
    finally:
        server.stop()
    check(rc == 0, "jxrtsp record exit %d: %s" % (rc, stderr))
    d = os.path.join(tmp, "out", "127.0.0.1_clip")
    _, line = check_mkv(d, "h264+pcmu" if audio else "h264", expect_frames=False, even=False)
    path = os.path.join(d, MKV)
    if name == "mkv_sync_h264+pcmu":
        flash = first_meta(path, "v", "signalstats", "lavfi.signalstats.YAVG", lambda y: y > 128)[0]
        beep = first_meta(path, "a", "silencedetect=noise=-30dB:duration=0.1", "lavfi.silence_end", bool)[1] * 1000
        check(abs(beep - flash) <= MAX_AV_OFFSET_MS, "beep at %.1f ms, flash at %.1f ms" % (beep, flash))
        line += "; flash at %.1f ms, beep at %.1f ms: A/V offset %+.1f ms" % (flash, beep, beep - flash)
    for kind in ("v", "a") if name == "mkv_silence_h264+pcmu" else ("v",) if name == "mkv_vfr_h264" else ():
        rec, src = packet_times(path, kind), packet_times(clip, kind)
        gaps = [[b - a for a, b in zip(t, t[1:]) if b - a >= 1000] for t in (rec, src)]
        check(len(gaps[0]) == len(gaps[1]) and all(abs(g - w) <= MAX_GAP_ERROR_MS for g, w in zip(*gaps)),
              "%s: gaps %s ms, the clip's %s ms" % (kind, gaps[0], gaps[1]))
        line += "; %s gaps %s ms (clip %s)" % (kind, gaps[0], gaps[1])
        if kind == "v":   # sound is cut into packets of its own: only its gap is compared
            errors = [abs((r - rec[0]) - (c - src[0])) for r, c in zip(rec, src)]
            check(len(rec) == len(src) and max(errors) <= MAX_SPACING_ERROR_MS,
                  "%d frames of the clip's %d, times off by up to %d ms" % (len(rec), len(src), max(errors)))
            line += ", frame times within %d ms of the clip's" % max(errors)
    print("PASS %s: %s" % (name, line))


def wait_for(cond, limit_s, what):
    end = time.monotonic() + limit_s
    while time.monotonic() < end:
        if cond():
            return
        time.sleep(0.1)
    raise Fail("timed out waiting for " + what)


def file_size(path):
    return os.path.getsize(path) if os.path.exists(path) else 0


def case_sigterm(jxrtsp, tmp, mkv):
    """SIGTERM mid-recording: clean exit, every file complete. Standard error
    is a terminal here, so the progress lines tell when both media flow."""
    server = Server("jpeg+pcma")
    out = os.path.join(tmp, "out")
    master, slave = pty.openpty()
    try:
        proc = subprocess.Popen([jxrtsp, "record", "--out", out] + ([] if mkv else ["--raw"]) + [server.url("jpeg+pcma")],
                                stdout=subprocess.PIPE, stderr=slave, text=True)
        os.close(slave)
        progress = Lines(os.fdopen(master, errors="replace"))
        flowing = re.compile(r"playing  video [1-9][0-9]*  audio [1-9]")
        wait_for(lambda: any(flowing.search(line) for line in list(progress.lines)), PROCESS_LIMIT_S,
                 "a progress line with video and audio")
        proc.send_signal(signal.SIGTERM)
        stdout = proc.communicate(timeout=PROCESS_LIMIT_S)[0]
        progress.thread.join(PROCESS_LIMIT_S)
    finally:
        server.stop()
    print("$ jxrtsp record --out %s URL; SIGTERM once the progress line shows video and audio -> exit %d"
          % (out, proc.returncode))
    text = "".join(progress.lines)
    check(proc.returncode == 0, "exit %d after SIGTERM: %s" % (proc.returncode, text))
    check("stopped by signal 15" in text, "no stop line: " + text)
    d = os.path.join(out, "127.0.0.1_jpeg_pcma")
    check(d + ":" in stdout, "no summary line: " + stdout)
    _, line = check_mkv(d, "jpeg+pcma", False) if mkv else check_files(d, "jpeg+pcma", expect_frames=False)
    print("PASS sigterm%s: %s" % ("_mkv" if mkv else "", line))


class Lines:
    """Collects a child's standard error lines as they come."""

    def __init__(self, pipe):
        self.lines = []
        self.thread = threading.Thread(target=self._read, args=(pipe,), daemon=True)
        self.thread.start()

    def _read(self, pipe):
        try:
            for line in pipe:
                self.lines.append(line)
        except OSError:   # a terminal's reading side ends with EIO
            pass

    def count(self, text):
        return sum(text in line for line in list(self.lines))


def stop_after_replay(proc, err, video):
    """Waits for the stream playing a second time and pictures after it, then
    stops the recording with SIGTERM; its standard output."""
    wait_for(lambda: err.count(": playing") >= 2, PROCESS_LIMIT_S, "the stream playing again")
    size = file_size(video)
    wait_for(lambda: file_size(video) > size, PROCESS_LIMIT_S, "pictures after the reconnect")
    proc.send_signal(signal.SIGTERM)
    return proc.communicate(timeout=PROCESS_LIMIT_S)[0]


def case_reconnect(jxrtsp, tmp, mkv):
    """Server stopped mid-recording and started again on the same port: the
    recording goes on in the same files after the module's retry; stream.mkv
    goes on with later timestamps, the outage a gap between them."""
    server = Server("jpeg+pcma")
    port = server.port
    out = os.path.join(tmp, "out")
    proc = subprocess.Popen([jxrtsp, "record", "--out", out, "--json"] + ([] if mkv else ["--raw"]) +
                            [server.url("jpeg+pcma")], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    err = Lines(proc.stderr)
    d = os.path.join(out, "127.0.0.1_jpeg_pcma")
    video = os.path.join(d, MKV if mkv else "video.mjpeg")
    try:
        wait_for(lambda: file_size(video) > 0, PROCESS_LIMIT_S, "first frames")
        server.stop()
        server = Server("jpeg+pcma", port=port)
        # The retry comes 10 s after the failure; then more pictures arrive.
        stdout = stop_after_replay(proc, err, video)
    finally:
        server.stop()
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    print("$ jxrtsp record --out %s URL; server restarted on its port after the first frame, SIGTERM once "
          "pictures follow the second 'playing' -> exit %d" % (out, proc.returncode))
    check(proc.returncode == 0, "exit %d: %s" % (proc.returncode, "".join(err.lines)))
    s, line = (check_mkv(d, "jpeg+pcma", False, outage=True) if mkv
               else check_files(d, "jpeg+pcma", expect_frames=False, outage=True))
    if mkv:
        # The outage (at least the module's 10 s retry) shows as one gap.
        steps = check_increasing(packet_times(os.path.join(d, MKV), "v"), "video")
        gaps = [g for g in steps if g >= RETRY_GAP_MS]
        check(len(gaps) == 1, "video gaps of 10 s or more: %s" % gaps)
        line += "; one gap of %d ms" % gaps[0]
    check(json.loads(stdout) == [s], "--json output differs from summary.json")
    codes = [(r["code"], r["error"]) for r in s["states"]]
    check(s["reconnects"] == 1, "reconnects %d, reports %s" % (s["reconnects"], codes))
    check(codes[0] == (4101, 0) and codes[-1] == (4101, 0) and (4102, 0) in codes, "reports %s" % codes)
    print("PASS reconnect%s: %s; reports %s" % ("_mkv" if mkv else "", line, codes))


def case_wrong_password(jxrtsp, tmp):
    """Refused credentials as record shows them: exit 1, reports -29 no sooner
    than 10 s apart, no media files, and the password nowhere."""
    server = Server("pcmu", "digest")
    seconds = 12
    out = os.path.join(tmp, "out")
    try:
        rc, stdout, stderr = record(jxrtsp, [server.url("pcmu", "rtsp", WRONG)], out, seconds)
    finally:
        server.stop()
    check(rc == 1, "exit %d for a refused stream" % rc)
    check_no_password([stdout, stderr], out)
    d = stream_dirs(out)[0]
    check(sorted(os.listdir(d)) == ["summary.json"], "files: %s" % os.listdir(d))
    s = load_summary(d)
    refused = [r["at_ms"] for r in s["states"] if r["code"] == 4101]
    check(all(r["error"] == -29 for r in s["states"] if r["code"] == 4101), "reports %s" % s["states"])
    # At most one attempt per 10 s: 12 s allow two.
    check(1 <= len(refused) <= seconds // 10 + 1, "%d refusals in %d s" % (len(refused), seconds))
    gaps = [b - a for a, b in zip(refused, refused[1:])]
    check(all(g >= RETRY_GAP_MS for g in gaps), "attempts %s ms apart" % gaps)
    check(s["video"] is None and s["audio"] is None, "media from a refused stream")
    print("PASS wrong_password: %d refusal(s) (-29) at %s ms" % (len(refused), refused))


def case_digest_only(jxrtsp, tmp):
    """A mount that offers only Digest: the password never goes on the wire in clear."""
    server = Server("pcmu", "digest", log_auth=True)
    out = os.path.join(tmp, "out")
    try:
        rc, stdout, stderr = record(jxrtsp, [server.url("pcmu", "rtsp", PASSWORD)], out, 3)
    finally:
        server.stop()
    schemes = [line.split()[1] for line in server.proc.stdout.read().splitlines() if line.startswith("auth ")]
    check(rc == 0, "exit %d: %s" % (rc, stderr))
    check(schemes and all(x == "Digest" for x in schemes), "Authorization schemes the server saw: %s" % schemes)
    s = load_summary(stream_dirs(out)[0])
    check(s["audio"] is not None and s["audio"]["frames"] > 0, "no audio frames: %s" % s["audio"])
    print("PASS digest_only: %d requests with credentials, all Digest; %d audio frames"
          % (len(schemes), s["audio"]["frames"]))


def case_give_up_404(jxrtsp, tmp):
    """A mount the server does not have, recorded with --retries 1: the run
    ends at the first failure with exit 1, saying why in words (no bare codes)."""
    server = Server("h264")
    out = os.path.join(tmp, "out")
    start = time.monotonic()
    try:
        rc, stdout, stderr = record(jxrtsp, [server.url("missing")], out, 60, ["--retries", "1"])
    finally:
        server.stop()
    took = time.monotonic() - start
    print(stderr)
    check(rc == 1 and took < GIVE_UP_LIMIT_S, "exit %d after %.1f s" % (rc, took))
    check("DESCRIBE: 404" in stderr and "giving up" in stderr, "no failure line naming the 404: %r" % stderr)
    # Standard output is the JSON summary, whose states keep their codes for machines.
    check("-28" not in stderr and "4101" not in stderr, "a bare code was printed")
    s = load_summary(stream_dirs(out)[0])
    check(s["last_error"]["status"] == 404 and s["last_error"]["phase"] == "describing", "last_error %s" % s["last_error"])
    check(s["gave_up"] is not None, "gave_up missing")
    print("PASS give_up_404: exit 1 after %.1f s; last_error %s; gave_up %s" % (took, s["last_error"], s["gave_up"]))


def probe(jxrtsp, url, extra=()):
    r = run([jxrtsp, "probe", "--json"] + list(extra) + [url])
    print("$ jxrtsp probe --json %s %s -> exit %d: %s" % (" ".join(extra), url, r.returncode, r.stdout.strip()))
    check(PASSWORD not in r.stdout + r.stderr and WRONG not in r.stdout + r.stderr, "a password was printed")
    return r.returncode, json.loads(r.stdout)


def case_probe(jxrtsp, name):
    if name == "probe_closed":
        rc, r = probe(jxrtsp, "rtsp://127.0.0.1:%d/x" % free_port())
        check(rc == 4 and r["status"] == "unreachable", "closed port: exit %d" % rc)
    elif name == "probe_timeout":
        # A server that accepts and never answers.
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        s.listen(1)
        try:
            rc, r = probe(jxrtsp, "rtsp://127.0.0.1:%d/x" % s.getsockname()[1], ["--timeout", "2"])
        finally:
            s.close()
        check(rc == 5 and r["status"] == "timeout", "silent server: exit %d" % rc)
    elif name in PROBE_CASES:
        media, auth, video, audio = PROBE_CASES[name]
        server = Server(media, auth)
        try:
            rc, r = probe(jxrtsp, server.url(media, "rtsp", PASSWORD if auth != "none" else None))
        finally:
            server.stop()
        check(rc == 0 and r["status"] == "ok", "exit %d" % rc)
        check(r["video"] == {"codec": video, "width": WIDTH, "height": HEIGHT, "fps": float(FPS)},
              "video %s" % r["video"])
        want_audio = dict(zip(("codec", "rate", "channels"), AUDIO_FORMATS[audio])) if audio else None
        check(r["audio"] == want_audio, "audio %s" % r["audio"])
    else:
        server = Server("jpeg+pcma", "digest")
        try:
            rc, r = probe(jxrtsp, server.url("jpeg+pcma", "rtsp", WRONG))
        finally:
            server.stop()
        check(rc == 3 and r["status"] == "auth_refused" and r["error"] == -29, "exit %d" % rc)
    print("PASS " + name)


def run_case(jxrtsp, name):
    tmp = tempfile.mkdtemp(prefix="jxrtsp-interop-")
    need_tools("ffprobe", "ffmpeg")
    if "mkv" in name and "NOT IN THIS BUILD" in run([jxrtsp, "--help"]).stdout:
        raise Skip("jxrtsp built without libavformat: no stream.mkv")
    try:
        if name in RECORD_CASES or name in MKV_CASES:
            case_record(jxrtsp, name, tmp)
        elif name in TIMING_CASES:
            case_timing(jxrtsp, name, tmp)
        elif name in ("sigterm", "sigterm_mkv"):
            case_sigterm(jxrtsp, tmp, name.endswith("_mkv"))
        elif name in ("reconnect", "reconnect_mkv"):
            case_reconnect(jxrtsp, tmp, name.endswith("_mkv"))
        elif name == "wrong_password":
            case_wrong_password(jxrtsp, tmp)
        elif name == "digest_only":
            case_digest_only(jxrtsp, tmp)
        elif name == "give_up_404":
            case_give_up_404(jxrtsp, tmp)
        else:
            case_probe(jxrtsp, name)
    except Fail as e:
        raise Fail("%s (files in %s)" % (e, tmp))
    shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(__doc__, list(RECORD_CASES) + list(MKV_CASES) + list(TIMING_CASES) + list(PROBE_CASES) + OTHER_CASES,
                  run_case))
