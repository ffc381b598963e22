/* floor_client: the least an RTSP recorder has to do, as a yardstick for
 * bench_streams.py. One thread and one epoll wait over every connection:
 * DESCRIBE, SETUP (RTP interleaved on the TCP connection) and PLAY for each
 * URL, then 256 KiB reads, the interleaved framing parsed, and each RTP
 * payload of channel 0 appended to a 1 MiB buffer per stream that is written
 * to DIR/N.rtp when full (or only counted with --discard).
 *
 *   floor_client [--discard] [--out DIR] [--seconds S] [--fps F] URL...
 *
 * URLs are rtsp://A.B.C.D:PORT/PATH (numeric IPv4). Runs until S seconds have
 * passed (0: until SIGINT or SIGTERM), then sends TEARDOWN, writes what is
 * buffered and prints one JSON line of totals on standard output. Frames are
 * counted at the RTP marker bit; a frame with a sequence gap, or one whose
 * timestamp fell in a sequence gap (F frames a second on a 90 kHz clock),
 * counts as lost. lag_ms_max is the most any stream's media clock (RTP time
 * since its first packet) fell behind the wall clock at the end of a frame.
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

enum {
    READ_BYTES = 256 * 1024,            /* one read */
    WRITE_BUFFER_BYTES = 1024 * 1024,   /* payloads gathered per stream before a write */
    MAX_HEAD_BYTES = 8 * 1024,          /* an RTSP answer's status line and headers */
    MAX_BODY_BYTES = 32 * 1024,         /* an RTSP answer's body (the description) */
    MAX_FRAME_BYTES = 4 + 65535,        /* '$', channel, 16-bit length, data */
    CARRY_BYTES = MAX_HEAD_BYTES + MAX_BODY_BYTES + MAX_FRAME_BYTES,
    MAX_URL = 512,
    MAX_SESSION = 128,
    MAX_EVENTS = 1024,
    RTP_HEADER = 12,
    RTP_CLOCK = 90000,
    KEEPALIVE_S = 20,                   /* well inside a 60 s session time-out */
    REQUEST_BYTES = 2048,
};

enum State { S_CONNECTING, S_DESCRIBE, S_SETUP, S_PLAY, S_PLAYING, S_FAILED };

struct Stream {
    int fd;
    enum State state;
    char host[64];
    int port;
    char url[MAX_URL];
    char setup_url[MAX_URL];
    char session[MAX_SESSION];
    int cseq;
    time_t next_keepalive;
    unsigned char *carry;       /* a frame or answer split across reads */
    size_t carry_len;
    unsigned char *out;         /* payloads not written yet */
    size_t out_len;
    int file;
    int have_seq, have_ts, frame_bad, frame_open;
    uint16_t next_seq;
    uint32_t last_ts;
    uint64_t frames, frames_lost, packets, packets_lost, bytes;
    double first_wall;              /* when the first packet came */
    int64_t ts_span;                /* RTP clock from the first packet to the latest */
    double lag_max;                 /* the most the media clock fell behind the wall clock */
};

struct Totals {
    uint64_t reads, writes, waits;
};

static volatile sig_atomic_t g_stop;
static int g_discard;
static double g_fps = 25.0;
static struct Totals g_totals;
static double g_now;    /* the clock after the latest wait */

static void on_signal(int sig) { (void)sig; g_stop = 1; }

static double now_s(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

static void fail(struct Stream *s, const char *why)
{
    if (s->state != S_FAILED) fprintf(stderr, "floor_client: %s: %s\n", s->url, why);
    s->state = S_FAILED;
}

/* rtsp://A.B.C.D:PORT/PATH into host and port; 0 on success. */
static int parse_url(struct Stream *s, const char *url)
{
    const char *prefix = "rtsp://";
    if (strlen(url) >= MAX_URL || strncmp(url, prefix, strlen(prefix)) != 0) return -1;
    strcpy(s->url, url);
    const char *host = url + strlen(prefix);
    const char *colon = strchr(host, ':');
    const char *slash = strchr(host, '/');
    if (!colon || (slash && slash < colon) || (size_t)(colon - host) >= sizeof(s->host)) return -1;
    memcpy(s->host, host, colon - host);
    s->host[colon - host] = 0;
    s->port = atoi(colon + 1);
    return s->port > 0 && s->port < 65536 ? 0 : -1;
}

static void send_all(struct Stream *s, const char *text, size_t len)
{
    while (len > 0) {
        ssize_t n = send(s->fd, text, len, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        /* Requests are small and the socket's buffer is empty between them. */
        if (n <= 0) { fail(s, "send failed"); return; }
        text += n;
        len -= (size_t)n;
    }
}

static void request(struct Stream *s, const char *method, const char *url, const char *extra)
{
    char text[REQUEST_BYTES];
    int n = snprintf(text, sizeof(text), "%s %s RTSP/1.0\r\nCSeq: %d\r\nUser-Agent: floor_client\r\n%s%s%s\r\n",
                     method, url, ++s->cseq, s->session[0] ? "Session: " : "", s->session, s->session[0] ? "\r\n" : "");
    if (n <= 0 || (size_t)n >= sizeof(text) - strlen(extra)) { fail(s, "request too long"); return; }
    /* The extra headers go before the blank line that ends the request. */
    n -= 2;
    n += snprintf(text + n, sizeof(text) - n, "%s\r\n", extra);
    send_all(s, text, (size_t)n);
}

/* The value of header NAME in HEAD (LEN bytes), copied into OUT up to the end of the line. */
static int header_value(const char *head, size_t len, const char *name, char *out, size_t out_size)
{
    size_t name_len = strlen(name);
    for (const char *line = head; line && line < head + len; ) {
        const char *end = memchr(line, '\n', head + len - line);
        if (!end) return -1;
        if ((size_t)(end - line) > name_len && strncasecmp(line, name, name_len) == 0 && line[name_len] == ':') {
            const char *v = line + name_len + 1;
            while (v < end && (*v == ' ' || *v == '\t')) ++v;
            size_t n = (size_t)(end - v);
            if (n > 0 && v[n - 1] == '\r') --n;
            if (n >= out_size) return -1;
            memcpy(out, v, n);
            out[n] = 0;
            return 0;
        }
        line = end + 1;
    }
    return -1;
}

/* The first video section's control attribute (any section's when there is no video). */
static int find_control(const char *sdp, size_t len, char *out, size_t out_size)
{
    int in_media = 0, in_video = 0;
    char first[MAX_URL] = "";
    for (const char *line = sdp; line < sdp + len; ) {
        const char *end = memchr(line, '\n', sdp + len - line);
        if (!end) end = sdp + len;
        size_t n = (size_t)(end - line);
        if (n > 0 && line[n - 1] == '\r') --n;
        if (n >= 2 && line[0] == 'm' && line[1] == '=') {
            in_media = 1;
            in_video = n >= 7 && strncmp(line, "m=video", 7) == 0;
        } else if (in_media && n > 10 && strncmp(line, "a=control:", 10) == 0 && n - 10 < sizeof(first)) {
            if (!first[0] || in_video) {
                memcpy(first, line + 10, n - 10);
                first[n - 10] = 0;
            }
            if (in_video) break;
        }
        line = end + 1;
    }
    if (!first[0] || strlen(first) >= out_size) return -1;
    strcpy(out, first);
    return 0;
}

static void on_answer(struct Stream *s, int code, const char *head, size_t head_len, const char *body, size_t body_len)
{
    char base[MAX_URL], control[MAX_URL], value[MAX_SESSION];
    if (s->state == S_PLAYING) return;   /* a keep-alive's answer */
    if (code != 200) { fail(s, "answer is not 200"); return; }
    switch (s->state) {
    case S_DESCRIBE:
        if (header_value(head, head_len, "Content-Base", base, sizeof(base)) != 0) strcpy(base, s->url);
        if (find_control(body, body_len, control, sizeof(control)) != 0) { fail(s, "no control in the description"); return; }
        if (strncmp(control, "rtsp://", 7) == 0) {
            strcpy(s->setup_url, control);
        } else {
            size_t b = strlen(base);
            const char *sep = (b > 0 && base[b - 1] == '/') ? "" : "/";
            if (snprintf(s->setup_url, sizeof(s->setup_url), "%s%s%s", base, sep, control) >= (int)sizeof(s->setup_url)) {
                fail(s, "control URL too long");
                return;
            }
        }
        s->state = S_SETUP;
        request(s, "SETUP", s->setup_url, "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n");
        return;
    case S_SETUP:
        if (header_value(head, head_len, "Session", value, sizeof(value)) != 0) { fail(s, "no session"); return; }
        value[strcspn(value, "; \t")] = 0;
        strcpy(s->session, value);
        s->state = S_PLAY;
        request(s, "PLAY", s->url, "Range: npt=0.000-\r\n");
        return;
    case S_PLAY:
        s->state = S_PLAYING;
        s->next_keepalive = time(NULL) + KEEPALIVE_S;
        return;
    default:
        return;
    }
}

static void flush_out(struct Stream *s)
{
    size_t at = 0;
    while (at < s->out_len) {
        ssize_t n = write(s->file, s->out + at, s->out_len - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) { fail(s, "write failed"); break; }
        at += (size_t)n;
        ++g_totals.writes;
    }
    s->out_len = 0;
}

static void on_rtp(struct Stream *s, const unsigned char *p, size_t len)
{
    if (len < RTP_HEADER || (p[0] >> 6) != 2) return;
    size_t head = RTP_HEADER + 4u * (p[0] & 0x0f);
    if ((p[0] & 0x10) && len >= head + 4) head += 4 + 4u * ((p[head + 2] << 8) | p[head + 3]);
    size_t pad = (p[0] & 0x20) ? p[len - 1] : 0;
    if (head + pad > len) return;
    const int marker = p[1] & 0x80;
    const uint16_t seq = (uint16_t)((p[2] << 8) | p[3]);
    const uint32_t ts = ((uint32_t)p[4] << 24) | ((uint32_t)p[5] << 16) | ((uint32_t)p[6] << 8) | p[7];
    const uint16_t gap = (uint16_t)(seq - s->next_seq);
    const int lost = s->have_seq && gap != 0 && gap < 0x8000;
    if (s->have_ts && ts != s->last_ts) {
        /* A frame whose marked last packet never came is lost; so are the
         * frames whose timestamps fell in a gap of the sequence numbers. */
        if (s->frame_open) ++s->frames_lost;
        const double step = RTP_CLOCK / g_fps;
        const double skipped = (double)(int32_t)(ts - s->last_ts) / step - 1.0;
        if (lost && skipped >= 0.5 && skipped < 1e6) s->frames_lost += (uint64_t)(skipped + 0.5);
        s->ts_span += (int32_t)(ts - s->last_ts);
        s->frame_open = 0;
        s->frame_bad = 0;
    }
    if (!s->have_ts) s->first_wall = g_now;
    s->have_ts = 1;
    s->last_ts = ts;
    if (lost) {
        s->packets_lost += gap;
        s->frame_bad = 1;
    }
    s->have_seq = 1;
    s->next_seq = (uint16_t)(seq + 1);
    s->frame_open = 1;
    ++s->packets;
    const size_t payload = len - head - pad;
    s->bytes += payload;
    if (!g_discard) {
        if (s->out_len + payload > WRITE_BUFFER_BYTES) flush_out(s);
        memcpy(s->out + s->out_len, p + head, payload);
        s->out_len += payload;
    }
    if (marker) {
        const double lag = (g_now - s->first_wall) - (double)s->ts_span / RTP_CLOCK;
        if (lag > s->lag_max) s->lag_max = lag;
        if (s->frame_bad) ++s->frames_lost; else ++s->frames;
        s->frame_bad = 0;
        s->frame_open = 0;
    }
}

/* Parses BUF (LEN bytes): interleaved frames and RTSP answers. Returns the bytes used. */
static size_t parse(struct Stream *s, unsigned char *buf, size_t len)
{
    size_t pos = 0;
    while (pos < len && s->state != S_FAILED) {
        const size_t left = len - pos;
        if (buf[pos] == '$') {
            if (left < 4) break;
            const size_t size = ((size_t)buf[pos + 2] << 8) | buf[pos + 3];
            if (left < 4 + size) break;
            if (buf[pos + 1] == 0) on_rtp(s, buf + pos + 4, size);
            pos += 4 + size;
            continue;
        }
        const char *text = (const char *)buf + pos;
        const size_t span = left < MAX_HEAD_BYTES ? left : MAX_HEAD_BYTES;
        const char *end = memmem(text, span, "\r\n\r\n", 4);
        if (!end) {
            if (left >= MAX_HEAD_BYTES) fail(s, "RTSP message head too long");
            break;
        }
        const size_t head_len = (size_t)(end - text) + 4;
        char value[32];
        size_t body_len = 0;
        if (header_value(text, head_len, "Content-Length", value, sizeof(value)) == 0) body_len = strtoul(value, NULL, 10);
        if (body_len > MAX_BODY_BYTES) { fail(s, "RTSP body too long"); break; }
        if (left < head_len + body_len) break;
        if (strncmp(text, "RTSP/1.0 ", 9) == 0)
            on_answer(s, atoi(text + 9), text, head_len, text + head_len, body_len);
        /* A request from the server (a ping) needs no answer from a floor. */
        pos += head_len + body_len;
    }
    return pos;
}

static void on_readable(struct Stream *s, unsigned char *buf)
{
    memcpy(buf, s->carry, s->carry_len);
    ssize_t n = recv(s->fd, buf + s->carry_len, READ_BYTES, 0);
    ++g_totals.reads;
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) { fail(s, n == 0 ? "server closed the connection" : "recv failed"); return; }
    const size_t len = s->carry_len + (size_t)n;
    const size_t used = parse(s, buf, len);
    s->carry_len = len - used;
    if (s->carry_len > CARRY_BYTES) { fail(s, "unparsed bytes"); return; }
    memcpy(s->carry, buf + used, s->carry_len);
}

static int open_stream(struct Stream *s, int ep, size_t index, const char *dir)
{
    struct sockaddr_in addr;
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_port = htons((uint16_t)s->port);
    if (inet_pton(AF_INET, s->host, &addr.sin_addr) != 1) return -1;
    s->fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s->fd < 0) return -1;
    int one = 1;
    setsockopt(s->fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    if (connect(s->fd, (struct sockaddr *)&addr, sizeof(addr)) != 0 && errno != EINPROGRESS) return -1;
    struct epoll_event ev = { .events = EPOLLIN | EPOLLOUT, .data.u64 = index };
    if (epoll_ctl(ep, EPOLL_CTL_ADD, s->fd, &ev) != 0) return -1;
    s->carry = malloc(CARRY_BYTES);
    s->out = g_discard ? NULL : malloc(WRITE_BUFFER_BYTES);
    if (!s->carry || (!g_discard && !s->out)) return -1;
    s->file = -1;
    if (!g_discard) {
        char path[MAX_URL];
        snprintf(path, sizeof(path), "%s/%zu.rtp", dir, index + 1);
        s->file = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (s->file < 0) return -1;
    }
    s->state = S_CONNECTING;
    return 0;
}

static void on_connected(struct Stream *s, int ep, size_t index)
{
    int err = 0;
    socklen_t len = sizeof(err);
    if (getsockopt(s->fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) { fail(s, "connect failed"); return; }
    struct epoll_event ev = { .events = EPOLLIN, .data.u64 = index };
    epoll_ctl(ep, EPOLL_CTL_MOD, s->fd, &ev);
    s->state = S_DESCRIBE;
    request(s, "DESCRIBE", s->url, "Accept: application/sdp\r\n");
}

int main(int argc, char **argv)
{
    const char *dir = ".";
    double seconds = 0;
    int first = 1;
    for (; first < argc && strncmp(argv[first], "--", 2) == 0; ++first) {
        if (strcmp(argv[first], "--discard") == 0) g_discard = 1;
        else if (strcmp(argv[first], "--out") == 0 && first + 1 < argc) dir = argv[++first];
        else if (strcmp(argv[first], "--seconds") == 0 && first + 1 < argc) seconds = atof(argv[++first]);
        else if (strcmp(argv[first], "--fps") == 0 && first + 1 < argc) g_fps = atof(argv[++first]);
        else break;
    }
    const size_t count = (size_t)(argc - first);
    if (count == 0 || g_fps <= 0) {
        fprintf(stderr, "usage: floor_client [--discard] [--out DIR] [--seconds S] [--fps F] URL...\n");
        return 2;
    }
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    if (!g_discard) mkdir(dir, 0755);
    int ep = epoll_create1(EPOLL_CLOEXEC);
    struct Stream *streams = calloc(count, sizeof(*streams));
    unsigned char *buf = malloc(CARRY_BYTES + READ_BYTES);
    if (ep < 0 || !streams || !buf) return 1;
    for (size_t i = 0; i < count; ++i) {
        streams[i].fd = -1;
        if (parse_url(&streams[i], argv[first + i]) != 0) { fprintf(stderr, "floor_client: bad URL %s\n", argv[first + i]); return 2; }
        if (open_stream(&streams[i], ep, i, dir) != 0) fail(&streams[i], "cannot open");
    }
    const double end = seconds > 0 ? now_s() + seconds : 0;
    struct epoll_event events[MAX_EVENTS];
    while (!g_stop && (end == 0 || now_s() < end)) {
        const int n = epoll_wait(ep, events, MAX_EVENTS, 1000);
        ++g_totals.waits;
        g_now = now_s();
        for (int k = 0; k < n; ++k) {
            const size_t i = (size_t)events[k].data.u64;
            struct Stream *s = &streams[i];
            if (s->state == S_FAILED) continue;
            if (s->state == S_CONNECTING) on_connected(s, ep, i);
            else on_readable(s, buf);
            if (s->state == S_FAILED) epoll_ctl(ep, EPOLL_CTL_DEL, s->fd, NULL);
        }
        const time_t t = time(NULL);
        for (size_t i = 0; i < count; ++i) {
            struct Stream *s = &streams[i];
            if (s->state != S_PLAYING || t < s->next_keepalive) continue;
            s->next_keepalive = t + KEEPALIVE_S;
            request(s, "GET_PARAMETER", s->url, "");
        }
    }
    struct Stream sum;
    memset(&sum, 0, sizeof(sum));
    size_t playing = 0;
    /* How far a stream's media clock fell behind the wall clock at a frame's
     * end: a server that cannot keep up with its clients falls behind. */
    double lag_max = 0;
    for (size_t i = 0; i < count; ++i) {
        struct Stream *s = &streams[i];
        if (s->state == S_PLAYING) {
            ++playing;
            request(s, "TEARDOWN", s->url, "");
        }
        if (s->file >= 0) {
            flush_out(s);
            close(s->file);
        }
        if (s->fd >= 0) close(s->fd);
        free(s->carry);
        free(s->out);
        sum.frames += s->frames;
        sum.frames_lost += s->frames_lost;
        sum.packets += s->packets;
        sum.packets_lost += s->packets_lost;
        sum.bytes += s->bytes;
        if (s->lag_max > lag_max) lag_max = s->lag_max;
    }
    printf("{\"streams\": %zu, \"playing\": %zu, \"frames\": %llu, \"frames_lost\": %llu, \"packets\": %llu, "
           "\"packets_lost\": %llu, \"bytes\": %llu, \"reads\": %llu, \"writes\": %llu, \"waits\": %llu, \"lag_ms_max\": %.0f}\n",
           count, playing, (unsigned long long)sum.frames, (unsigned long long)sum.frames_lost,
           (unsigned long long)sum.packets, (unsigned long long)sum.packets_lost, (unsigned long long)sum.bytes,
           (unsigned long long)g_totals.reads, (unsigned long long)g_totals.writes, (unsigned long long)g_totals.waits, lag_max * 1000);
    free(streams);
    free(buf);
    close(ep);
    return playing == count ? 0 : 1;
}
