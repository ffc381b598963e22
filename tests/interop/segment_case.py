#!/usr/bin/python3
"""Interop case for `jxrtsp record --segment`, on 127.0.0.1 only.

  segment_case.py --jxrtsp PATH record_segments     run the case (exit 0 pass, 1 fail, 77 skip)
  segment_case.py --list                            the case names

Records /h264+aac and /pcmu from `jxrtsp serve` (Digest authentication) with
--segment 2 for 7 s, named by a --name template, with --progress into a file.
Then for each stream: summary.json parses and lists at least three files
whose frames add up to the stream's (none skipped at a cut), each start
later than the one before;
every file exists, decodes with ffmpeg -v warning printing nothing, carries
its start as its date (DateUTC, which ffprobe shows as creation_time), and its
video begins with a key frame at time 0 and goes on in increasing times. Every
progress line parses as JSON, with its fields, and no line or summary holds
the password.
"""
import glob
import json
import os
import shutil
import sys
import tempfile

from interop_util import check, main, need_tools, run, stream_fields
from serve_case import PASSWORD, USER, Server

SECONDS = 7
SEGMENT_S = 2
PATHS = ["h264+aac", "pcmu"]
PROGRESS_FIELDS = {"time", "url", "dir", "state", "frames", "bytes", "bitrate_kbps", "packets_lost", "frames_lost",
                   "elapsed_s"}
# ffmpeg's own mono G.711 Matroska files decode with this one line too: the
# format has a channel count and no layout.
KNOWN_WARNING = "Guessed Channel Layout for Input Stream #0.0 : mono"


def check_file(path, start_utc, video):
    r = run(["ffmpeg", "-nostdin", "-v", "warning", "-i", path, "-f", "null", "-"])
    lines = [l for l in r.stderr.splitlines() if l.strip() and l.strip() != KNOWN_WARNING]
    check(r.returncode == 0 and not lines, "%s: ffmpeg -v warning: %s" % (path, r.stderr.strip()[:400]))
    date = run(["ffprobe", "-v", "error", "-show_entries", "format_tags=creation_time", "-of", "csv=p=0", path])
    check(date.stdout.strip()[:23] == start_utc[:23], "%s: date %r, start %s" % (path, date.stdout, start_utc))
    if not video:
        return
    r = run(["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries", "packet=pts_time,flags",
             "-of", "csv=p=0", path])
    packets = [line.split(",") for line in r.stdout.split()]
    check(packets and float(packets[0][0]) == 0.0 and packets[0][1].startswith("K"),
          "%s: first video packet %r, not a key frame at 0" % (path, packets[:1]))
    times = [float(p[0]) for p in packets]
    check(all(a < b for a, b in zip(times, times[1:])), "%s: video times do not increase" % path)


def case_segments(jxrtsp):
    need_tools("ffmpeg", "ffprobe")
    server = Server(jxrtsp, "digest")
    out = tempfile.mkdtemp(prefix="jxrtsp-segments-")
    progress = os.path.join(out, "progress.jsonl")
    try:
        urls = ["rtsp://%s:%s@127.0.0.1:%d/%s" % (USER, PASSWORD, server.port, p) for p in PATHS]
        r = run([jxrtsp, "record", "--seconds", str(SECONDS), "--segment", str(SEGMENT_S), "--out", out,
                 "--name", "%host_%path/%Y%m%d-%H%M%S-%n.mkv", "--progress", progress] + urls)
        print(r.stdout + r.stderr)
        check(r.returncode == 0, "record exited with %d" % r.returncode)
        for path in PATHS:
            folder = os.path.join(out, "127.0.0.1_" + path.replace("+", "_"))
            with open(os.path.join(folder, "summary.json")) as f:
                text = f.read()
            check(PASSWORD not in text, "the summary holds the password")
            s = json.loads(text)
            segments = s["segments"]
            counted = sum((s[k] or {}).get("frames", 0) for k in ("video", "audio"))
            check(len(segments) >= 3, "%s: %d files" % (path, len(segments)))
            # Sound from before a cut that arrives after it goes into the file before, none is left out.
            check(s["skipped_frames"] == 0, "%s: %d frames skipped" % (path, s["skipped_frames"]))
            check(sum(g["frames"] for g in segments) == counted,
                  "%s: the files' frames %r do not add up to %d" % (path, [g["frames"] for g in segments], counted))
            starts = [g["start_utc"] for g in segments]
            check(starts == sorted(set(starts)), "%s: starts %r" % (path, starts))
            for n, g in enumerate(segments, 1):
                check(g["file"].startswith(folder + "/") and g["file"].endswith("-%d.mkv" % n), "file %s" % g["file"])
                check_file(g["file"], g["start_utc"], s["video"] is not None)
            found = sorted(glob.glob(os.path.join(folder, "*.mkv")))
            check(found == sorted(g["file"] for g in segments), "%s: files %r" % (path, found))
            print("%s: %d files, %r frames, decode cleanly" % (path, len(segments), [g["frames"] for g in segments]))
        with open(progress) as f:
            lines = [json.loads(line) for line in f]
        check(len(lines) >= len(PATHS) * (SECONDS - 2), "%d progress lines" % len(lines))
        for line in lines:
            check(set(line) == PROGRESS_FIELDS, "progress line fields %r" % sorted(line))
            check(PASSWORD not in line["url"], "a progress line holds the password")
        check(any(line["state"] == "playing" and line["frames"] > 0 for line in lines), "no playing progress line")
        print("%d progress lines, the last: %r" % (len(lines), lines[-1]))
    finally:
        server.stop()
        shutil.rmtree(out, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(__doc__, ["record_segments"], lambda jxrtsp, case: case_segments(jxrtsp)))
