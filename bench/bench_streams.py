#!/usr/bin/python3
"""Many streams at once: `jxrtsp record` against N ffmpeg clients, CPU and memory per stream.

For each N in --streams a fresh `jxrtsp serve --port 0 --clip CLIP --fps 25` is started
on 127.0.0.1 and ONE `jxrtsp record --raw --json --seconds S --out TMP URL...` process
records N distinct paths (/s1 ... /sN, each its own session). For each N in --ffmpeg a
fresh server serves N separate `ffmpeg -rtsp_transport tcp -i URL -c copy -f null -`
processes for the same seconds. Each process is measured with os.wait4 (user + system
CPU seconds, ru_maxrss); frames sent come from the server's 'session ended' lines.

  bench_streams.py [--streams 1,16,64,256] [--ffmpeg 1,16] [--seconds 30]
  bench_streams.py --quick          smoke run: N = 1,4 for both, 5 s

Writes results/streams.csv and results/streams.png (beside this script unless
--results DIR) and prints a Markdown table. Debian packages only: python3, ffmpeg
(clip and clients), python3-matplotlib (the plot; skipped with a note when missing).
"""
import argparse
import csv
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)

FPS = 25
CLIP_SECONDS = 10
# 1080p H.264 at 4 Mbit/s, 25 fps, an IDR (with SPS and PPS) every 50 frames, no B-frames
# so that the server's frame order is the presentation order.
CLIP_NAME = "clip_1080p25_4M_gop50.h264"
CLIP_COMMAND = [
    "ffmpeg", "-nostdin", "-v", "error", "-y",
    "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=%d:duration=%d" % (FPS, CLIP_SECONDS),
    "-c:v", "libx264", "-preset", "veryfast", "-profile:v", "high", "-pix_fmt", "yuv420p",
    "-b:v", "4M", "-maxrate", "4M", "-bufsize", "4M",
    "-x264-params", "keyint=50:min-keyint=50:scenecut=0:bframes=0:repeat-headers=1",
    "-f", "h264",
]

SERVING_RE = re.compile(r"^serving (rtsp://127\.0\.0\.1:\d+/)\s*$")
ENDED_RE = re.compile(r"^session ended: (\S+) frames sent (\d+), frames dropped (\d+)\s*$")

SERVER_START_TIMEOUT = 10.0     # seconds until the 'serving' line must have come
CLIENT_GRACE = 30.0             # seconds a client may run beyond --seconds before it is ended
SESSION_LINES_TIMEOUT = 5.0     # seconds to wait for the server's 'session ended' lines
POLL_INTERVAL = 0.05
TERM_GRACE = 3.0                # seconds between SIGTERM and SIGKILL at clean-up
KIB_PER_MIB = 1024.0
# The recorder stops its streams by closing their connections; until the server sees
# the close it goes on queueing frames that nobody reads. Up to this many frames a
# stream are that tail, not a loss (the raw sent - received is reported beside).
DEFAULT_TAIL_FRAMES = 2

# Every child this script started and has not reaped yet: killed on any exit.
CHILDREN = []


def log(text):
    print(text, file=sys.stderr, flush=True)


def spawn(argv, **kwargs):
    proc = subprocess.Popen(argv, **kwargs)
    CHILDREN.append(proc)
    return proc


def reap_all(procs, deadline):
    """os.wait4 every child, SIGTERM (then SIGKILL) those past the deadline.

    Returns per child (exit code, rusage, monotonic time it was seen ended)."""
    results = {}
    signalled = False
    while len(results) < len(procs):
        for proc in procs:
            if proc.pid in results:
                continue
            pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
            if pid == proc.pid:
                proc.returncode = os.waitstatus_to_exitcode(status)
                CHILDREN.remove(proc)
                results[pid] = (proc.returncode, usage, time.monotonic())
        if len(results) == len(procs):
            break
        now = time.monotonic()
        if now >= deadline:
            for proc in procs:
                if proc.pid in results:
                    continue
                if signalled:
                    proc.kill()
                else:
                    log("  pid %d still running past its time: SIGTERM" % proc.pid)
                    proc.send_signal(signal.SIGTERM)
            if not signalled:
                signalled = True
                deadline = now + TERM_GRACE
        time.sleep(POLL_INTERVAL)
    return [results[p.pid] for p in procs]


def reap(proc, deadline):
    status, usage, _ = reap_all([proc], deadline)[0]
    return status, usage


def kill_all():
    for proc in list(CHILDREN):
        if proc.poll() is None:
            proc.send_signal(signal.SIGTERM)
    end = time.monotonic() + TERM_GRACE
    for proc in list(CHILDREN):
        try:
            proc.wait(timeout=max(0.0, end - time.monotonic()))
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
        CHILDREN.remove(proc)


class Server:
    """`jxrtsp serve` on a free loopback port; its stderr is drained by a thread."""

    def __init__(self, jxrtsp, clip):
        self.proc = spawn([jxrtsp, "serve", "--port", "0", "--clip", clip, "--fps", str(FPS)],
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.lock = threading.Lock()
        self.ended = {}            # path -> (sent, dropped)
        self.other = []            # any other stderr lines, shown when something fails
        self.url = self._wait_serving()
        self.threads = [threading.Thread(target=self._drain_err, daemon=True),
                        threading.Thread(target=self._drain_out, daemon=True)]
        for t in self.threads:
            t.start()

    def _wait_serving(self):
        fd = self.proc.stdout
        end = time.monotonic() + SERVER_START_TIMEOUT
        while time.monotonic() < end:
            ready, _, _ = select.select([fd], [], [], POLL_INTERVAL)
            if not ready:
                if self.proc.poll() is not None:
                    break
                continue
            line = fd.readline().decode("utf-8", "replace")
            match = SERVING_RE.match(line)
            if match:
                return match.group(1)
            if not line:
                break
        err = self.proc.stderr.read1(4096).decode("utf-8", "replace") if self.proc.poll() is not None else ""
        raise RuntimeError("jxrtsp serve did not print its 'serving' line: " + err.strip())

    def _drain_out(self):
        for _ in self.proc.stdout:
            pass

    def _drain_err(self):
        for raw in self.proc.stderr:
            line = raw.decode("utf-8", "replace")
            match = ENDED_RE.match(line)
            with self.lock:
                if match:
                    self.ended[match.group(1)] = (int(match.group(2)), int(match.group(3)))
                else:
                    self.other.append(line.rstrip())

    def wait_sessions(self, paths):
        """Waits (bounded) until every path has its 'session ended' line."""
        end = time.monotonic() + SESSION_LINES_TIMEOUT
        while time.monotonic() < end:
            with self.lock:
                if all(p in self.ended for p in paths):
                    return
            time.sleep(POLL_INTERVAL)

    def stop(self):
        """SIGTERM, wait; returns the server's (status, rusage) and the session lines."""
        self.proc.send_signal(signal.SIGTERM)
        status, usage = reap(self.proc, time.monotonic() + TERM_GRACE)
        for t in self.threads:
            t.join(TERM_GRACE)
        with self.lock:
            return status, usage, dict(self.ended), list(self.other)


def make_clip(cache_dir):
    path = os.path.join(cache_dir, CLIP_NAME)
    if os.path.exists(path):
        return path
    os.makedirs(cache_dir, exist_ok=True)
    log("making the clip once: " + path)
    tmp = path + ".part"
    subprocess.run(CLIP_COMMAND + [tmp], check=True, stdin=subprocess.DEVNULL)
    os.replace(tmp, path)
    return path


def cpu_seconds(usage):
    return usage.ru_utime + usage.ru_stime


def frames_by_path(summaries):
    """path -> frames received (written plus skipped before the first key frame)."""
    out = {}
    for s in summaries:
        path = "/" + s["url"].split("/", 3)[3]
        video = s.get("video") or {}
        audio = s.get("audio") or {}
        out[path] = video.get("frames", 0) + audio.get("frames", 0) + s.get("skipped_frames", 0)
    return out


def loss(paths, ended, received, tail):
    """Total and largest per-stream loss: sent - received beyond `tail` frames in flight at the stop."""
    total = 0
    worst = 0
    raw = 0
    for p in paths:
        sent, dropped = ended.get(p, (0, 0))
        got = received.get(p, 0) if received is not None else sent
        lost = dropped + max(0, sent - got - tail)
        raw += sent - got
        total += lost
        worst = max(worst, lost)
    return total, worst, raw


def run_ours(jxrtsp, clip, n, seconds, work, tail):
    server = Server(jxrtsp, clip)
    paths = ["/s%d" % i for i in range(1, n + 1)]
    out_dir = os.path.join(work, "rec%d" % n)
    json_path = os.path.join(work, "rec%d.json" % n)
    err_path = os.path.join(work, "rec%d.err" % n)
    argv = [jxrtsp, "record", "--raw", "--json", "--seconds", str(seconds), "--out", out_dir]
    argv += [server.url + p[1:] for p in paths]
    with open(json_path, "wb") as out, open(err_path, "wb") as err:
        start = time.monotonic()
        proc = spawn(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        status, usage = reap(proc, start + seconds + CLIENT_GRACE)
        wall = time.monotonic() - start
    server.wait_sessions(paths)
    _, server_usage, ended, other = server.stop()
    try:
        with open(json_path) as f:
            summaries = json.load(f)
    except ValueError:
        summaries = []
        log("  record printed no JSON; its stderr: " + open(err_path).read()[-2000:])
    received = frames_by_path(summaries)
    shutil.rmtree(out_dir, ignore_errors=True)     # up to 15 MB per stream
    if status != 0 or len(ended) < n:
        log("  record exit %d, %d of %d session lines; server: %s" % (status, len(ended), n, " | ".join(other[-5:])))
    total, worst, raw = loss(paths, ended, received, tail)
    return dict(client="jxrtsp record", n=n, seconds=seconds, wall_s=wall, exit=status,
                cpu_s=cpu_seconds(usage), maxrss_kib=usage.ru_maxrss, processes=1,
                server_cpu_s=cpu_seconds(server_usage),
                received=sum(received.values()), sent=sum(s for s, _ in ended.values()),
                server_dropped=sum(d for _, d in ended.values()), sessions_ended=len(ended),
                sent_minus_received=raw, lost=total, lost_max_stream=worst)


def run_ffmpeg(jxrtsp, clip, n, seconds, work, to_file):
    server = Server(jxrtsp, clip)
    paths = ["/s%d" % i for i in range(1, n + 1)]
    procs = []
    starts = []
    start = time.monotonic()
    for p in paths:
        err = open(os.path.join(work, "ffmpeg%d%s.err" % (n, p.replace("/", "_"))), "wb")
        argv = ["ffmpeg", "-nostdin", "-v", "error", "-rtsp_transport", "tcp", "-i", server.url + p[1:],
                "-t", str(seconds), "-c", "copy"]
        # -f null discards the stream; to a file, ffmpeg does what record --raw does.
        argv += (["-f", "h264", os.path.join(work, "ffmpeg%d%s.h264" % (n, p.replace("/", "_")))] if to_file
                 else ["-f", "null", "-"])
        starts.append(time.monotonic())
        procs.append(spawn(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err))
        err.close()
    # Each process counts from its own start to its own end: starting many
    # ffmpeg processes takes a while on a small machine.
    cpu = 0.0
    rss = 0
    failed = 0
    stream_seconds = 0.0
    for (status, usage, ended_at), started in zip(reap_all(procs, start + seconds + CLIENT_GRACE), starts):
        cpu += cpu_seconds(usage)
        rss += usage.ru_maxrss
        failed += status != 0
        stream_seconds += ended_at - started
    wall = stream_seconds / n
    server.wait_sessions(paths)
    _, server_usage, ended, other = server.stop()
    if failed or len(ended) < n:
        log("  %d ffmpeg clients failed, %d of %d session lines; server: %s" % (failed, len(ended), n, " | ".join(other[-5:])))
    total, worst, _ = loss(paths, ended, None, 0)
    return dict(client=FFMPEG_FILE if to_file else FFMPEG_NULL, n=n, seconds=seconds, wall_s=wall, exit=failed,
                cpu_s=cpu, maxrss_kib=rss / n, processes=n,
                server_cpu_s=cpu_seconds(server_usage),
                received="", sent=sum(s for s, _ in ended.values()),
                server_dropped=sum(d for _, d in ended.values()), sessions_ended=len(ended),
                sent_minus_received="", lost=total, lost_max_stream=worst)


FFMPEG_NULL = "ffmpeg -f null"
FFMPEG_FILE = "ffmpeg -f h264 FILE"


def is_ffmpeg(row):
    return row["client"].startswith("ffmpeg")


def derive(rows):
    """Per-stream figures; ours also gets the marginal memory against its N=1 row."""
    ours_one = next((r for r in rows if not is_ffmpeg(r) and r["n"] == 1), None)
    for r in rows:
        n = r["n"]
        r["cpu_s_per_stream_min"] = r["cpu_s"] / (n * r["wall_s"] / 60.0)
        r["cpu_pct_core_per_stream"] = 100.0 * r["cpu_s"] / (n * r["wall_s"])
        if is_ffmpeg(r):
            r["rss_mib_per_stream"] = r["maxrss_kib"] / KIB_PER_MIB      # mean per process
            r["rss_mib_marginal"] = ""
        else:
            r["rss_mib_per_stream"] = r["maxrss_kib"] / n / KIB_PER_MIB
            r["rss_mib_marginal"] = ("" if ours_one is None or n == 1 else
                                     (r["maxrss_kib"] - ours_one["maxrss_kib"]) / (n - 1) / KIB_PER_MIB)
    return rows


COLUMNS = ["client", "n", "seconds", "wall_s", "exit", "processes", "cpu_s", "cpu_s_per_stream_min",
           "cpu_pct_core_per_stream", "maxrss_kib", "rss_mib_per_stream", "rss_mib_marginal",
           "received", "sent", "server_dropped", "sent_minus_received", "lost", "lost_max_stream",
           "sessions_ended", "server_cpu_s"]


def fmt(value, digits):
    if value == "" or value is None:
        return "-"
    if isinstance(value, float):
        return "%.*f" % (digits, value)
    return str(value)


def write_csv(rows, path):
    with open(path, "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=COLUMNS)
        w.writeheader()
        for r in rows:
            w.writerow({k: (round(v, 4) if isinstance(v, float) else v) for k, v in r.items() if k in COLUMNS})


def markdown(rows):
    head = ("| client | N | CPU s | CPU s per stream-minute | CPU % of a core per stream "
            "| RSS MiB per stream | marginal MiB per stream | frames received / sent | sent - received "
            "| lost (total / max per stream) |")
    lines = [head, "|" + "---|" * head.count(" | ") + "---|"]
    for r in rows:
        recv = "-" if r["received"] == "" else str(r["received"])
        lines.append("| %s | %d | %s | %s | %s | %s | %s | %s / %s | %s | %s / %s |" % (
            r["client"], r["n"], fmt(r["cpu_s"], 2), fmt(r["cpu_s_per_stream_min"], 3),
            fmt(r["cpu_pct_core_per_stream"], 3), fmt(r["rss_mib_per_stream"], 2),
            fmt(r["rss_mib_marginal"], 2), recv, r["sent"], fmt(r["sent_minus_received"], 0),
            r["lost"], r["lost_max_stream"]))
    return "\n".join(lines)


def plot(rows, path):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        import matplotlib.ticker
    except ImportError:
        log("python3-matplotlib is not installed: no plot")
        return False
    ours = [r for r in rows if not is_ffmpeg(r)]
    ff_null = [r for r in rows if r["client"] == FFMPEG_NULL]
    ff_file = [r for r in rows if r["client"] == FFMPEG_FILE]
    fig, (ax_cpu, ax_mem) = plt.subplots(1, 2, figsize=(11, 4.2))

    def line(ax, subset, key, style, label):
        # Log axes: a marginal figure of zero or less (memory freed) has no point there.
        points = [(r["n"], r[key]) for r in subset if r[key] != "" and r[key] > 0]
        if points:
            ax.plot([p[0] for p in points], [p[1] for p in points], style, label=label)

    line(ax_cpu, ours, "cpu_pct_core_per_stream", "o-", "jxrtsp record")
    line(ax_cpu, ff_null, "cpu_pct_core_per_stream", "s-", "ffmpeg -f null (one process a stream)")
    line(ax_cpu, ff_file, "cpu_pct_core_per_stream", "D-", "ffmpeg -f h264 FILE (one process a stream)")
    ax_cpu.set_ylabel("CPU % of one core per stream")
    line(ax_mem, ours, "rss_mib_per_stream", "o-", "jxrtsp record: RSS / N")
    line(ax_mem, ours, "rss_mib_marginal", "^--", "jxrtsp record: (RSS_N - RSS_1) / (N - 1)")
    line(ax_mem, ff_null, "rss_mib_per_stream", "s-", "ffmpeg -f null: RSS per process")
    line(ax_mem, ff_file, "rss_mib_per_stream", "D-", "ffmpeg -f h264 FILE: RSS per process")
    ax_mem.set_ylabel("resident memory per stream (MiB)")
    ticks = sorted({r["n"] for r in rows})
    for ax in (ax_cpu, ax_mem):
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.set_xticks(ticks)
        ax.xaxis.set_major_formatter(matplotlib.ticker.ScalarFormatter())
        ax.xaxis.set_minor_locator(matplotlib.ticker.NullLocator())
        ax.set_xlabel("streams at once (N)")
        ax.grid(True, which="both", alpha=0.3)
        ax.legend(fontsize=8)
    seconds = rows[0]["seconds"] if rows else 0
    fig.suptitle("1080p H.264 at 4 Mbit/s, 25 fps, over RTSP interleaved TCP on 127.0.0.1, %d s" % seconds)
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)
    return True


def on_sigterm(_signum, _frame):
    raise KeyboardInterrupt()


def counts(text):
    try:
        values = [int(x) for x in text.split(",") if x.strip()]
    except ValueError:
        raise argparse.ArgumentTypeError("a comma-separated list of stream counts")
    if any(v < 1 for v in values):
        raise argparse.ArgumentTypeError("stream counts start at 1")
    return values


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--streams", type=counts, default=[1, 16, 64, 256], help="N for jxrtsp record (default 1,16,64,256)")
    ap.add_argument("--ffmpeg", type=counts, default=[1, 16], help="N for ffmpeg clients (default 1,16; empty: none)")
    ap.add_argument("--seconds", type=int, default=30)
    ap.add_argument("--quick", action="store_true", help="smoke run: N = 1,4 for both, 5 s")
    ap.add_argument("--jxrtsp", default=os.path.join(REPO, "build", "bin", "jxrtsp"))
    ap.add_argument("--cache", default=os.path.join(os.environ.get("XDG_CACHE_HOME", os.path.expanduser("~/.cache")),
                                                   "jxrtsp-bench"), help="where the clip is made once")
    ap.add_argument("--work", default=None, help="folder for the recordings (removed after each N; default a new temp folder)")
    ap.add_argument("--results", default=os.path.join(HERE, "results"))
    ap.add_argument("--tail-frames", type=int, default=DEFAULT_TAIL_FRAMES,
                    help="frames per stream sent but not counted lost: the server queued them before it saw "
                         "the client close (default %d)" % DEFAULT_TAIL_FRAMES)
    args = ap.parse_args()
    if args.quick:
        args.streams, args.ffmpeg, args.seconds = [1, 4], [1, 4], 5
    if args.seconds < 1:
        ap.error("--seconds must be at least 1")
    if not os.access(args.jxrtsp, os.X_OK):
        ap.error("no jxrtsp at %s (build it, or give --jxrtsp)" % args.jxrtsp)
    for tool in ("ffmpeg",):
        if shutil.which(tool) is None:
            ap.error("%s is not installed (Debian package ffmpeg)" % tool)

    # SIGTERM ends the run the way Ctrl-C does: through the clean-up below.
    signal.signal(signal.SIGTERM, on_sigterm)
    signal.signal(signal.SIGINT, signal.default_int_handler)   # also when started with SIGINT ignored
    work = tempfile.mkdtemp(prefix="bench_streams.", dir=args.work)
    rows = []
    try:
        clip = make_clip(args.cache)
        for n in args.streams:
            log("jxrtsp record, %d stream(s), %d s" % (n, args.seconds))
            rows.append(run_ours(args.jxrtsp, clip, n, args.seconds, work, args.tail_frames))
        for n in args.ffmpeg:
            for to_file in (False, True):
                log("%s, %d client(s), %d s" % (FFMPEG_FILE if to_file else FFMPEG_NULL, n, args.seconds))
                rows.append(run_ffmpeg(args.jxrtsp, clip, n, args.seconds, work, to_file))
    except KeyboardInterrupt:
        log("interrupted: stopping every child")
        return 130
    finally:
        kill_all()
        shutil.rmtree(work, ignore_errors=True)
    derive(rows)
    os.makedirs(args.results, exist_ok=True)
    write_csv(rows, os.path.join(args.results, "streams.csv"))
    plotted = plot(rows, os.path.join(args.results, "streams.png"))
    print(markdown(rows))
    log("wrote %s%s" % (os.path.join(args.results, "streams.csv"),
                        " and streams.png" if plotted else ""))
    failed = any(r["exit"] != 0 or r["sessions_ended"] != r["n"] for r in rows)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
