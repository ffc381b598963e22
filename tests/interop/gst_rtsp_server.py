#!/usr/bin/python3
"""GStreamer's RTSP server on 127.0.0.1, as an independent peer for the host
program's interop tests.

  gst_rtsp_server.py [--port P] [--auth none|basic|digest --user U --password W]
                     --mount /path 'LAUNCH LINE' [--mount ...]
  gst_rtsp_server.py --list          the named launch lines (--media NAME)

Port 0 (the default) lets the system choose; the line "ready PORT" is printed
once the server listens. SIGTERM or SIGINT ends it. Debian packages: python3-gi,
gir1.2-gst-rtsp-server-1.0, gstreamer1.0-plugins-good/-bad/-ugly, gstreamer1.0-libav.
"""
import argparse
import signal
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtsp", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtsp, GstRtspServer  # noqa: E402

VIDEO = "videotestsrc is-live=true ! video/x-raw,format=I420,width=320,height=240,framerate=25/1"
AUDIO = "audiotestsrc is-live=true wave=sine ! audio/x-raw,rate=8000,channels=1"
# One slice a picture: the payloader repeats SPS and PPS before every IDR slice,
# and between two slices of one picture that makes ffprobe count two frames.
H264 = VIDEO + (" ! x264enc tune=zerolatency sliced-threads=false speed-preset=ultrafast key-int-max=25"
                " ! rtph264pay name=pay0 pt=96 config-interval=-1")
H265 = VIDEO + (" ! x265enc tune=zerolatency speed-preset=ultrafast key-int-max=25"
                " ! rtph265pay name=pay0 pt=96 config-interval=-1")
JPEG = VIDEO + " ! jpegenc ! rtpjpegpay name=pay0 pt=26"
PCMA = AUDIO + " ! alawenc ! rtppcmapay name={} pt=8"
PCMU = AUDIO + " ! mulawenc ! rtppcmupay name={} pt=0"
# AAC-LC at 16 kHz mono, as mpeg4-generic (AAC-hbr) and as MP4A-LATM.
AAC_AUDIO = "audiotestsrc is-live=true wave=sine ! audio/x-raw,rate=16000,channels=1 ! avenc_aac"
AAC = AAC_AUDIO + " ! rtpmp4gpay name={} pt=97"
LATM = AAC_AUDIO + " ! rtpmp4apay name={} pt=97"

# Named launch lines: 320x240 at 25 frames a second, G.711 at 8 kHz mono, AAC at 16 kHz mono.
MEDIA = {
    "h264": H264,
    "h265": H265,
    "jpeg": JPEG,
    "pcma": PCMA.format("pay0"),
    "pcmu": PCMU.format("pay0"),
    "h264+pcmu": H264 + " " + PCMU.format("pay1"),
    "jpeg+pcma": JPEG + " " + PCMA.format("pay1"),
    "h264+aac": H264 + " " + AAC.format("pay1"),
    "h264+latm": H264 + " " + LATM.format("pay1"),
}


# Exit status when an element of a launch line is not installed: the caller
# reports its case as skipped.
EXIT_MISSING = 77


class SchemeLoggingAuth(GstRtspServer.RTSPAuth):
    """Prints the scheme of every Authorization header a request brings, so a
    case can check what a client put on the wire."""

    def do_authenticate(self, ctx):
        res, value = ctx.request.get_header(GstRtsp.RTSPHeaderField.AUTHORIZATION, 0)
        if res == GstRtsp.RTSPResult.OK and value:
            print("auth %s" % value.split()[0], flush=True)
        return GstRtspServer.RTSPAuth.do_authenticate(self, ctx)


def missing_elements(launch):
    """Elements named in a launch line that this machine lacks (caps skipped)."""
    names = [part.split()[0] for part in launch.replace("(", " ").replace(")", " ").split("!") if part.split()]
    return [n for n in names if "/" not in n and Gst.ElementFactory.find(n) is None]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--auth", choices=["none", "basic", "digest"], default="none")
    ap.add_argument("--log-auth", action="store_true",
                    help="print 'auth SCHEME' for each request that carries credentials")
    ap.add_argument("--user", default="user")
    ap.add_argument("--password", default="secret")
    ap.add_argument("--mount", nargs=2, action="append", default=[], metavar=("PATH", "LAUNCH"))
    ap.add_argument("--media", action="append", default=[], help="mount /NAME with a named launch line")
    ap.add_argument("--list", action="store_true")
    args = ap.parse_args()
    if args.list:
        for name, line in MEDIA.items():
            print(name, line)
        return 0
    mounts = list(args.mount)
    for name in args.media:
        if name not in MEDIA:
            print("unknown media " + name, file=sys.stderr)
            return 2
        mounts.append(("/" + name, MEDIA[name]))
    if not mounts:
        print("no --mount or --media", file=sys.stderr)
        return 2

    Gst.init(None)
    for _, launch in mounts:
        missing = missing_elements(launch)
        if missing:
            print("missing GStreamer element(s): " + ", ".join(missing), file=sys.stderr)
            return EXIT_MISSING
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service(str(args.port))
    server.set_backlog(1024)   # the default of 5 drops the connects of many streams started at once
    role = "user"
    if args.auth != "none":
        auth = SchemeLoggingAuth() if args.log_auth else GstRtspServer.RTSPAuth()
        token = GstRtspServer.RTSPToken()
        token.set_string(GstRtspServer.RTSP_TOKEN_MEDIA_FACTORY_ROLE, role)
        if args.auth == "basic":
            auth.set_supported_methods(GstRtsp.RTSPAuthMethod.BASIC)
            basic = GstRtspServer.RTSPAuth.make_basic(args.user, args.password)
            auth.add_basic(basic, token)
        else:
            auth.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)
            auth.add_digest(args.user, args.password, token)
        server.set_auth(auth)
    mount_points = server.get_mount_points()
    for path, launch in mounts:
        factory = GstRtspServer.RTSPMediaFactory()
        factory.set_launch("( " + launch + " )")
        factory.set_shared(True)
        if args.auth != "none":
            factory.add_role_from_structure(Gst.Structure.from_string(
                role + ", media.factory.access=(boolean)true, media.factory.construct=(boolean)true")[0])
        mount_points.add_factory(path, factory)
    if server.attach(None) == 0:
        print("cannot listen on 127.0.0.1:%d" % args.port, file=sys.stderr)
        return 1
    loop = GLib.MainLoop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, sig, loop.quit)
    print("ready %d" % server.get_bound_port(), flush=True)
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
