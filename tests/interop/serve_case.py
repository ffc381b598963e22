#!/usr/bin/python3
"""Interop cases for `jxrtsp serve` and `jxrtsp demo`, on 127.0.0.1 only.

  serve_case.py --jxrtsp PATH CASE     run one case (exit 0 pass, 1 fail, 77 skip)
  serve_case.py --list                 the case names

The serve cases start `jxrtsp serve --port 0`, wait for its "serving" line and
have an independent client, ffmpeg, read every path for 2 s over interleaved
TCP or unicast UDP (with no authentication, Basic or Digest) and decode it:
ffmpeg must print nothing at -v error and decode at least half the frames the
2 s hold. A wrong password must make ffmpeg fail with a 401. A client that stops
reading must lose frames (its session line counts them) while another client
still gets its whole stream. The hostile case
sends malformed and oversized requests on raw sockets and expects 400 (or the
right error status) each time and a server that still serves. Every case ends
the server with SIGINT and wants exit status 0 and one "session ended" line a
session. The demo case runs `jxrtsp demo` and checks its files with ffprobe
(codec, size) and a full decode. No PyPI packages: Debian's python3 only.
"""
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

from interop_util import Fail as Failure, check_decodes, main, need_tools, run, stream_fields

USER, PASSWORD, WRONG = "viewer", "s3cret-pw", "wrong-pw"
READ_SECONDS = 2
FPS = 25
AUDIO_PACKETS_PER_S = 50
AAC_FRAMES_PER_S = 16000 / 1024   # sample.aac: 16 kHz, 1024 samples a frame
START_LIMIT_S = 20      # the server's "serving" line
STOP_LIMIT_S = 10       # the server's exit after SIGINT
SOCKET_LIMIT_S = 10

# Path: (expected decoded frames in READ_SECONDS, ffprobe codec names).
PATHS = {
    "h264": (READ_SECONDS * FPS, ["h264"]),
    "h265": (READ_SECONDS * FPS, ["hevc"]),
    "jpeg": (READ_SECONDS * FPS, ["mjpeg"]),
    "pcma": (READ_SECONDS * AUDIO_PACKETS_PER_S, ["pcm_alaw"]),
    "pcmu": (READ_SECONDS * AUDIO_PACKETS_PER_S, ["pcm_mulaw"]),
    "h264+pcmu": (READ_SECONDS * (FPS + AUDIO_PACKETS_PER_S), ["h264", "pcm_mulaw"]),
    "aac": (int(READ_SECONDS * AAC_FRAMES_PER_S), ["aac"]),
    "h264+aac": (int(READ_SECONDS * (FPS + AAC_FRAMES_PER_S)), ["h264", "aac"]),
}

# One row a case: ffmpeg's transport, the server's authentication.
SERVE_CASES = {
    "serve_tcp": ("tcp", "none"),
    "serve_udp": ("udp", "none"),
    "serve_digest_tcp": ("tcp", "digest"),
    "serve_digest_udp": ("udp", "digest"),
    "serve_basic_tcp": ("tcp", "basic"),
}
OTHER_CASES = ["serve_wrong_password", "serve_hostile", "serve_slow_reader", "demo"]
SLOW_FPS = 240          # the slow reader's server sends JPEG at 240 pictures a second
STALL_S = 8             # long enough to pass the 4 MB queue and the socket buffers
SESSION_LINE = re.compile(r"^session ended: (\S+) frames sent (\d+), frames dropped (\d+)$")


class Server:
    """jxrtsp serve on a free loopback port; standard error collected."""

    def __init__(self, jxrtsp, auth, extra=()):
        args = [jxrtsp, "serve", "--port", "0", "--auth", auth] + list(extra)
        if auth != "none":
            args += ["--user", USER, "--password", PASSWORD]
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.err_lines = []
        self.err_thread = threading.Thread(target=self._read_err, daemon=True)
        self.err_thread.start()
        self.port = self._wait_port()

    def _read_err(self):
        for line in self.proc.stderr:
            self.err_lines.append(line.rstrip("\n"))

    def _wait_port(self):
        result = []
        reader = threading.Thread(target=lambda: result.append(self.proc.stdout.readline()), daemon=True)
        reader.start()
        reader.join(START_LIMIT_S)
        line = result[0] if result else ""
        m = re.fullmatch(r"serving rtsp://127\.0\.0\.1:(\d+)/\n", line)
        if not m:
            self.proc.kill()
            raise Failure("no serving line within %d s (got %r)" % (START_LIMIT_S, line))
        return int(m.group(1))

    def stop(self):
        """SIGINT; the exit status must be 0. Returns the session lines."""
        self.proc.send_signal(signal.SIGINT)
        try:
            code = self.proc.wait(STOP_LIMIT_S)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise Failure("serve did not exit within %d s of SIGINT" % STOP_LIMIT_S)
        self.err_thread.join(STOP_LIMIT_S)
        if code != 0:
            raise Failure("serve exited with %d after SIGINT" % code)
        sessions = []
        for line in self.err_lines:
            m = SESSION_LINE.match(line)
            if m:
                sessions.append((m.group(1), int(m.group(2)), int(m.group(3))))
            else:
                print("serve stderr: " + line)
        return sessions


def ffmpeg_read(url, transport, output_options=()):
    """Frames ffmpeg decoded in READ_SECONDS, its exit status and error output."""
    r = run(["ffmpeg", "-nostdin", "-v", "error", "-rtsp_transport", transport, "-i", url,
             "-t", str(READ_SECONDS)] + list(output_options) + ["-f", "framemd5", "-"])
    frames = sum(1 for line in r.stdout.splitlines() if line and not line.startswith("#"))
    return frames, r.returncode, r.stderr.strip()


def case_serve(jxrtsp, transport, auth):
    server = Server(jxrtsp, auth)
    cred = "" if auth == "none" else "%s:%s@" % (USER, PASSWORD)
    results = {}
    errors = []
    try:
        # All paths at once: the server's many sessions are part of the check.
        def read(path):
            try:
                results[path] = ffmpeg_read("rtsp://%s127.0.0.1:%d/%s" % (cred, server.port, path), transport)
            except Failure as e:
                errors.append(str(e))
        threads = [threading.Thread(target=read, args=(p,)) for p in PATHS]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sessions = server.stop()
    if errors:
        raise Failure("; ".join(errors))
    for path, (expected, _) in PATHS.items():
        frames, code, err = results[path]
        print("%s over %s (auth %s): ffmpeg exit %d, %d frames decoded (expected %d)%s" %
              (path, transport, auth, code, frames, expected, ", output: " + err if err else ""))
        if code != 0 or err:
            raise Failure("ffmpeg failed or printed errors on /%s" % path)
        if frames < expected // 2:
            raise Failure("/%s: %d frames decoded, fewer than half of %d" % (path, frames, expected))
    check_sessions(sessions, ["/" + p for p in PATHS])


def check_sessions(sessions, paths):
    for path in paths:
        mine = [s for s in sessions if s[0] == path]
        if not mine:
            raise Failure("no 'session ended' line for %s (lines: %r)" % (path, sessions))
        if not any(sent > 0 for _, sent, _ in mine):
            raise Failure("no frames sent for %s: %r" % (path, mine))
    print("session lines: %r" % sessions)


def case_wrong_password(jxrtsp):
    server = Server(jxrtsp, "digest")
    try:
        url = "rtsp://%s:%s@127.0.0.1:%d/h264" % (USER, WRONG, server.port)
        frames, code, err = ffmpeg_read(url, "tcp")
        # The same refusal seen on the wire: DESCRIBE with no credentials.
        status, head = exchange(server.port, "DESCRIBE rtsp://127.0.0.1:%d/h264 RTSP/1.0\r\nCSeq: 5\r\n\r\n"
                                % server.port)
    finally:
        server.stop()
    print("wrong password: ffmpeg exit %d, %d frames, output %r" % (code, frames, err))
    if code == 0 or frames != 0:
        raise Failure("ffmpeg read the stream with a wrong password")
    if "401" not in err:
        raise Failure("ffmpeg's error does not name 401: %r" % err)
    if status != 401 or 'WWW-Authenticate: Digest realm="jxrtsp"' not in head or "qop=\"auth\"" not in head:
        raise Failure("DESCRIBE without credentials: %d\n%s" % (status, head))


def exchange(port, request, read_all=False):
    """Send raw bytes, read one answer head; (status, head text)."""
    with socket.create_connection(("127.0.0.1", port), timeout=SOCKET_LIMIT_S) as s:
        s.sendall(request.encode("latin-1") if isinstance(request, str) else request)
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = s.recv(4096)
            if not chunk:
                break
            data += chunk
        if read_all:
            # The server closes after a 400: the connection must end.
            while True:
                chunk = s.recv(4096)
                if not chunk:
                    break
                data += chunk
    head = data.split(b"\r\n\r\n", 1)[0].decode("latin-1")
    m = re.match(r"RTSP/1\.0 (\d{3}) ", head)
    return (int(m.group(1)) if m else 0), head


def case_hostile(jxrtsp):
    server = Server(jxrtsp, "none")
    port = server.port
    # One row a case: request bytes, expected status, CSeq expected in the answer.
    rows = [
        ("no version", "OPTIONS *\r\nCSeq: 1\r\n\r\n", 400, "1"),
        ("HTTP version", "OPTIONS * HTTP/1.1\r\nCSeq: 2\r\n\r\n", 400, "2"),
        ("no CSeq", "OPTIONS * RTSP/1.0\r\n\r\n", 400, "0"),
        ("CSeq not a number", "OPTIONS * RTSP/1.0\r\nCSeq: x1\r\n\r\n", 400, "0"),
        ("header without colon", "OPTIONS * RTSP/1.0\r\nCSeq: 3\r\nbroken\r\n\r\n", 400, "3"),
        ("huge Content-Length", "SET_PARAMETER * RTSP/1.0\r\nCSeq: 4\r\nContent-Length: 99999999999\r\n\r\n",
         400, "4"),
        ("negative Content-Length", "SET_PARAMETER * RTSP/1.0\r\nCSeq: 5\r\nContent-Length: -1\r\n\r\n", 400, "5"),
        ("head over 8 KB", "OPTIONS * RTSP/1.0\r\nCSeq: 6\r\nX: " + "a" * 9000 + "\r\n\r\n", 400, None),
        ("control bytes", "OPTIONS * RTSP/1.0\r\nCSeq: 7\r\nX: a\x01b\r\n\r\n", 400, "7"),
        ("unknown method", "BREW * RTSP/1.0\r\nCSeq: 8\r\n\r\n", 501, "8"),
        ("PLAY without session", "PLAY rtsp://127.0.0.1:%d/h264 RTSP/1.0\r\nCSeq: 9\r\n\r\n" % port, 454, "9"),
        ("wrong session", "GET_PARAMETER * RTSP/1.0\r\nCSeq: 10\r\nSession: 1234\r\n\r\n", 454, "10"),
        ("multicast transport", "SETUP rtsp://127.0.0.1:%d/h264/trackID=0 RTSP/1.0\r\nCSeq: 11\r\n"
         "Transport: RTP/AVP;multicast;port=5000-5001\r\n\r\n" % port, 461, "11"),
        ("bad client port", "SETUP rtsp://127.0.0.1:%d/h264/trackID=0 RTSP/1.0\r\nCSeq: 12\r\n"
         "Transport: RTP/AVP;unicast;client_port=99999-100000\r\n\r\n" % port, 461, "12"),
        ("no such track", "SETUP rtsp://127.0.0.1:%d/h264/trackID=7 RTSP/1.0\r\nCSeq: 13\r\n"
         "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n" % port, 404, "13"),
        ("binary junk", b"\x00\xff\x13\x37" * 600 + b"\r\n\r\n", 400, None),
    ]
    failures = []
    try:
        for name, request, want, cseq in rows:
            status, head = exchange(port, request, read_all=(want == 400))
            ok = status == want and (cseq is None or ("\r\nCSeq: %s\r\n" % cseq) in head + "\r\n")
            print("%-24s -> %d%s" % (name, status, "" if ok else "   WRONG, wanted %d CSeq %s" % (want, cseq)))
            if not ok:
                failures.append(name)
        # A peer that sends a partial head and goes away, many times.
        for _ in range(50):
            with socket.create_connection(("127.0.0.1", port), timeout=SOCKET_LIMIT_S) as s:
                s.sendall(b"DESCRIBE rtsp://127.0.0.1/h264 RTSP/1.0\r\nCSeq: 1\r\nAcc")
        # Still serving: an independent client decodes a stream.
        frames, code, err = ffmpeg_read("rtsp://127.0.0.1:%d/h264" % port, "tcp")
        print("after the hostile requests: ffmpeg exit %d, %d frames%s" % (code, frames, ", " + err if err else ""))
        if code != 0 or err or frames < READ_SECONDS * FPS // 2:
            failures.append("serving after hostile input")
    finally:
        server.stop()
    if failures:
        raise Failure("wrong answers: " + ", ".join(failures))


def rtsp_command(sock, text):
    """Send one request on an open socket and read its answer head (no body expected)."""
    sock.sendall(text.encode("latin-1"))
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = sock.recv(1)
        if not chunk:
            raise Failure("connection closed during %s" % text.split()[0])
        data += chunk
    return data.decode("latin-1")


def case_slow_reader(jxrtsp):
    """A client that stops reading loses frames; the others are not held up."""
    server = Server(jxrtsp, "none", ["--fps", str(SLOW_FPS)])
    try:
        url = "rtsp://127.0.0.1:%d/jpeg" % server.port
        slow = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        slow.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        slow.settimeout(SOCKET_LIMIT_S)
        slow.connect(("127.0.0.1", server.port))
        head = rtsp_command(slow, "SETUP %s/trackID=0 RTSP/1.0\r\nCSeq: 1\r\n"
                            "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n" % url)
        session = re.search(r"Session: ([^;\r]+)", head)
        if not session:
            raise Failure("SETUP answer without session: %s" % head)
        head = rtsp_command(slow, "PLAY %s RTSP/1.0\r\nCSeq: 2\r\nSession: %s\r\n\r\n" % (url, session.group(1)))
        if not head.startswith("RTSP/1.0 200"):
            raise Failure("PLAY: %s" % head)
        # While the slow client reads nothing, another one must get its stream.
        started = time.monotonic()
        # Every frame counted: the clip's own 25 fps timing would thin them out.
        frames, code, err = ffmpeg_read("rtsp://127.0.0.1:%d/h264" % server.port, "tcp", ["-fps_mode", "passthrough"])
        expected = READ_SECONDS * SLOW_FPS
        print("beside the stalled client: ffmpeg exit %d, %d of %d frames%s" %
              (code, frames, expected, ", " + err if err else ""))
        if code != 0 or err or frames < expected // 2:
            raise Failure("the other client was held up")
        time.sleep(max(0.0, STALL_S - (time.monotonic() - started)))
        slow.close()
    finally:
        sessions = server.stop()
    jpeg = [s for s in sessions if s[0] == "/jpeg"]
    print("session lines: %r" % sessions)
    if len(jpeg) != 1 or jpeg[0][2] == 0:
        raise Failure("the stalled client's session shows no dropped frames: %r" % jpeg)


def case_demo(jxrtsp):
    out = tempfile.mkdtemp(prefix="jxrtsp-demo-")
    try:
        r = run([jxrtsp, "demo", "--seconds", "3", "--out", out])
        print(r.stdout + r.stderr)
        if r.returncode != 0:
            raise Failure("demo exited with %d" % r.returncode)
        if "demo:" not in r.stdout:
            raise Failure("demo printed no summary")
        for path, (_, codecs) in PATHS.items():
            folder = os.path.join(out, "127.0.0.1_" + path.replace("+", "_"))
            media = os.path.join(folder, "stream.mkv")
            if not os.path.exists(media):
                # Builds without libavformat write the elementary files.
                names = [n for n in os.listdir(folder) if n.startswith(("video.", "audio."))]
                if not names:
                    raise Failure("no media file in %s" % folder)
                media_files = [os.path.join(folder, n) for n in names]
            else:
                media_files = [media]
            found = []
            for f in media_files:
                for fields in stream_fields(f, "codec_name,width,height"):
                    found.append(fields[0])
                    if fields[0] in ("h264", "hevc", "mjpeg") and fields[1:3] != ["640", "360"]:
                        raise Failure("%s: video size %s" % (f, fields[1:3]))
                check_decodes(f)
            print("%s: %s decode cleanly" % (path, ", ".join(found)))
            if sorted(found) != sorted(codecs):
                raise Failure("%s: codecs %r, expected %r" % (path, found, codecs))
        if PASSWORD in r.stdout or re.search(r"demo:[0-9a-f]{16}@", r.stdout + r.stderr):
            raise Failure("the demo printed its password")
    finally:
        shutil.rmtree(out, ignore_errors=True)


def run_case(jxrtsp, case):
    need_tools("ffmpeg", "ffprobe")
    if case in SERVE_CASES:
        case_serve(jxrtsp, *SERVE_CASES[case])
    elif case == "serve_wrong_password":
        case_wrong_password(jxrtsp)
    elif case == "serve_hostile":
        case_hostile(jxrtsp)
    elif case == "serve_slow_reader":
        case_slow_reader(jxrtsp)
    else:
        case_demo(jxrtsp)


if __name__ == "__main__":
    sys.exit(main(__doc__, list(SERVE_CASES) + OTHER_CASES, run_case))
