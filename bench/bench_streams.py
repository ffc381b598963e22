#!/usr/bin/python3
"""Many camera streams at once: jxrtsp record beside ffmpeg, GStreamer and a C floor, one server, one run.

For each N of --counts, GStreamer's RTSP server (bench_server.py: one live media
shared by the paths /s1 ... /sN, looping an H.264 clip at 25 fps) serves, one
client group after the other and for the same seconds:

  jxrtsp         ONE `jxrtsp record --raw` process recording all N paths
                 (again for each --module build given)
  floor          ONE floor_client process (floor_client.c: one epoll wait,
                 256 KiB reads, payloads written through a 1 MiB buffer a stream)
  floor-discard  the same, reading and discarding
  peers          min(N, --peers) processes each of `ffmpeg -c copy -f null`,
                 `ffmpeg -c copy` to a file, `gst-launch-1.0 rtspsrc ! fakesink`
                 and rtspsrc to a Matroska file, all at once (one process a stream)

CPU (user, system) and RSS come from /proc over the measured window, after
--warmup seconds of connecting. Then a short extra run under `strace -f -c`
counts jxrtsp's and the floor's system calls per frame, and 64 silent cameras
(playing, sending nothing) measure jxrtsp's idle cost.

  bench_streams.py [--counts 1,64,256,1000] [--seconds 20] [--quick] ...

Writes results/streams.csv and results/streams.svg (beside this script unless
--results DIR) and prints a Markdown table. Debian packages: python3, python3-gi,
gir1.2-gst-rtsp-server-1.0, gstreamer1.0-plugins-good/-bad, ffmpeg, strace, cc.
"""
import argparse
import csv
import json
import os
import re
import resource
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
CLIP_SECONDS = 20
# name -> (size, bit rate). An access unit delimiter starts every access unit (the
# server cuts the clip there); an IDR with SPS and PPS every 50 frames; no B-frames.
CLIPS = {
    "1080p": ("1920x1080", "4M"),
    "360p": ("640x360", "1M"),
}
SUBSTREAM_ABOVE = 256       # N above this gets the 640x360 sub-stream

HOST = "127.0.0.1"
CLIENT_KINDS = ["jxrtsp", "floor", "floor-discard", "peers"]
PEER_KINDS = ["ffmpeg -f null", "ffmpeg file", "gst fakesink", "gst file"]
READY_TIMEOUT = 15.0        # seconds for a server's "ready" line
STOP_GRACE = 20.0           # seconds a client may take to stop after SIGINT
TERM_GRACE = 3.0            # seconds between SIGTERM and SIGKILL
POLL = 0.05
SETTLE = 1.0                # seconds between client groups: the server drops the old sessions
LAG_LIMIT_MS = 500          # the canary's stream that far behind the clock: the server lags
SILENT_COUNT = 64
CLK_TCK = os.sysconf("SC_CLK_TCK")
PAGE_KIB = 1024.0

CHILDREN = []               # every process group started and not reaped


def log(text):
    print(text, file=sys.stderr, flush=True)


def spawn(argv, **kwargs):
    """A child in a process group of its own, so clean-up reaches what it starts."""
    proc = subprocess.Popen(argv, start_new_session=True, stdin=subprocess.DEVNULL, **kwargs)
    CHILDREN.append(proc)
    return proc


def signal_group(proc, sig):
    try:
        os.killpg(proc.pid, sig)
    except ProcessLookupError:
        pass


def reaped(proc, block=False):
    """True once the child has ended; its whole life's usage is kept in proc.rusage."""
    if proc.returncode is not None:
        return True
    try:
        pid, status, usage = os.wait4(proc.pid, 0 if block else os.WNOHANG)
    except ChildProcessError:
        proc.returncode = proc.returncode if proc.returncode is not None else -1
        return True
    if pid != proc.pid:
        return False
    proc.returncode = os.waitstatus_to_exitcode(status)
    proc.rusage = usage
    return True


def stop_all(procs, sig, grace):
    """Sends SIG, waits up to GRACE, then SIGTERM and SIGKILL. Returns exit codes."""
    for p in procs:
        if not reaped(p):
            signal_group(p, sig)
    for step_sig, wait in ((None, grace), (signal.SIGTERM, TERM_GRACE), (signal.SIGKILL, TERM_GRACE)):
        if step_sig is not None:
            for p in procs:
                if not reaped(p):
                    log("  pid %d did not stop: %s" % (p.pid, step_sig.name))
                    signal_group(p, step_sig)
        end = time.monotonic() + wait
        while time.monotonic() < end and not all([reaped(p) for p in procs]):
            time.sleep(POLL)
    for p in procs:
        reaped(p, block=True)
        if p in CHILDREN:
            CHILDREN.remove(p)
    return [p.returncode for p in procs]


def kill_all():
    stop_all(list(CHILDREN), signal.SIGTERM, TERM_GRACE)


def proc_cpu(pid):
    """(user, system) CPU seconds of a live process, from /proc."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return (0.0, 0.0)
    return (int(fields[11]) / CLK_TCK, int(fields[12]) / CLK_TCK)


def proc_rss_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


class Server:
    """bench_server.py on a free loopback port; its report lines are read by a thread."""

    def __init__(self, clip, paths, silent, work, index):
        argv = [sys.executable, os.path.join(HERE, "bench_server.py"), "--clip", clip, "--fps", str(FPS),
                "--paths", str(paths), "--silent", str(silent)]
        self.err_path = os.path.join(work, "server%d.err" % index)
        with open(self.err_path, "wb") as err:
            self.proc = spawn(argv, stdout=subprocess.PIPE, stderr=err)
        self.lock = threading.Lock()
        self.frames = {}            # kind -> (pushed, due, late)
        self.port = None
        self.ready = threading.Event()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()
        if not self.ready.wait(READY_TIMEOUT) or self.port is None:
            raise RuntimeError("bench_server.py did not start: " + open(self.err_path).read()[-2000:])

    def _read(self):
        for raw in self.proc.stdout:
            parts = raw.decode("utf-8", "replace").split()
            if len(parts) == 2 and parts[0] == "ready":
                self.port = int(parts[1])
                self.ready.set()
            elif len(parts) == 5 and parts[0] == "frames":
                with self.lock:
                    self.frames[parts[1]] = tuple(int(x) for x in parts[2:])
        self.ready.set()

    def url(self, prefix, i):
        return "rtsp://%s:%d/%s%d" % (HOST, self.port, prefix, i)

    def counts(self, kind="live"):
        with self.lock:
            return self.frames.get(kind, (0, 0, 0))

    def alive(self):
        return self.proc.poll() is None


class Servers:
    """One or more servers; stream i goes to server i mod K."""

    def __init__(self, clip, paths, silent, count, work):
        self.list = []
        self.per = (paths + count - 1) // count
        for k in range(count):
            # One path more on each: the canary's.
            self.list.append(Server(clip, self.per + 1, silent, work, k))

    def canary_urls(self):
        return [s.url("s", self.per + 1) for s in self.list]

    def urls(self, n, prefix="s"):
        k = len(self.list)
        return [self.list[i % k].url(prefix, i // k + 1) for i in range(n)]

    def counts(self, kind="live"):
        """Frames pushed, due and late, summed over the servers."""
        totals = [0, 0, 0]
        for s in self.list:
            for j, v in enumerate(s.counts(kind)):
                totals[j] += v
        return totals

    def cpu(self):
        return sum(sum(proc_cpu(s.proc.pid)) for s in self.list)

    def stop(self):
        stop_all([s.proc for s in self.list], signal.SIGTERM, TERM_GRACE)


def make_clip(cache_dir, name):
    size, rate = CLIPS[name]
    path = os.path.join(cache_dir, "clip_%s25_%s_gop50_aud.h264" % (name, rate))
    if os.path.exists(path):
        return path
    os.makedirs(cache_dir, exist_ok=True)
    log("making the %s clip once: %s" % (name, path))
    tmp = path + ".part"
    subprocess.run([
        "ffmpeg", "-nostdin", "-v", "error", "-y",
        "-f", "lavfi", "-i", "testsrc2=size=%s:rate=%d:duration=%d" % (size, FPS, CLIP_SECONDS),
        "-c:v", "libx264", "-preset", "veryfast", "-profile:v", "high", "-pix_fmt", "yuv420p",
        "-b:v", rate, "-maxrate", rate, "-bufsize", rate,
        "-x264-params", "keyint=50:min-keyint=50:scenecut=0:bframes=0:repeat-headers=1:aud=1",
        "-f", "h264", tmp], check=True, stdin=subprocess.DEVNULL)
    os.replace(tmp, path)
    return path


def build_floor(args, work):
    if args.floor:
        return args.floor
    built = os.path.join(REPO, "build", "bin", "floor_client")
    if os.access(built, os.X_OK) and os.path.getmtime(built) >= os.path.getmtime(os.path.join(HERE, "floor_client.c")):
        return built
    out = os.path.join(work, "floor_client")
    subprocess.run(["cc", "-O2", "-Wall", "-Wextra", "-o", out, os.path.join(HERE, "floor_client.c")], check=True)
    return out


# ---- the clients: each gives its processes, and reads its results after the stop ----

class Client:
    """A group of client processes and what they write."""

    normal_exits = (0,)

    def __init__(self, label, streams, work):
        self.label = label
        self.streams = streams
        self.dir = tempfile.mkdtemp(prefix=re.sub(r"\W+", "_", label) + ".", dir=work)
        self.procs = []
        self.errs = []      # each process's standard error, shown when it fails

    def start(self, argv, err_name, stdout=subprocess.DEVNULL):
        self.errs.append(self.out(err_name))
        with open(self.errs[-1], "wb") as err:
            self.procs.append(spawn(argv, stdout=stdout, stderr=err))

    def exit_ok(self, code, err_path):
        return code in self.normal_exits

    def failed_exits(self, exits):
        return [e for e, path in zip(exits, self.errs) if not self.exit_ok(e, path)]

    def report_failures(self, exits):
        for e, path in zip(exits, self.errs):
            if not self.exit_ok(e, path):
                with open(path, errors="replace") as f:
                    log("  %s: exit %d: %s" % (self.label, e, f.read()[-600:].strip()))

    def out(self, name):
        return os.path.join(self.dir, name)

    def results(self):
        """dict with frames_received, frames_lost, packets_lost (None where unknown)."""
        return dict(frames_received=None, frames_lost=None, packets_lost=None)


class Jxrtsp(Client):
    def __init__(self, label, jxrtsp, module, urls, work, seconds_bound):
        super().__init__(label, len(urls), work)
        with open(self.out("urls.txt"), "w") as f:
            f.write("\n".join(urls) + "\n")
        argv = [jxrtsp, "record"] + (["--module", module] if module else [])
        argv += ["--raw", "--json", "--seconds", str(seconds_bound), "--out", self.out("rec"), "--urls", self.out("urls.txt")]
        with open(self.out("out.json"), "wb") as out:
            self.start(argv, "err.txt", out)

    def results(self):
        try:
            with open(self.out("out.json")) as f:
                summaries = json.load(f)
        except ValueError:
            log("  %s printed no JSON; its stderr: %s" % (self.label, open(self.out("err.txt")).read()[-1000:]))
            return super().results()
        received = lost = packets_lost = reconnects = 0
        first_ms = [s["first_frame_ms"] for s in summaries if s.get("first_frame_ms") is not None]
        for s in summaries:
            v = s.get("video") or {}
            delivered, dropped, plost = v.get("frames_delivered") or 0, v.get("frames_dropped") or 0, v.get("packets_lost") or 0
            # Frames dropped on a stream that lost no packet are those before its
            # first key frame (it joined the shared media between two): not a loss.
            if plost:
                received += delivered
                lost += dropped
            else:
                received += delivered + dropped
            packets_lost += plost
            reconnects += s.get("reconnects") or 0
        if reconnects:
            log("  %s: %d reconnects" % (self.label, reconnects))
        return dict(frames_received=received, frames_lost=lost, packets_lost=packets_lost, streams_ok=len(summaries),
                    first_frame_ms_mean=sum(first_ms) / len(first_ms) if first_ms else None)


class Floor(Client):
    def __init__(self, label, floor, urls, work, discard, seconds_bound):
        super().__init__(label, len(urls), work)
        argv = [floor, "--fps", str(FPS), "--seconds", str(seconds_bound)]
        argv += ["--discard"] if discard else ["--out", self.out("files")]
        with open(self.out("out.json"), "wb") as out:
            self.start(argv + urls, "err.txt", out)

    def results(self):
        try:
            with open(self.out("out.json")) as f:
                r = json.loads(f.read())
        except ValueError:
            log("  %s printed no totals; its stderr: %s" % (self.label, open(self.out("err.txt")).read()[-1000:]))
            return super().results()
        return dict(frames_received=r["frames"], frames_lost=r["frames_lost"], packets_lost=r["packets_lost"],
                    streams_ok=r["playing"], lag_ms_max=r["lag_ms_max"])


MISSED_RE = re.compile(r"RTP: missed (\d+) packets")


class Ffmpeg(Client):
    normal_exits = (0, 255)     # 255: stopped by the SIGINT that ends every group
    def __init__(self, label, urls, work, to_file):
        super().__init__(label, len(urls), work)
        for i, url in enumerate(urls):
            argv = ["ffmpeg", "-nostdin", "-v", "warning", "-nostats", "-progress", self.out("progress%d" % i),
                    "-rtsp_transport", "tcp", "-i", url, "-c", "copy"]
            argv += ["-f", "h264", self.out("out%d.h264" % i)] if to_file else ["-f", "null", "-"]
            self.start(argv, "err%d" % i)

    def results(self):
        frames = packets_lost = 0
        for i in range(self.streams):
            last = 0
            with open(self.out("progress%d" % i)) as f:
                for line in f:
                    if line.startswith("frame="):
                        last = int(line.split("=", 1)[1])
            frames += last
            with open(self.out("err%d" % i), errors="replace") as f:
                packets_lost += sum(int(m.group(1)) for m in MISSED_RE.finditer(f.read()))
        return dict(frames_received=frames, frames_lost=None, packets_lost=packets_lost)


class Gst(Client):
    # At the stop, rtspsrc sometimes sends its PAUSE after its own TEARDOWN
    # closed the connection and exits 1 with this error; the run itself was fine.
    STOP_ERROR = "gst_rtspsrc_pause"

    def exit_ok(self, code, err_path):
        if code == 0:
            return True
        with open(err_path, errors="replace") as f:
            errors = [line for line in f if line.startswith("ERROR:") or "gstrtspsrc.c" in line]
        return code == 1 and errors and all(self.STOP_ERROR in e or e.startswith("ERROR: from element")
                                            for e in errors) and any(self.STOP_ERROR in e for e in errors)

    def __init__(self, label, urls, work, to_file):
        super().__init__(label, len(urls), work)
        self.to_file = to_file
        for i, url in enumerate(urls):
            tail = ("rtph264depay ! h264parse ! matroskamux ! filesink location=%s" % self.out("out%d.mkv" % i)
                    if to_file else "fakesink")
            argv = ["gst-launch-1.0", "-q", "-e", "rtspsrc", "location=" + url, "protocols=tcp", "!"] + tail.split()
            self.start(argv, "err%d" % i)

    def results(self):
        if not self.to_file:
            return super().results()
        frames = 0
        for i in range(self.streams):
            r = subprocess.run(["ffprobe", "-v", "error", "-count_packets", "-select_streams", "v:0",
                                "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", self.out("out%d.mkv" % i)],
                               capture_output=True, text=True, timeout=60)
            frames += int(r.stdout.strip() or 0) if r.stdout.strip().isdigit() else 0
        return dict(frames_received=frames, frames_lost=None, packets_lost=None)


# ---- one client group on the running server ----

def run_group(clients, servers, n, args, row_base, floor, work):
    """Starts every client of the group, measures the window, stops them. One row per client.

    A canary, one more floor stream reading and discarding on each server, runs
    beside them: how far its media clock falls behind the wall clock is how far
    the server falls behind with every client of the group."""
    canary = Floor("canary", floor, servers.canary_urls(), work, True, int(args.warmup_for(n) + args.seconds + 60))
    procs = [p for c in clients for p in c.procs] + canary.procs
    started = time.monotonic()
    pushed_at_start = servers.counts()[0]
    time.sleep(args.warmup_for(n))
    cpu0 = [[proc_cpu(p.pid) for p in c.procs] for c in clients]
    server0, push0, t0 = servers.cpu(), servers.counts(), time.monotonic()
    time.sleep(args.seconds)
    window = time.monotonic() - t0
    cpu1 = [[proc_cpu(p.pid) for p in c.procs] for c in clients]
    rss = [[proc_rss_kib(p.pid) for p in c.procs] for c in clients]
    server1, push1 = servers.cpu(), servers.counts()
    codes = stop_all(procs, signal.SIGINT, STOP_GRACE)
    pushed_life = servers.counts()[0] - pushed_at_start
    life = time.monotonic() - started
    server_alive = all(s.alive() for s in servers.list)
    canary_result = canary.results()
    shutil.rmtree(canary.dir, ignore_errors=True)
    rows = []
    at = 0
    for c, a, b, r in zip(clients, cpu0, cpu1, rss):
        exits = codes[at:at + len(c.procs)]
        at += len(c.procs)
        c.report_failures(exits)
        user = sum(y[0] - x[0] for x, y in zip(a, b))
        system = sum(y[1] - x[1] for x, y in zip(a, b))
        res = c.results()
        usages = [getattr(p, "rusage", None) for p in c.procs]
        row = dict(row_base)
        row.update(client=c.label, n=n, streams=c.streams, processes=len(c.procs), window_s=window, life_s=life,
                   exit=max((abs(e) for e in c.failed_exits(exits)), default=0),
                   cpu_user_s=user, cpu_sys_s=system, rss_kib=sum(r),
                   life_cpu_s=sum(u.ru_utime + u.ru_stime for u in usages if u),
                   frames_made=pushed_life * c.streams // max(1, len(servers.list)),
                   server_pushed=push1[0] - push0[0], server_due=push1[1] - push0[1],
                   server_late=push1[2] - push0[2], server_cpu_pct=100.0 * (server1 - server0) / window,
                   server_alive=server_alive, server_lag_ms=canary_result.get("lag_ms_max"),
                   canary_lost=canary_result.get("frames_lost"))
        row.update(res)
        rows.append(row)
        log("  %-22s N=%-4d streams=%-4d CPU %.2f s (user %.2f, sys %.2f), RSS %.1f MiB, frames %s, lost %s"
            % (c.label, n, c.streams, user + system, user, system, sum(r) / PAGE_KIB,
               res.get("frames_received"), res.get("frames_lost")))
    return rows


def strace_run(client, n, args):
    """Attaches strace -f -c to the running client for the window: system calls per frame due."""
    proc = client.procs[0]
    time.sleep(args.warmup_for(n))
    out = client.out("strace.txt")
    tracer = spawn(["strace", "-f", "-c", "-o", out, "-p", str(proc.pid)], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    time.sleep(args.strace_seconds)
    stop_all([tracer], signal.SIGINT, STOP_GRACE)
    stop_all(client.procs, signal.SIGINT, STOP_GRACE)
    calls = {}
    total = None
    with open(out) as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 5 and parts[3].isdigit():
                if parts[-1] == "total":
                    total = int(parts[3])
                else:
                    calls[parts[-1]] = int(parts[3])
    frames = n * FPS * args.strace_seconds
    top = sorted(calls.items(), key=lambda kv: -kv[1])[:4]
    return dict(client=client.label, n=n, syscalls=total, syscalls_per_frame=(total / frames if total else None),
                top_syscalls=" ".join("%s:%.2f" % (k, v / frames) for k, v in top))


# ---- the whole run ----

def clients_for(kind, n, servers, args, floor, work, bound):
    urls = servers.urls(n)
    if kind == "jxrtsp":
        return [Jxrtsp(label, args.jxrtsp, module, urls, work, bound) for label, module in args.builds]
    if kind == "floor":
        return [Floor("floor (write)", floor, urls, work, False, bound)]
    if kind == "floor-discard":
        return [Floor("floor (discard)", floor, urls, work, True, bound)]
    k = min(n, args.peers)
    peer_urls = servers.urls(k)
    return [Ffmpeg("ffmpeg -f null", peer_urls, work, False), Ffmpeg("ffmpeg -c copy file", peer_urls, work, True),
            Gst("gst rtspsrc ! fakesink", peer_urls, work, False), Gst("gst rtspsrc ! mkv file", peer_urls, work, True)]


def run_count(n, args, floor, work):
    clip_name = "360p" if n > SUBSTREAM_ABOVE else "1080p"
    clip = make_clip(args.cache, clip_name)
    server_count = args.servers or (2 if n > SUBSTREAM_ABOVE else 1)
    bound = int(args.warmup_for(n) + args.seconds + 60)
    rows, traces = [], []
    servers = Servers(clip, n, 0, server_count, work)
    try:
        base = dict(media=clip_name, servers=server_count)
        for kind in args.clients:
            groups = [[c] for c in clients_for(kind, n, servers, args, floor, work, bound)] if kind == "jxrtsp" else \
                [clients_for(kind, n, servers, args, floor, work, bound)]
            for group in groups:
                log("N=%d, %s on %d server(s), %s, %d + %d s" % (n, ", ".join(c.label for c in group), server_count,
                                                                 clip_name, args.warmup_for(n), args.seconds))
                rows += run_group(group, servers, n, args, base, floor, work)
                for c in group:
                    shutil.rmtree(c.dir, ignore_errors=True)
                time.sleep(SETTLE)
        if args.strace_seconds and n in args.strace_counts:
            for kind in ("jxrtsp", "floor"):
                if kind not in args.clients:
                    continue
                for c in clients_for(kind, n, servers, args, floor, work, bound)[:1]:
                    log("N=%d, %s under strace -f -c, %d s" % (n, c.label, args.strace_seconds))
                    traces.append(strace_run(c, n, args))
                    shutil.rmtree(c.dir, ignore_errors=True)
                    time.sleep(SETTLE)
    finally:
        servers.stop()
    return rows, traces


def run_silent(args, work):
    """64 cameras that play and send nothing: jxrtsp's CPU over --silent-seconds."""
    clip = make_clip(args.cache, "360p")
    servers = Servers(clip, 0, args.silent, 1, work)
    rows = []
    try:
        urls = servers.urls(args.silent, "q")
        for label, module in args.builds:
            c = Jxrtsp(label, args.jxrtsp, module, urls, work, int(args.warmup + args.silent_seconds + 60))
            log("%d silent cameras, %s, %d + %d s" % (args.silent, label, args.warmup, args.silent_seconds))
            time.sleep(args.warmup)
            a, t0 = proc_cpu(c.procs[0].pid), time.monotonic()
            time.sleep(args.silent_seconds)
            b, window = proc_cpu(c.procs[0].pid), time.monotonic() - t0
            stop_all(c.procs, signal.SIGINT, STOP_GRACE)
            res = c.results()
            rows.append(dict(client=label, cameras=args.silent, window_s=window, cpu_user_s=b[0] - a[0],
                             cpu_sys_s=b[1] - a[1], playing=res.get("streams_ok")))
            log("  CPU %.3f s (user %.3f, sys %.3f) in %.1f s" % (b[0] - a[0] + b[1] - a[1], b[0] - a[0], b[1] - a[1], window))
            shutil.rmtree(c.dir, ignore_errors=True)
    finally:
        servers.stop()
    return rows


# ---- figures, CSV, table, plot ----

def derive(rows, traces):
    """Per-stream figures, the marginal memory, the share of ffmpeg and the server check."""
    first = {}
    for r in sorted(rows, key=lambda r: r["n"]):
        first.setdefault(r["client"], r)
    ffmpeg = {r["n"]: r for r in rows if r["client"] == "ffmpeg -f null"}
    trace = {(t["client"], t["n"]): t for t in traces}
    for r in rows:
        s, w = r["streams"], r["window_s"]
        r["cpu_pct_per_stream"] = 100.0 * (r["cpu_user_s"] + r["cpu_sys_s"]) / (s * w)
        r["cpu_user_pct_per_stream"] = 100.0 * r["cpu_user_s"] / (s * w)
        r["cpu_sys_pct_per_stream"] = 100.0 * r["cpu_sys_s"] / (s * w)
        r["rss_mib_per_stream"] = r["rss_kib"] / s / PAGE_KIB
        # The whole life, start and connects included, from the reaped child's usage.
        r["life_cpu_pct_per_stream"] = 100.0 * r["life_cpu_s"] / (s * r["life_s"])
    for r in rows:
        s = r["streams"]
        one = first[r["client"]]
        single = r["processes"] == 1
        r["rss_mib_marginal"] = ((r["rss_kib"] - one["rss_kib"]) / (s - one["streams"]) / PAGE_KIB
                                 if single and s > one["streams"] else None)
        ff = ffmpeg.get(r["n"])
        r["share_of_ffmpeg"] = (r["cpu_pct_per_stream"] / ff["cpu_pct_per_stream"]
                                if ff and ff["cpu_pct_per_stream"] > 0 else None)
        r["life_share_of_ffmpeg"] = (r["life_cpu_pct_per_stream"] / ff["life_cpu_pct_per_stream"]
                                     if ff and ff["life_cpu_pct_per_stream"] > 0 else None)
        t = trace.get((r["client"], r["n"]))
        r["syscalls_per_frame"] = t["syscalls_per_frame"] if t else None
        r["top_syscalls"] = t["top_syscalls"] if t else ""
        problems = []
        if not r["server_alive"]:
            problems.append("server died")
        if r["server_pushed"] < r["server_due"] - 2:
            problems.append("source behind (%d of %d frames)" % (r["server_pushed"], r["server_due"]))
        if r["server_lag_ms"] is None:
            problems.append("no canary figures")
        elif r["server_lag_ms"] > LAG_LIMIT_MS:
            problems.append("%d ms behind" % r["server_lag_ms"])
        if r["canary_lost"]:
            problems.append("canary lost %d frames" % r["canary_lost"])
        if (r.get("packets_lost") or 0) > 0:
            problems.append("%d packets lost" % r["packets_lost"])
        r["server_check"] = "; ".join(problems) if problems else "ok"
    return rows


COLUMNS = ["client", "n", "streams", "processes", "media", "servers", "window_s", "life_s", "exit",
           "cpu_user_s", "cpu_sys_s", "cpu_pct_per_stream", "cpu_user_pct_per_stream", "cpu_sys_pct_per_stream",
           "share_of_ffmpeg", "life_cpu_s", "life_cpu_pct_per_stream", "life_share_of_ffmpeg", "rss_kib", "rss_mib_per_stream", "rss_mib_marginal", "frames_received", "frames_made",
           "frames_lost", "packets_lost", "first_frame_ms_mean", "syscalls_per_frame", "top_syscalls",
           "server_pushed", "server_due", "server_late", "server_cpu_pct", "server_lag_ms", "canary_lost", "server_check"]


def fmt(v, digits=3):
    if v is None or v == "":
        return "-"
    if isinstance(v, float):
        return "%.*f" % (digits, v)
    return str(v)


def write_csv(rows, silent, path):
    with open(path, "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=COLUMNS + ["cameras"], extrasaction="ignore")
        w.writeheader()
        for r in rows:
            w.writerow({k: (round(v, 5) if isinstance(v, float) else v) for k, v in r.items()})
        for s in silent:
            w.writerow(dict(client=s["client"] + " (silent cameras)", cameras=s["cameras"], streams=s["cameras"],
                            window_s=round(s["window_s"], 2), cpu_user_s=round(s["cpu_user_s"], 4),
                            cpu_sys_s=round(s["cpu_sys_s"], 4)))


def markdown(rows, silent, seconds):
    head = ("| client | N | % of a core per stream (user / sys) | share of ffmpeg | RSS MiB per stream "
            "| marginal MiB per stream | frames received / sent | frames lost | syscalls per frame "
            "| server lag ms | server |")
    lines = [head, "|" + "---|" * head.count(" | ") + "---|"]
    for r in rows:
        streams = "" if r["streams"] == r["n"] else " (%d)" % r["streams"]
        sent = r["frames_received"] + r["frames_lost"] if r["frames_lost"] is not None else None
        lines.append("| %s | %d%s | %s (%s / %s) | %s | %s | %s | %s / %s | %s | %s | %s | %s |" % (
            r["client"], r["n"], streams, fmt(r["cpu_pct_per_stream"]), fmt(r["cpu_user_pct_per_stream"]),
            fmt(r["cpu_sys_pct_per_stream"]), fmt(r["share_of_ffmpeg"]), fmt(r["rss_mib_per_stream"], 2),
            fmt(r["rss_mib_marginal"], 2), fmt(r["frames_received"]), fmt(sent), fmt(r["frames_lost"]),
            fmt(r["syscalls_per_frame"], 1), fmt(r["server_lag_ms"], 0), r["server_check"]))
    out = "\n".join(lines)
    for s in silent:
        out += ("\n\n%d silent cameras (playing, sending nothing), %s: %.3f CPU-s in %.1f s (user %.3f, sys %.3f), "
                "%.2f %% of a core" % (s["cameras"], s["client"], s["cpu_user_s"] + s["cpu_sys_s"], s["window_s"],
                                       s["cpu_user_s"], s["cpu_sys_s"],
                                       100.0 * (s["cpu_user_s"] + s["cpu_sys_s"]) / s["window_s"]))
    return out + "\n\n(%d s measured per group after the connects; N in brackets: the processes of one-process-a-stream clients)" % seconds


SVG_COLORS = ["#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd", "#8c564b", "#e377c2", "#7f7f7f", "#17becf"]


def svg_panel(x0, y0, w, h, series, title, ylabel):
    """One log-log panel: series = [(label, [(n, value)])]. Returns SVG text."""
    import math
    points = [(n, v) for _, pts in series for n, v in pts if v and v > 0]
    if not points:
        return ""
    nx = [math.log10(n) for n, _ in points]
    vy = [math.log10(v) for _, v in points]
    xmin, xmax = min(nx) - 0.1, max(nx) + 0.1
    ymin, ymax = math.floor(min(vy)), math.ceil(max(vy))
    if ymax == ymin:
        ymax += 1

    def px(n):
        return x0 + (math.log10(n) - xmin) / (xmax - xmin) * w

    def py(v):
        return y0 + h - (math.log10(v) - ymin) / (ymax - ymin) * h

    out = ['<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="#000"/>' % (x0, y0, w, h),
           '<text x="%d" y="%d" text-anchor="middle" font-size="13">%s</text>' % (x0 + w / 2, y0 - 8, title),
           '<text x="%d" y="%d" text-anchor="middle" font-size="11" transform="rotate(-90 %d %d)">%s</text>'
           % (x0 - 48, y0 + h / 2, x0 - 48, y0 + h / 2, ylabel),
           '<text x="%d" y="%d" text-anchor="middle" font-size="11">streams at once (N)</text>' % (x0 + w / 2, y0 + h + 32)]
    for e in range(ymin, ymax + 1):
        y = py(10 ** e)
        out.append('<line x1="%d" y1="%.1f" x2="%d" y2="%.1f" stroke="#ddd"/>' % (x0, y, x0 + w, y))
        out.append('<text x="%d" y="%.1f" text-anchor="end" font-size="10">%g</text>' % (x0 - 4, y + 3, 10 ** e))
    for n in sorted({n for n, _ in points}):
        x = px(n)
        out.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="#ddd"/>' % (x, y0, x, y0 + h))
        out.append('<text x="%.1f" y="%d" text-anchor="middle" font-size="10">%d</text>' % (x, y0 + h + 14, n))
    for i, (label, pts) in enumerate(series):
        pts = [(n, v) for n, v in sorted(pts) if v and v > 0]
        if not pts:
            continue
        color = SVG_COLORS[i % len(SVG_COLORS)]
        out.append('<polyline fill="none" stroke="%s" stroke-width="2" points="%s"/>'
                   % (color, " ".join("%.1f,%.1f" % (px(n), py(v)) for n, v in pts)))
        for n, v in pts:
            out.append('<circle cx="%.1f" cy="%.1f" r="3" fill="%s"/>' % (px(n), py(v), color))
    return "\n".join(out)


def write_svg(rows, path, seconds):
    clients = []
    for r in rows:
        if r["client"] not in clients:
            clients.append(r["client"])
    cpu = [(c, [(r["n"], r["cpu_pct_per_stream"]) for r in rows if r["client"] == c]) for c in clients]
    mem = [(c, [(r["n"], r["rss_mib_per_stream"]) for r in rows if r["client"] == c]) for c in clients]
    body = svg_panel(70, 40, 420, 320, cpu, "CPU per stream", "% of one core per stream")
    body += "\n" + svg_panel(600, 40, 420, 320, mem, "memory per stream", "RSS MiB per stream")
    # One legend under both panels: the same client has the same colour in each.
    for i, c in enumerate(clients):
        x, y = 70 + 240 * (i % 4), 430 + 16 * (i // 4)
        color = SVG_COLORS[i % len(SVG_COLORS)]
        body += ('\n<line x1="%d" y1="%d" x2="%d" y2="%d" stroke="%s" stroke-width="2"/>'
                 '<text x="%d" y="%d" font-size="11">%s</text>' % (x, y - 4, x + 20, y - 4, color, x + 26, y, c))
    with open(path, "w") as f:
        f.write('<svg xmlns="http://www.w3.org/2000/svg" width="1060" height="510" font-family="sans-serif">\n'
                '<rect width="100%%" height="100%%" fill="#fff"/>\n%s\n'
                '<text x="530" y="500" text-anchor="middle" font-size="11">H.264 over RTSP interleaved TCP on 127.0.0.1, '
                '1080p 4 Mbit/s up to %d streams, 640x360 1 Mbit/s above; %d s a group</text>\n</svg>\n'
                % (body, SUBSTREAM_ABOVE, seconds))


# ---- arguments ----

def counts(text):
    try:
        values = [int(x) for x in text.split(",") if x.strip()]
    except ValueError:
        raise argparse.ArgumentTypeError("a comma-separated list of stream counts")
    if not values or any(v < 1 for v in values):
        raise argparse.ArgumentTypeError("stream counts start at 1")
    return values


def kinds(text):
    values = [x.strip() for x in text.split(",") if x.strip()]
    bad = [v for v in values if v not in CLIENT_KINDS]
    if bad:
        raise argparse.ArgumentTypeError("unknown client kind(s) %s; known: %s" % (", ".join(bad), ",".join(CLIENT_KINDS)))
    return values


def parse_args():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--counts", type=counts, default=[1, 64, 256, 1000], help="N (default 1,64,256,1000)")
    ap.add_argument("--seconds", type=int, default=20, help="measured seconds per client group (default 20)")
    ap.add_argument("--warmup", type=int, default=5, help="seconds of connecting before the window (default 5; "
                    "plus 1 s per 100 streams)")
    ap.add_argument("--clients", type=kinds, default=CLIENT_KINDS, help="groups to run (default %s)" % ",".join(CLIENT_KINDS))
    ap.add_argument("--peers", type=int, default=4, help="ffmpeg and GStreamer processes of each kind (default 4)")
    ap.add_argument("--servers", type=int, default=0, help="server processes (default 1; 2 above %d streams)" % SUBSTREAM_ABOVE)
    ap.add_argument("--strace-seconds", type=int, default=5, help="seconds of the strace run (0: none)")
    ap.add_argument("--strace-counts", type=counts, default=None,
                    help="N with a strace run (default every N up to %d)" % SUBSTREAM_ABOVE)
    ap.add_argument("--silent", type=int, default=SILENT_COUNT, help="silent cameras (default 64; 0: none)")
    ap.add_argument("--silent-seconds", type=int, default=15)
    ap.add_argument("--quick", action="store_true",
                    help="a check in under 2 minutes: N = 1,64, 4 s after 3 s, 2 peers, strace at 64 only")
    ap.add_argument("--jxrtsp", default=os.path.join(REPO, "build", "bin", "jxrtsp"))
    ap.add_argument("--module", action="append", default=[],
                    help="a libJXRtsp.so to load instead of the one beside jxrtsp; again to compare builds")
    ap.add_argument("--floor", default=None, help="floor_client program (default build/bin/floor_client, or compiled with cc)")
    ap.add_argument("--cache", default=os.path.join(os.environ.get("XDG_CACHE_HOME", os.path.expanduser("~/.cache")),
                                                   "jxrtsp-bench"), help="where the clips are made once")
    ap.add_argument("--work", default=None, help="folder for recordings (default a new temp folder, removed)")
    ap.add_argument("--results", default=os.path.join(HERE, "results"))
    args = ap.parse_args()
    if args.quick:
        args.counts, args.seconds, args.warmup, args.peers = [1, 64], 4, 3, 2
        args.strace_seconds, args.silent_seconds, args.strace_counts = 3, 5, [64]
    if args.strace_counts is None:
        args.strace_counts = [n for n in args.counts if n <= SUBSTREAM_ABOVE]
    if args.seconds < 1:
        ap.error("--seconds must be at least 1")
    if not os.access(args.jxrtsp, os.X_OK):
        ap.error("no jxrtsp at %s (build it, or give --jxrtsp)" % args.jxrtsp)
    for tool, package in (("ffmpeg", "ffmpeg"), ("ffprobe", "ffmpeg"), ("gst-launch-1.0", "gstreamer1.0-tools"),
                          ("strace", "strace"), ("cc", "gcc")):
        if shutil.which(tool) is None:
            ap.error("%s is not installed (Debian package %s)" % (tool, package))
    args.builds = [("jxrtsp", None)] if not args.module else \
        [("jxrtsp %s" % (os.path.basename(os.path.dirname(os.path.dirname(os.path.abspath(m)))) or m), m) for m in args.module]
    if len({label for label, _ in args.builds}) < len(args.builds):
        args.builds = [("jxrtsp #%d" % (i + 1), m) for i, (_, m) in enumerate(args.builds)]
    args.warmup_for = lambda n: args.warmup + n // 100
    return args


def on_sigterm(_signum, _frame):
    raise KeyboardInterrupt()


def main():
    args = parse_args()
    signal.signal(signal.SIGTERM, on_sigterm)
    signal.signal(signal.SIGINT, signal.default_int_handler)
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))     # 1000 streams: more sockets than 1024
    work = tempfile.mkdtemp(prefix="bench_streams.", dir=args.work)
    rows, traces, silent = [], [], []
    started = time.monotonic()
    try:
        floor = build_floor(args, work)
        for n in args.counts:
            r, t = run_count(n, args, floor, work)
            rows += r
            traces += t
        if args.silent and "jxrtsp" in args.clients:
            silent = run_silent(args, work)
    except KeyboardInterrupt:
        log("interrupted: stopping every child")
        return 130
    finally:
        kill_all()
        shutil.rmtree(work, ignore_errors=True)
    derive(rows, traces)
    os.makedirs(args.results, exist_ok=True)
    write_csv(rows, silent, os.path.join(args.results, "streams.csv"))
    write_svg(rows, os.path.join(args.results, "streams.svg"), args.seconds)
    print(markdown(rows, silent, args.seconds))
    log("wrote %s and streams.svg in %.0f s" % (os.path.join(args.results, "streams.csv"), time.monotonic() - started))
    failed = [r for r in rows if r["exit"] != 0 or r["server_check"] != "ok"]
    for r in failed:
        log("NOT CLEAN: %s N=%d: exit %d, server check: %s" % (r["client"], r["n"], r["exit"], r["server_check"]))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
