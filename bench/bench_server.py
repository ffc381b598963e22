#!/usr/bin/python3
"""GStreamer's RTSP server as the cameras of bench_streams.py, on 127.0.0.1.

  bench_server.py --clip CLIP [--fps 25] [--paths N] [--silent M] [--port 0]

Mounts /s1 ... /sN share ONE media that plays CLIP (H.264 Annex B, one access
unit per access unit delimiter) in a loop at --fps, as a camera does: the media
is live, so it cannot seek, and a late client's PLAY with a Range joins what
is playing instead of moving everyone back. Mounts /q1 ... /qM share one silent
media: it sends the clip's first access unit (so the description has its
parameter sets) and then nothing, a camera that plays and stays quiet.

Listens with a backlog of 4096 (the default 5 drops connects when many clients
start at once). Prints "ready PORT" once it listens, then every 0.1 s
"frames KIND PUSHED DUE LATE": frames handed to the media since it started,
frames due by the clock, frames handed over more than one frame interval late.
SIGTERM or SIGINT ends it. Debian packages: python3-gi, gir1.2-gst-rtsp-server-1.0,
gstreamer1.0-plugins-bad (h264parse).
"""
import argparse
import signal
import sys
import threading
import time

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtspServer  # noqa: E402

BACKLOG = 4096
REPORT_MS = 100
AUD = b"\x00\x00\x00\x01\x09"   # access unit delimiter: every access unit starts with one
LAUNCH = ("( appsrc name=src is-live=true do-timestamp=true format=time "
          "caps=video/x-h264,stream-format=byte-stream,alignment=au,framerate={fps}/1 "
          "! h264parse ! rtph264pay name=pay0 pt=96 config-interval=-1 )")


def access_units(path):
    with open(path, "rb") as f:
        data = f.read()
    starts = []
    at = data.find(AUD)
    while at >= 0:
        starts.append(at)
        at = data.find(AUD, at + len(AUD))
    if not starts:
        raise SystemExit("%s has no access unit delimiters (encode with aud=1)" % path)
    return [data[a:b] for a, b in zip(starts, starts[1:] + [len(data)])]


class Feed:
    """Pushes access units into a media's appsrc at the frame rate on a thread of its own."""

    def __init__(self, kind, units, fps, silent):
        self.kind = kind
        self.units = units
        self.interval = 1.0 / fps
        self.silent = silent
        self.lock = threading.Lock()
        self.pushed = 0
        self.late = 0
        self.generation_start = None    # monotonic start of the current media
        self.generation_base = 0        # frames pushed by the earlier ones
        self.stop = threading.Event()
        self.thread = None

    def attach(self, src):
        """A new media was built (the first client, or the first after all left)."""
        self.detach()
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self._run, args=(src, self.stop), daemon=True)
        self.thread.start()

    def detach(self, *_):
        self.stop.set()

    def _run(self, src, stop):
        start = time.monotonic()
        with self.lock:
            self.generation_start = start
            self.generation_base = self.pushed
        index = 0
        while not stop.is_set():
            due = start + index * self.interval
            now = time.monotonic()
            if due > now:
                stop.wait(due - now)
                continue
            if self.silent and index > 0:
                stop.wait(1.0)
                continue
            # Stamped with the running time of the push (do-timestamp), as a camera stamps its frames.
            unit = self.units[index % len(self.units)]
            if src.emit("push-buffer", Gst.Buffer.new_wrapped(unit)) != Gst.FlowReturn.OK:
                break
            with self.lock:
                self.pushed += 1
                self.late += now - due > self.interval
            index += 1

    def report(self):
        """The report line: frames pushed and due since the first media (due counts
        only while a media exists, that is while a client is there)."""
        with self.lock:
            if self.generation_start is None:
                return None
            elapsed = time.monotonic() - self.generation_start
            if self.stop.is_set() or self.silent:
                due = self.pushed
            else:
                due = self.generation_base + int(elapsed / self.interval) + 1
            return "frames %s %d %d %d" % (self.kind, self.pushed, due, self.late)


class SharedFactory(GstRtspServer.RTSPMediaFactory):
    """One media for every path it is mounted on."""

    def do_gen_key(self, _url):
        return "shared"


def add_mounts(server, prefix, count, fps, feed):
    factory = SharedFactory()
    factory.set_launch(LAUNCH.format(fps=fps))
    factory.set_shared(True)

    def configure(_factory, media):
        media.connect("unprepared", feed.detach)
        feed.attach(media.get_element().get_by_name("src"))

    factory.connect("media-configure", configure)
    points = server.get_mount_points()
    for i in range(1, count + 1):
        points.add_factory("/%s%d" % (prefix, i), factory)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--clip", required=True)
    ap.add_argument("--fps", type=int, default=25)
    ap.add_argument("--paths", type=int, default=1)
    ap.add_argument("--silent", type=int, default=0)
    ap.add_argument("--port", type=int, default=0)
    args = ap.parse_args()

    Gst.init(None)
    units = access_units(args.clip)
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service(str(args.port))
    server.set_backlog(BACKLOG)
    feeds = []
    if args.paths:
        feeds.append(Feed("live", units, args.fps, False))
        add_mounts(server, "s", args.paths, args.fps, feeds[-1])
    if args.silent:
        feeds.append(Feed("silent", units, args.fps, True))
        add_mounts(server, "q", args.silent, args.fps, feeds[-1])
    if server.attach(None) == 0:
        print("cannot listen on 127.0.0.1:%d" % args.port, file=sys.stderr)
        return 1

    def report():
        for feed in feeds:
            line = feed.report()
            if line:
                print(line, flush=True)
        return True

    loop = GLib.MainLoop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, sig, loop.quit)
    GLib.timeout_add(REPORT_MS, report)
    print("ready %d" % server.get_bound_port(), flush=True)
    loop.run()
    for feed in feeds:
        feed.detach()
    return 0


if __name__ == "__main__":
    sys.exit(main())
