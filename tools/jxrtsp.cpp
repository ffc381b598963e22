// jxrtsp: a host program for the RTSP module. It loads the module at run time
// exactly as a host application does (the platform's loader, JXRTSPGetAPI, the
// function table, JXRTSPGetInterface with "IJXStream" and a URL) and drives
// streams only through IJXStream. Commands:
//   (none)  report the stream object the module gives, or play one URL
//   record  record one or many streams into files
//   probe   tell what one stream carries
//   serve   an RTSP server on 127.0.0.1 streaming the sample clips
//   demo    serve and record every media kind at once
#include "JXBase.h"
#include "jxrtsp_tool.h"
#include "module_host.h"
#include "stream_failure.h"
#include "stream_url.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

const char kReportUrl[] = "rtsp://127.0.0.1/probe";
const int kDefaultPlaySeconds = 10;
const long kMaxSeconds = 86400;
const long kMaxPort = 65535;
const long kMaxFps = 240;
const char kDemoOut[] = "jxrtsp-demo";
#ifdef JX_HAVE_LIBAV
const char kMkvNote[] = "";
#else
const char kMkvNote[] = ";\n                             NOT IN THIS BUILD (no libavformat): record writes --raw files";
#endif

void PrintUsage(FILE* pOut)
{
    fprintf(pOut,
            "usage: jxrtsp [--module PATH] [--seconds N] [URL]\n"
            "       jxrtsp record URL... [--urls FILE] [--seconds N] [--out DIR] [--raw] [--json]\n"
            "                    [--retries N] [--give-up-after S] [--stop-on-refusal]\n"
            "                    [--segment SECONDS] [--name TEMPLATE] [--progress FILE|-]\n"
            "       jxrtsp probe URL [--json] [--timeout N]\n"
            "       jxrtsp serve [--port P] [--auth none|basic|digest --user U --password W]\n"
            "                    [--media KIND] [--clip FILE --fps N]\n"
            "       jxrtsp demo [--seconds N] [--out DIR]\n"
            "\n"
            "URL: rtsp://[user:password@]host[:port]/path (RTP interleaved on the RTSP connection),\n"
            "     rtspu://... (unicast UDP) or rtspm://... (multicast).\n"
            "\n"
            "without a command:\n"
            "  without URL: load the module, create a stream object and report it\n"
            "  with URL:    play the stream for N seconds (default %d) and count its frames\n"
            "\n"
            "record: records every stream at once, until N seconds have passed (--seconds) or\n"
            "  Ctrl-C or SIGTERM stops it; every file is complete either way. Each stream gets a\n"
            "  folder under DIR (default ./recordings) named from its host and path:\n"
            "    stream.mkv               video and audio in one Matroska file, each frame at its\n"
            "                             own time from the camera's clock (in milliseconds from\n"
            "                             the first frame, one start for both media)%s\n"
            "    summary.json             codec, size, frame rate, frames, key frames, bytes, time\n"
            "                             to the first frame, state reports, reconnects, packets\n"
            "                             received and lost, frames dropped, jitter\n"
            "  --raw        elementary files instead of stream.mkv:\n"
            "    video.h264 / video.h265  Annex B, as the camera sends it\n"
            "    video.mjpeg              JPEG pictures one after another; first.jpg the first one\n"
            "    audio.wav                G.711 A-law (WAVE format 6) or mu-law (7)\n"
            "    audio.aac                AAC, each access unit behind an ADTS header\n"
            "  --urls FILE  more URLs, one a line ('#' begins a comment)\n"
            "  --json       print every summary as one JSON array on standard output\n"
            "  --segment S  a new file at the first key frame after every S seconds (sound only:\n"
            "               at S seconds), each starting at time 0; summary.json lists them\n"
            "               (\"segments\": file, start_utc, frames, bytes); default one file;\n"
            "               every .mkv carries its start as its date (DateUTC)\n"
            "  --name T     file names under DIR from the template T, at each file's start (UTC):\n"
            "               %%host %%path %%Y %%m %%d %%H %%M %%S %%n (file number) %%%%; .mkv is added\n"
            "               (--raw: a folder of the elementary files); default with --segment\n"
            "               FOLDER/%%Y%%m%%d-%%H%%M%%S, e.g. --name '%%host_%%path/%%Y%%m%%d-%%H%%M%%S.mkv'\n"
            "  --progress F a JSON line a stream once a second (time, url, dir, state, frames,\n"
            "               bytes, bitrate_kbps, packets_lost, frames_lost, elapsed_s), appended to\n"
            "               file F, or standard output for '-' (then no progress block)\n"
            "  summary.json is rewritten every 5 s while recording (whole, never half-written).\n"
            "  A failed attempt prints why ('DESCRIBE: 404 Not Found', 'connect: connection\n"
            "  refused', 'not an RTSP server', 'authentication refused (401)') and when the\n"
            "  next one is; summary.json keeps the last as last_error. A stream is retried every\n"
            "  10 s while the run lasts, unless:\n"
            "  --retries N          give a stream up after N failed attempts in a row\n"
            "  --give-up-after S    give a stream up once it has not played for S seconds\n"
            "  --stop-on-refusal    give a stream up at its first authentication refusal or 404\n"
            "  A stream given up is stopped, its files completed, its summary says why\n"
            "  (gave_up), and it counts as failed; the run ends when every stream has ended.\n"
            "  The module's log goes to DIR/jxrtsp.log, kept to 10 MiB and three older files\n"
            "  jxrtsp.log.1 .. .3 (--verbose: standard error). A recording\n"
            "  goes on in the same files after the module reconnects. Exit status: 0 when every\n"
            "  stream delivered frames and every file was written, 1 otherwise, 2 when a URL or\n"
            "  DIR is refused before anything starts (a --urls line is reported and left out).\n"
            "\n"
            "probe: waits (at most --timeout seconds, default 15) for the first key frame, or the\n"
            "  first audio frame of a stream without video, then prints codec, size, frame rate,\n"
            "  audio codec and rate. Exit status:\n"
            "    0  the stream plays\n"
            "    1  the server failed the session (an error status, a broken connection)\n"
            "    2  wrong arguments\n"
            "    3  the server refused the user name or password\n"
            "    4  the server could not be reached (name lookup or connect failed)\n"
            "    5  no media came in time\n"
            "\n"
            "serve: an RTSP/1.0 server on 127.0.0.1 only that streams the sample clips (clips/\n"
            "  beside this program) in a loop at real time, over RTP interleaved on the RTSP\n"
            "  connection or unicast UDP. When listening it prints one line,\n"
            "  'serving rtsp://127.0.0.1:PORT/', and runs until Ctrl-C or SIGTERM.\n"
            "  paths: /h264 /h265 /jpeg /pcma /pcmu /aac /h264+pcmu /h264+aac; any other path\n"
            "  serves --media\n"
            "  --port P     port to listen on (default 8554; 0: any free port)\n"
            "  --auth MODE  none (default), basic or digest (MD5), checking --user and --password\n"
            "  --media KIND what other paths serve: h264 (default), h265, jpeg, pcma, pcmu, aac,\n"
            "               h264+pcmu, h264+aac\n"
            "  --clip FILE  an Annex B file of your own in place of the H.264 clip (the H.265 one\n"
            "               when FILE ends in .h265 or .hevc); --fps N its frame rate (default 25)\n"
            "  Each session that ends prints 'session ended: PATH frames sent N, frames dropped D'\n"
            "  on standard error (frames are dropped for a client that reads too slowly).\n"
            "\n"
            "demo: runs serve on a free loopback port in this process, with Digest authentication,\n"
            "  and records every path at once for N seconds (default 5) into DIR (default\n"
            "  ./jxrtsp-demo), pcma, h264+pcmu and h264+aac over unicast UDP, the others\n"
            "  interleaved; prints\n"
            "  the summaries. Exit status 0 when every stream delivered frames.\n"
            "\n"
            "every command: --module PATH loads the module from PATH instead of beside this program;\n"
            "  --verbose shows the module's log on standard error.\n",
            kDefaultPlaySeconds, kMkvNote);
}

int ParseNumber(const char* pText, long nMax, int& nOut)
{
    char* pEnd = nullptr;
    const long n = strtol(pText, &pEnd, 10);
    if (pEnd == pText || *pEnd != '\0' || n < 1 || n > nMax) return JX_ERR_ARG;
    nOut = int(n);
    return JX_OK;
}

// 0 on success; JX_ERR_ARG with the reason printed; 1 (JX_ERR_STATE) for --help.
int ParseOptions(int argc, char** argv, JXToolOptions& opt)
{
    int i = 1;
    bool bOutGiven = false;
    bool bServeError = false;
    if (argc > 1 && (strcmp(argv[1], "record") == 0 || strcmp(argv[1], "probe") == 0 ||
                     strcmp(argv[1], "serve") == 0 || strcmp(argv[1], "demo") == 0)) {
        opt.sCommand = argv[1];
        i = 2;
    }
    const bool bRecord = opt.sCommand == "record";
    const bool bServe = opt.sCommand == "serve";
    auto ParseServeOption = [&bServeError](const char* pName, const char* pValue, JXToolOptions& o) {
        bServeError = false;
        if (strcmp(pName, "--port") == 0) {
            char* pEnd = nullptr;
            const long n = strtol(pValue, &pEnd, 10);
            if (pEnd == pValue || *pEnd != '\0' || n < 0 || n > kMaxPort) {
                fprintf(stderr, "jxrtsp: --port takes a number from 0 to %ld\n", kMaxPort);
                bServeError = true;
            }
            o.nPort = int(n);
        } else if (strcmp(pName, "--fps") == 0) {
            if (ParseNumber(pValue, kMaxFps, o.nFps) != JX_OK) {
                fprintf(stderr, "jxrtsp: --fps takes a number from 1 to %ld\n", kMaxFps);
                bServeError = true;
            }
        } else if (strcmp(pName, "--auth") == 0) {
            o.sAuth = pValue;
        } else if (strcmp(pName, "--user") == 0) {
            o.sUser = pValue;
        } else if (strcmp(pName, "--password") == 0) {
            o.sPassword = pValue;
        } else if (strcmp(pName, "--media") == 0) {
            o.sMedia = pValue;
        } else if (strcmp(pName, "--clip") == 0) {
            o.sClip = pValue;
        } else {
            return false;
        }
        return true;
    };
    for (; i < argc; ++i) {
        const char* pArg = argv[i];
        const bool bHasValue = i + 1 < argc;
        if (strcmp(pArg, "--help") == 0 || strcmp(pArg, "-h") == 0) return JX_ERR_STATE;
        if (strcmp(pArg, "--module") == 0 && bHasValue) {
            opt.sModule = argv[++i];
        } else if (strcmp(pArg, "--seconds") == 0 && bHasValue) {
            if (ParseNumber(argv[++i], kMaxSeconds, opt.nSeconds) != JX_OK) {
                fprintf(stderr, "jxrtsp: --seconds takes a number from 1 to %ld\n", kMaxSeconds);
                return JX_ERR_ARG;
            }
        } else if (strcmp(pArg, "--timeout") == 0 && bHasValue && opt.sCommand == "probe") {
            if (ParseNumber(argv[++i], kMaxSeconds, opt.nTimeout) != JX_OK) {
                fprintf(stderr, "jxrtsp: --timeout takes a number from 1 to %ld\n", kMaxSeconds);
                return JX_ERR_ARG;
            }
        } else if (strcmp(pArg, "--out") == 0 && bHasValue && (bRecord || opt.sCommand == "demo")) {
            opt.sOut = argv[++i];
            bOutGiven = true;
            if (opt.sOut.empty()) {
                fprintf(stderr, "jxrtsp: --out needs a folder name\n");
                return JX_ERR_ARG;
            }
        } else if (bServe && bHasValue && ParseServeOption(pArg, argv[i + 1], opt)) {
            ++i;
            if (bServeError) return JX_ERR_ARG;
        } else if (strcmp(pArg, "--retries") == 0 && bHasValue && bRecord) {
            if (ParseNumber(argv[++i], kMaxSeconds, opt.nRetries) != JX_OK) {
                fprintf(stderr, "jxrtsp: --retries takes a number from 1 to %ld\n", kMaxSeconds);
                return JX_ERR_ARG;
            }
        } else if (strcmp(pArg, "--give-up-after") == 0 && bHasValue && bRecord) {
            if (ParseNumber(argv[++i], kMaxSeconds, opt.nGiveUpAfter) != JX_OK) {
                fprintf(stderr, "jxrtsp: --give-up-after takes a number of seconds from 1 to %ld\n", kMaxSeconds);
                return JX_ERR_ARG;
            }
        } else if (strcmp(pArg, "--stop-on-refusal") == 0 && bRecord) {
            opt.bStopOnRefusal = true;
        } else if (strcmp(pArg, "--urls") == 0 && bHasValue && bRecord) {
            opt.sUrlsFile = argv[++i];
        } else if (strcmp(pArg, "--segment") == 0 && bHasValue && bRecord) {
            if (ParseNumber(argv[++i], kMaxSeconds, opt.nSegmentSeconds) != JX_OK) {
                fprintf(stderr, "jxrtsp: --segment takes a number of seconds from 1 to %ld\n", kMaxSeconds);
                return JX_ERR_ARG;
            }
        } else if (strcmp(pArg, "--name") == 0 && bHasValue && bRecord) {
            opt.sNameTemplate = argv[++i];
        } else if (strcmp(pArg, "--progress") == 0 && bHasValue && bRecord) {
            opt.sProgress = argv[++i];
        } else if (strcmp(pArg, "--raw") == 0 && bRecord) {
            opt.bRaw = true;
        } else if (strcmp(pArg, "--json") == 0 && (bRecord || opt.sCommand == "probe")) {
            opt.bJson = true;
        } else if (strcmp(pArg, "--verbose") == 0) {
            opt.bVerbose = true;
        } else if (pArg[0] == '-') {
            fprintf(stderr, "jxrtsp: unknown option or missing value: %s\n", pArg);
            return JX_ERR_ARG;
        } else {
            opt.urls.push_back(pArg);
        }
    }
    if (opt.sCommand == "demo" && !bOutGiven) opt.sOut = kDemoOut;
    if ((bServe || opt.sCommand == "demo") && !opt.urls.empty()) {
        fprintf(stderr, "jxrtsp: %s takes no URL\n", opt.sCommand.c_str());
        return JX_ERR_ARG;
    }
    const size_t nMaxUrls = opt.sCommand == "record" ? opt.urls.size() : 1;
    if (opt.urls.size() > nMaxUrls) {
        fprintf(stderr, "jxrtsp: only record takes more than one URL\n");
        return JX_ERR_ARG;
    }
    if (opt.sCommand == "probe" && opt.urls.empty()) {
        fprintf(stderr, "jxrtsp: probe needs a URL\n");
        return JX_ERR_ARG;
    }
    if (opt.sCommand == "record" && opt.urls.empty() && opt.sUrlsFile.empty()) {
        fprintf(stderr, "jxrtsp: record needs a URL or --urls FILE\n");
        return JX_ERR_ARG;
    }
    return JX_OK;
}

// Counts what the stream delivers; called on the module's worker thread.
class CSubscriber : public CJXObject {
public:
    int OnMessage(CJXObject* pSender, uint32_t nCode, void* pParam1, void*)
    {
        if (nCode == JXRTSP_MSG_FRAME && pParam1 != nullptr) {
            OnFrame(*static_cast<CPacket*>(pParam1));
            return 0;
        }
        // A failure's line says what follows; the stop after it adds nothing.
        if (nCode == JXRTSP_MSG_STATE) {
            int32_t nError = pParam1 != nullptr ? static_cast<CJXMsg*>(pParam1)->GetError() : 0;
            if (nError == 0) m_Playing = true;
            const JXFailureSummary failure = ReadLastFailure(static_cast<IJXStream*>(pSender));
            const std::string sWhy = FailureWords(failure, "failed") + "; next attempt in 10 s";
            printf("state: %s\n", nError == 0 ? "playing" : sWhy.c_str());
            fflush(stdout);
        }
        return 0;
    }

    std::atomic<bool> m_Playing{false};
    std::atomic<uint64_t> m_Video{0};
    std::atomic<uint64_t> m_KeyFrames{0};
    std::atomic<uint64_t> m_Audio{0};
    std::atomic<uint64_t> m_Bytes{0};

private:
    void OnFrame(const CPacket& packet)
    {
        m_Bytes += packet.FrameGetLength();
        if (packet.FrameIsAudio()) {
            ++m_Audio;
            return;
        }
        ++m_Video;
        if (packet.FrameIsKey()) ++m_KeyFrames;
    }
};

void ReportDescription(IJXStream* pStream)
{
    CJXMediaDesc* pDesc = nullptr;
    if (pStream->GetMediaDesc(pDesc) != JX_OK || pDesc == nullptr) {
        printf("media: none\n");
        return;
    }
    if (pDesc->m_Video != nullptr)
        printf("video: codec %u, %ux%u, %.2f fps\n", pDesc->m_Video->nCodec, pDesc->m_Video->nWidth,
               pDesc->m_Video->nHeight, double(pDesc->m_Video->fFPS));
    if (pDesc->m_Audio != nullptr)
        printf("audio: codec %u, %u channel(s), %u Hz\n", pDesc->m_Audio->nCodec, pDesc->m_Audio->nChannels,
               pDesc->m_Audio->nRate);
    pDesc->Release();
}

int Play(IJXStream* pStream, const std::string& sUrl, int nSeconds)
{
    CSubscriber subscriber;
    pStream->Attach(&subscriber, JX_SIGNAL_FUNC(&CSubscriber::OnMessage));
    int nRet = pStream->Open(sUrl.c_str());
    if (nRet == JX_OK) nRet = pStream->Start();
    if (nRet != JX_OK) {
        printf("start failed: %d\n", nRet);
        pStream->Detach(&subscriber, JX_SIGNAL_FUNC(&CSubscriber::OnMessage));
        return kExitFailed;
    }
    for (int i = 0; i < nSeconds; ++i) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        printf("t=%ds video %llu (key %llu) audio %llu bytes %llu\n", i + 1,
               (unsigned long long)subscriber.m_Video.load(), (unsigned long long)subscriber.m_KeyFrames.load(),
               (unsigned long long)subscriber.m_Audio.load(), (unsigned long long)subscriber.m_Bytes.load());
        fflush(stdout);
    }
    ReportDescription(pStream);   // the description ends with the session
    pStream->Stop();
    pStream->Detach(&subscriber, JX_SIGNAL_FUNC(&CSubscriber::OnMessage));
    bool bGotFrames = subscriber.m_Video + subscriber.m_Audio > 0;
    printf("result: %s\n", subscriber.m_Playing && bGotFrames ? "played" : "no media");
    return subscriber.m_Playing && bGotFrames ? kExitOk : kExitFailed;
}

int Report(IJXStream* pStream)
{
    CPacket* pFrame = nullptr;
    CJXMediaDesc* pDesc = nullptr;
    printf("stream: name %s, protocol %s\n", pStream->GetName(), pStream->GetProtocol());
    printf("GetLastIFrame: %d, GetMediaDesc: %d, Seek: %d\n", pStream->GetLastIFrame(pFrame),
           pStream->GetMediaDesc(pDesc), pStream->Seek(0u));
    return kExitOk;
}

// The program as it was before it had commands: report, or play one URL.
int RunPlainHost(const JXToolOptions& opt, CModuleHost& host)
{
    printf("module: %s\n", host.GetPath().c_str());
    const char* pUrl = opt.urls.empty() ? kReportUrl : opt.urls[0].c_str();
    IJXStream* pStream = host.CreateStream(pUrl);
    if (pStream == nullptr) return kExitFailed;
    const int nExit =
        opt.urls.empty() ? Report(pStream) : Play(pStream, opt.urls[0], opt.nSeconds != 0 ? opt.nSeconds : kDefaultPlaySeconds);
    pStream->Release();
    return nExit;
}

void DiscardLog(const char*, void*) {}

}   // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "help") == 0) {
        PrintUsage(stdout);
        return kExitOk;
    }
    JXToolOptions opt;
    const int nParse = ParseOptions(argc, argv, opt);
    if (nParse == JX_ERR_STATE) {
        PrintUsage(stdout);
        return kExitOk;
    }
    if (nParse != JX_OK) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    // serve loads no module: it only builds packets.
    if (opt.sCommand == "serve") return RunServe(opt);
    // A URL the module could not read or would refuse stops the run before
    // anything starts, rather than becoming a stream that never plays.
    for (const std::string& sUrl : opt.urls) {
        std::string sWhy;
        if (CheckStreamUrl(sUrl, sWhy)) continue;
        fprintf(stderr, "jxrtsp: %s: %s\n", UrlForLog(sUrl.c_str()).c_str(), sWhy.c_str());
        return kExitUsage;
    }
    // probe prints only its answer; record sends the log to its folder.
    if (opt.sCommand == "probe" && !opt.bVerbose) JXSetLogSink(DiscardLog, nullptr);

    CModuleHost host;
    if (host.Load(opt.sModule) != JX_OK) return kExitFailed;
    int nExit = kExitFailed;
    if (opt.sCommand == "record") {
        nExit = RunRecord(opt, host);
    } else if (opt.sCommand == "probe") {
        nExit = RunProbe(opt, host);
    } else if (opt.sCommand == "demo") {
        nExit = RunDemo(opt, host);
    } else {
        nExit = RunPlainHost(opt, host);
    }
    host.Unload();
    JXSetLogSink(nullptr, nullptr);
    return nExit;
}
