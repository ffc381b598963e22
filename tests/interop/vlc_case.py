#!/usr/bin/python3
"""Interop case: `jxrtsp record` from VLC's RTSP output, on 127.0.0.1 only.

  vlc_case.py --jxrtsp PATH vlc_udp      exit 0 pass, 1 fail, 77 skip (with the reason)

VLC streams an H.264 clip with mu-law audio (made here by ffmpeg from the
committed tests/data/rtp/h264_stap.h264) through `#rtp{sdp=rtsp://...}`, which
serves unicast UDP only, so the recording uses rtspu://. The recording,
stream.mkv (or the elementary files of a build without libavformat), must pass
ffprobe and a full ffmpeg decode, and VLC must play stream.mkv to its end with
its video and audio decoders and no decoding error. VLC refuses to run as root:
run by root, it runs as nobody (setpriv, or a user namespace where no other
uid is mapped) with a HOME of its own. Debian packages: vlc-bin,
vlc-plugin-base, ffmpeg.
"""
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from interop_util import PROCESS_LIMIT_S, Fail, Skip, check, check_decodes, free_port, main, need_tools, run, \
    stream_fields

HERE = os.path.dirname(os.path.abspath(__file__))
CLIP = os.path.join(HERE, "..", "data", "rtp", "h264_stap.h264")
SECONDS = 4
CLIP_SECONDS = 30
START_S = 20


# VLC refuses to run as root. Ways to start it as nobody, tried in turn:
# setpriv (needs nobody's uid to exist here), then a user namespace of its own
# in which this user is nobody (a root-only container maps no other uid; the
# files stay this user's).
AS_NOBODY = (["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"],
             ["unshare", "--map-user=65534", "--map-group=65534"])


def nobody_prefix():
    """The command prefix that runs a program as nobody, and why none works."""
    if os.geteuid() != 0:
        return [], ""
    errors = []
    for prefix in AS_NOBODY:
        if shutil.which(prefix[0]) is None:
            errors.append("%s not installed" % prefix[0])
            continue
        r = run(prefix + ["id", "-u"])
        if r.returncode == 0 and r.stdout.strip() == "65534":
            return prefix, ""
        errors.append("%s: %s" % (prefix[0], (r.stderr or r.stdout).strip()))
    return None, "; ".join(errors)


# What VLC says while it plays a file: each decoder it opens, the end of the
# input, and any trouble with the file's contents.
VLC_DECODER = re.compile(r"using (video|audio) decoder module")
VLC_TROUBLE = re.compile(r"decoder error|corrupt|no suitable decoder|demux error|cannot decode", re.I)


def vlc_plays(path, env, nobody):
    """Failures of VLC playing the file to its end, without a screen or sound."""
    os.chmod(path, 0o644)
    r = run(nobody + ["cvlc", "-I", "dummy", "--play-and-exit", "--vout=dummy", "--aout=dummy", "-vv", path],
            env=env)
    text = r.stdout + r.stderr
    kinds = sorted(set(m.group(1) for m in VLC_DECODER.finditer(text)))
    failures = []
    if kinds != ["audio", "video"]:
        failures.append("VLC opened decoders for %s only" % kinds)
    if "EOF reached" not in text:
        failures.append("VLC did not play to the end")
    trouble = [line for line in text.splitlines() if VLC_TROUBLE.search(line)]
    if trouble:
        failures.append("VLC: " + " | ".join(trouble[:5]))
    return failures


def wait_listening(vlc, port):
    """Until VLC listens on the port; a VLC that ended skips the case."""
    end = time.monotonic() + START_S
    while time.monotonic() < end:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            if vlc.poll() is not None:
                raise Skip("VLC ended at start: " + vlc.stderr.read().strip()[-300:])
            time.sleep(0.2)
    raise Fail("VLC did not listen within %d s" % START_S)


def run_case(jxrtsp, _):
    need_tools("cvlc", "ffmpeg", "ffprobe")
    nobody, why = nobody_prefix()
    if nobody is None:
        raise Skip("VLC cannot be started as another user than root here: " + why)
    tmp = tempfile.mkdtemp(prefix="jxrtsp-vlc-")
    os.chmod(tmp, 0o777)
    clip = os.path.join(tmp, "clip.mkv")
    # The committed clip looped to a length VLC streams without restarting.
    once = os.path.join(tmp, "once.mkv")
    r = run(["ffmpeg", "-v", "error", "-y", "-r", "25", "-i", CLIP, "-f", "lavfi", "-i",
             "sine=frequency=440:sample_rate=8000:duration=1", "-c:v", "copy", "-c:a", "pcm_mulaw", "-shortest", once])
    if r.returncode == 0:
        r = run(["ffmpeg", "-v", "error", "-y", "-stream_loop", str(CLIP_SECONDS), "-i", once, "-c", "copy",
                 "-t", str(CLIP_SECONDS), clip])
    check(r.returncode == 0, "clip not made: " + r.stderr)
    os.chmod(clip, 0o644)
    port = free_port()
    env = dict(os.environ, HOME=tmp)
    vlc = subprocess.Popen(nobody + ["cvlc", "-q", clip, "--sout", "#rtp{sdp=rtsp://127.0.0.1:%d/s}" % port],
                           cwd=tmp, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    try:
        wait_listening(vlc, port)
        out = os.path.join(tmp, "out")
        mkv = "NOT IN THIS BUILD" not in run([jxrtsp, "--help"]).stdout
        r = run([jxrtsp, "record", "--seconds", str(SECONDS), "--out", out, "rtspu://127.0.0.1:%d/s" % port] +
                ([] if mkv else ["--raw"]))
    finally:
        vlc.terminate()
        vlc.wait(timeout=PROCESS_LIMIT_S)
    dirs = [os.path.join(out, d) for d in os.listdir(out)] if os.path.isdir(out) else []
    dirs = [d for d in dirs if os.path.isdir(d)]
    check(r.returncode == 0 and len(dirs) == 1,
          "record exit %d, folders %s: %s %s" % (r.returncode, dirs, r.stdout, r.stderr))
    summary = json.load(open(os.path.join(dirs[0], "summary.json")))
    files = [("stream.mkv", "h264 pcm_mulaw")] if mkv else [("video.h264", "h264"), ("audio.wav", "pcm_mulaw")]
    for name, codecs in files:
        path = os.path.join(dirs[0], name)
        found = " ".join(fields[0] for fields in stream_fields(path))
        check(found == codecs, "%s: codecs %r (files in %s)" % (name, found, tmp))
        check_decodes(path)
    failures = vlc_plays(os.path.join(dirs[0], "stream.mkv"), env, nobody) if mkv else []
    video = summary.get("video") or {}
    if video.get("frames", 0) < SECONDS * 25 // 2 or video.get("key_frames", 0) < 1:
        failures.append("video frames %s" % video)
    check(not failures, "; ".join(failures) + " (files in %s)" % tmp)
    print("vlc: %d video frames (%d key), %d audio frames%s" %
          (video["frames"], video["key_frames"], (summary.get("audio") or {}).get("frames", 0),
           "; stream.mkv plays in VLC" if mkv else ""))
    shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(__doc__, ["vlc_udp"], run_case))
