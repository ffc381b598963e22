"""What the interop scripts share: the outcome of a case, running a program
with a time limit, a free loopback port, and the checks of a file with ffprobe
and a full decode with ffmpeg."""
import shutil
import socket
import subprocess
import sys

EXIT_SKIP = 77
PROCESS_LIMIT_S = 60     # any run of jxrtsp, ffprobe or ffmpeg


class Skip(Exception):
    pass


class Fail(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Fail(what)


def need_tools(*tools):
    for tool in tools:
        if shutil.which(tool) is None:
            raise Skip("%s not installed" % tool)


def run(args, limit=PROCESS_LIMIT_S, **kw):
    """The finished process, its output as text; one that outlives the limit fails the case."""
    try:
        return subprocess.run(args, capture_output=True, text=True, timeout=limit, **kw)
    except subprocess.TimeoutExpired:
        raise Fail("timed out after %d s: %s" % (limit, " ".join(args)))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def stream_fields(path, entries="codec_name"):
    """The ffprobe entries of each stream of a file, a list of values a stream."""
    r = run(["ffprobe", "-v", "error", "-show_entries", "stream=" + entries, "-of", "compact=p=0:nk=1", path])
    return [line.split("|") for line in r.stdout.split()]


def check_decodes(path):
    """A full decode with ffmpeg that prints nothing."""
    r = run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "null", "-"])
    check(r.returncode == 0 and r.stdout == "" and r.stderr == "",
          "%s does not decode cleanly: %s" % (path, r.stderr.strip()[:400]))


def main(doc, cases, run_case):
    """The command line of every script: --list, or --jxrtsp PATH CASE; the
    case's outcome printed with its reason; the exit status (77: skipped)."""
    argv = sys.argv
    if argv[1:] == ["--list"]:
        print(";".join(cases))
        return 0
    if len(argv) != 4 or argv[1] != "--jxrtsp" or argv[3] not in cases:
        print(doc, file=sys.stderr)
        return 2
    name = argv[3]
    try:
        run_case(argv[2], name)
    except Skip as e:
        print("SKIP %s: %s" % (name, e))
        return EXIT_SKIP
    except Fail as e:
        print("FAIL %s: %s" % (name, e))
        return 1
    print("PASS " + name)
    return 0
