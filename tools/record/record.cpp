// jxrtsp record: every stream recorded at once, one folder each, until the
// time is up or a signal stops it. Frames are written on the module's worker
// thread (record_stream, through segment_writer into mkv_writer or
// raw_writer); this thread starts and stops the streams, shows progress
// (progress) and writes the summaries, every few seconds and at the end.
#include "JXBase.h"
#include "jxrtsp_tool.h"
#include "module_host.h"
#include "progress.h"
#include "record_files.h"
#include "record_stream.h"
#include "segment_name.h"
#include "segment_writer.h"
#include "stream_url.h"
#ifdef JX_HAVE_LIBAV
#include "mkv_writer.h"
#endif

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>

#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

const int kTickMs = 100;               // how often the loop looks at the flag and the reports
const uint64_t kSummaryMs = 5000;      // summary.json rewritten while recording
const uint64_t kMaxLogBytes = 10 * 1024 * 1024;
const int kKeptLogs = 3;               // jxrtsp.log.1 .. .3
const int64_t kMsPerSecond = 1000;
const char kSingleName[] = "stream";   // the one file of a recording without --segment or --name
const char kSegmentName[] = "%Y%m%d-%H%M%S";
const char kMkvExt[] = ".mkv";

volatile std::sig_atomic_t g_StopSignal = 0;

void OnStopSignal(int nSignal)
{
    g_StopSignal = nSignal;
    // A second Ctrl-C ends the program at once.
    std::signal(nSignal, SIG_DFL);
}

bool IsTerminal(FILE* pFile)
{
#ifdef _WIN32
    return _isatty(_fileno(pFile)) != 0;
#else
    return isatty(fileno(pFile)) != 0;
#endif
}

// Creates DIR/name, or DIR/name-2, -3 ... when taken (by another stream of
// this run or an earlier recording, which is never written over). Empty on failure.
std::string MakeStreamDir(const std::string& sOut, const std::string& sName)
{
    return TakeName(sOut + "/" + sName, "", true);
}

// The URLs of a list file, one a line ('#' starts a comment). A line whose
// URL cannot be played is reported with its number and left out; nBad counts
// them.
int ReadUrlsFile(const std::string& sFile, std::vector<std::string>& urls, int& nBad)
{
    std::ifstream file;
    if (sFile != "-") file.open(sFile);
    std::istream& in = sFile == "-" ? std::cin : file;   // "-": standard input
    if (!in) {
        fprintf(stderr, "jxrtsp: cannot read %s\n", sFile.c_str());
        return JX_ERR_ARG;
    }
    std::string sLine;
    for (int nLine = 1; std::getline(in, sLine); ++nLine) {
        const size_t nHash = sLine.find('#');
        if (nHash != std::string::npos) sLine.resize(nHash);
        const size_t nFrom = sLine.find_first_not_of(" \t\r");
        if (nFrom == std::string::npos) continue;
        const size_t nTo = sLine.find_last_not_of(" \t\r");
        const std::string sUrl = sLine.substr(nFrom, nTo - nFrom + 1);
        std::string sWhy;
        if (!CheckStreamUrl(sUrl, sWhy)) {
            fprintf(stderr, "jxrtsp: %s:%d: %s: %s\n", sFile.c_str(), nLine, UrlForLog(sUrl.c_str()).c_str(),
                    sWhy.c_str());
            ++nBad;
            continue;
        }
        urls.push_back(sUrl);
    }
    return JX_OK;
}

// The output folder, made with its parents: false (with the reason printed)
// when it cannot be made or a file of that name stands there.
bool MakeOutputDir(const std::string& sOut)
{
    struct stat info;
    if (!MakeDirs(sOut) || stat(sOut.c_str(), &info) != 0) {
        fprintf(stderr, "jxrtsp: cannot create %s: %s\n", sOut.c_str(), strerror(errno));
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        fprintf(stderr, "jxrtsp: %s is not a folder\n", sOut.c_str());
        return false;
    }
    return true;
}

// Hundreds of streams hold a control connection, UDP sockets and two files
// each: more descriptors than the usual soft limit of 1024. Raised to the
// hard limit, which needs no privilege.
void RaiseFileLimit()
{
#ifndef _WIN32
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
#endif
}

// The module's counts of one medium, after pPrefix; nothing when it cannot tell.
void PrintLoss(const char* pPrefix, const JXReceptionSummary& r)
{
    if (!r.bKnown) return;
    printf("%s%llu lost, %llu packets lost", pPrefix, (unsigned long long)r.nFramesDropped,
           (unsigned long long)r.nPacketsLost);
}

void PrintSummaryLine(const JXStreamSummary& s)
{
    printf("%s:", s.sDir.c_str());
    if (!s.video.sCodec.empty()) {
        printf(" video %s %ux%u %.2f fps, %llu frames (%llu key", s.video.sCodec.c_str(), s.video.nWidth,
               s.video.nHeight, s.video.fFps, (unsigned long long)s.video.nFrames,
               (unsigned long long)s.video.nKeyFrames);
        PrintLoss(", ", s.video.reception);
        printf(")");
    }
    if (!s.audio.sCodec.empty()) {
        printf("%s audio %s %u Hz, %llu frames", s.video.sCodec.empty() ? "" : ";", s.audio.sCodec.c_str(),
               s.audio.nRate, (unsigned long long)s.audio.nFrames);
        PrintLoss(", ", s.audio.reception);
    }
    if (s.video.sCodec.empty() && s.audio.sCodec.empty()) printf(" no media");
    printf("; %zu state reports, %u reconnects", s.states.size(), s.nReconnects);
    if (s.nWriteErrors != 0) printf(", %llu WRITE ERRORS", (unsigned long long)s.nWriteErrors);
    printf("\n");
}

// Written whole or not at all: a crash leaves the last complete one.
bool WriteSummaryFile(const JXStreamSummary& s)
{
    return ReplaceFileText(s.sDir + "/summary.json", SummaryToJson(s) + "\n");
}

void WriteSummaries(const std::vector<JXRecording>& streams)
{
    for (const JXRecording& r : streams) WriteSummaryFile(r.pRecord->GetSummary());
}

bool WritesMkv(const JXToolOptions& opt)
{
#ifdef JX_HAVE_LIBAV
    return !opt.bRaw;
#else
    (void)opt;
    return false;
#endif
}

JXRetryPolicy RetryPolicy(const JXToolOptions& opt)
{
    JXRetryPolicy policy;
    policy.nRetries = uint32_t(opt.nRetries);
    policy.nGiveUpAfterS = uint32_t(opt.nGiveUpAfter);
    policy.bStopOnRefusal = opt.bStopOnRefusal;
    return policy;
}

// Streams the retry policy gives up are stopped and their files completed
// at once; the number of streams ended so. bDrawn: the progress block shows
// it on the stream's line, else a line says it.
size_t EndGivenUp(std::vector<JXRecording>& streams, uint64_t nNowMs, bool bDrawn)
{
    size_t nEnded = 0;
    for (JXRecording& r : streams) {
        if (r.sGaveUp.empty()) {
            r.sGaveUp = r.pRecord->GiveUpReason(nNowMs);
            if (r.sGaveUp.empty()) continue;
            r.pRecord->End();
            if (!bDrawn) fprintf(stderr, "%s: gave up: %s\n", r.sName.c_str(), r.sGaveUp.c_str());
        }
        ++nEnded;
    }
    return nEnded;
}

std::unique_ptr<CMediaWriter> MakeWriter(bool bMkv, const std::string& sPath, int64_t nStartUtcMs)
{
#ifdef JX_HAVE_LIBAV
    if (bMkv) return std::unique_ptr<CMediaWriter>(new CMkvWriter(sPath, nStartUtcMs));
#else
    (void)bMkv;
#endif
    (void)nStartUtcMs;
    return std::unique_ptr<CMediaWriter>(new CRawWriter(sPath));
}

// The template without the extension the writer adds.
std::string TemplateStem(const std::string& sTemplate)
{
    const size_t nExt = sizeof(kMkvExt) - 1;
    const bool bMkv = sTemplate.size() > nExt && sTemplate.compare(sTemplate.size() - nExt, nExt, kMkvExt) == 0;
    return bMkv ? sTemplate.substr(0, sTemplate.size() - nExt) : sTemplate;
}

// A stream's files: named by --name's template, or in the stream's own
// folder: one stream.mkv (the elementary files in the folder itself) or,
// with --segment, one a start time.
std::unique_ptr<CMediaWriter> MakeStreamWriter(const JXToolOptions& opt, const std::string& sUrl,
                                               const std::string& sDir)
{
    JXSegmentPlan plan;
    const bool bMkv = WritesMkv(opt);
    plan.sOut = opt.sOut;
    plan.sStreamDir = sDir;
    plan.fields = NameFieldsOf(sUrl);
    plan.nLengthMs = int64_t(opt.nSegmentSeconds) * kMsPerSecond;
    plan.bFolders = !bMkv;
    // The folder's own name holds no '%' (SanitizeName keeps none).
    const std::string sInOut = sDir.substr(opt.sOut.size() + 1);
    if (!opt.sNameTemplate.empty()) {
        plan.sTemplate = TemplateStem(opt.sNameTemplate);
    } else if (opt.nSegmentSeconds != 0) {
        plan.sTemplate = sInOut + "/" + kSegmentName;
    } else {
        plan.sTemplate = bMkv ? sInOut + "/" + kSingleName : sInOut;
    }
    return std::unique_ptr<CMediaWriter>(new CSegmentWriter(
        plan, [bMkv](const std::string& sPath, int64_t nStartUtcMs) { return MakeWriter(bMkv, sPath, nStartUtcMs); }));
}

// Where --progress goes: null for none, standard output for "-", else the
// file, appended to. False, with the reason printed, when it cannot be opened.
bool OpenProgress(const std::string& sTarget, FILE*& pOut)
{
    pOut = nullptr;
    if (sTarget.empty()) return true;
    if (sTarget == "-") {
        pOut = stdout;
        return true;
    }
    pOut = fopen(sTarget.c_str(), "ab");
    if (pOut == nullptr) fprintf(stderr, "jxrtsp: cannot open %s: %s\n", sTarget.c_str(), strerror(errno));
    return pOut != nullptr;
}

// Refuses what cannot work before anything is made.
bool CheckRecordOptions(const JXToolOptions& opt)
{
    const std::string sWhy = opt.sNameTemplate.empty() ? "" : CheckNameTemplate(opt.sNameTemplate);
    if (!sWhy.empty()) {
        fprintf(stderr, "jxrtsp: --name %s: %s\n", opt.sNameTemplate.c_str(), sWhy.c_str());
        return false;
    }
    if (opt.sProgress == "-" && opt.bJson) {
        fprintf(stderr, "jxrtsp: --progress - and --json both write to standard output\n");
        return false;
    }
    return true;
}

// The module's log: DIR/jxrtsp.log, rotated by size; with --verbose standard
// error, above the progress block when one is drawn there.
class CRecordLog {
public:
    CRecordLog(const JXToolOptions& opt, CProgress& progress, bool bDrawn)
    {
        if (opt.bVerbose) {
            if (bDrawn) JXSetLogSink(CProgress::LogSink, &progress);
            m_Installed = bDrawn;
            return;
        }
        m_File.reset(new CLogFile(opt.sOut + "/jxrtsp.log", kMaxLogBytes, kKeptLogs));
        if (!m_File->IsOpen()) return;
        JXSetLogSink(CLogFile::Sink, m_File.get());
        m_Installed = true;
    }
    // The log goes back to standard error before its sink goes.
    ~CRecordLog()
    {
        if (m_Installed) JXSetLogSink(nullptr, nullptr);
    }

private:
    std::unique_ptr<CLogFile> m_File;
    bool m_Installed = false;
};

}   // namespace

int RunRecord(const JXToolOptions& opt, CModuleHost& host)
{
    std::vector<std::string> urls = opt.urls;
    int nBadLines = 0;
    if (!CheckRecordOptions(opt)) return kExitUsage;
    if (!opt.sUrlsFile.empty() && ReadUrlsFile(opt.sUrlsFile, urls, nBadLines) != JX_OK) return kExitUsage;
    if (urls.empty()) {
        fprintf(stderr, "jxrtsp: no URL to record\n");
        return kExitUsage;
    }
    RaiseFileLimit();
#ifndef JX_HAVE_LIBAV
    if (!opt.bRaw) fprintf(stderr, "jxrtsp: built without libavformat: writing elementary files (--raw)\n");
#endif
    if (!MakeOutputDir(opt.sOut)) return kExitUsage;
    FILE* pProgressOut = nullptr;
    if (!OpenProgress(opt.sProgress, pProgressOut)) return kExitUsage;

    std::vector<JXRecording> streams;
    streams.reserve(urls.size());
    // The block is drawn on a terminal that no JSON progress shares.
    // -q: neither, only what --progress asks for.
    const bool bDraw = IsTerminal(stderr) && pProgressOut != stdout && !opt.bQuiet;
    CProgress progress(streams, bDraw, opt.bQuiet, pProgressOut);
    std::unique_ptr<CRecordLog> pLog(new CRecordLog(opt, progress, bDraw));
    bool bAllOk = nBadLines == 0;
    for (const std::string& sUrl : urls) {
        const std::string sDir = MakeStreamDir(opt.sOut, FolderName(sUrl));
        IJXStream* pStream = sDir.empty() ? nullptr : host.CreateStream(sUrl.c_str());
        if (pStream == nullptr) {
            if (sDir.empty()) fprintf(stderr, "jxrtsp: no folder for %s\n", UrlForLog(sUrl.c_str()).c_str());
            bAllOk = false;
            continue;
        }
        JXRecording r;
        r.pRecord.reset(new CRecordStream(sUrl, sDir, MakeStreamWriter(opt, sUrl, sDir)));
        r.pStream = pStream;
        r.sName = sDir.substr(opt.sOut.size() + 1);
        r.pRecord->SetRetryPolicy(RetryPolicy(opt));
        streams.push_back(std::move(r));
        // A start that fails at once (a URL without a host) is reported to
        // the subscriber; the stream stays in the list and shows no frames.
        streams.back().pRecord->Begin(pStream);
    }

    if (streams.empty()) {
        // Nothing to wait for: every stream failed to start.
        pLog.reset();
        if (pProgressOut != nullptr && pProgressOut != stdout) fclose(pProgressOut);
        return kExitFailed;
    }

    g_StopSignal = 0;
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    const uint64_t nStartMs = CJXTime::GetTimeMS();
    const uint64_t nEndMs = nStartMs + uint64_t(opt.nSeconds) * 1000;
    uint64_t nSummaryMs = nStartMs;
    while (g_StopSignal == 0) {
        const uint64_t nNow = CJXTime::GetTimeMS();
        if (opt.nSeconds != 0 && nNow >= nEndMs) break;
        progress.Tick(nNow);
        ReturnFreedMemoryIfAsked();
        if (nNow - nSummaryMs >= kSummaryMs) {
            nSummaryMs = nNow;
            WriteSummaries(streams);
        }
        if (EndGivenUp(streams, nNow, bDraw) == streams.size()) break;   // nothing left to record
        std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);

    // Every stream stops before any file is completed: no frame arrives
    // after its stream's End.
    for (JXRecording& r : streams) r.pRecord->End();
    progress.Finish();
    // Nothing is drawn any more: the log leaves the progress block.
    pLog.reset();
    if (pProgressOut != nullptr && pProgressOut != stdout) fclose(pProgressOut);

    std::string sJson = "[";
    for (size_t i = 0; i < streams.size(); ++i) {
        const JXStreamSummary s = streams[i].pRecord->GetSummary();
        const bool bWritten = WriteSummaryFile(s);
        if (!bWritten) fprintf(stderr, "jxrtsp: cannot write %s/summary.json\n", s.sDir.c_str());
        const bool bMedia = s.video.nFrames + s.audio.nFrames > 0;
        if (!bWritten || !bMedia || s.nWriteErrors != 0 || !s.sGaveUp.empty()) bAllOk = false;
        if (opt.bJson) {
            sJson += (i == 0 ? "\n" : ",\n") + SummaryToJson(s);
        } else {
            PrintSummaryLine(s);
        }
        streams[i].pStream->Release();
    }
    if (opt.bJson) printf("%s\n]\n", sJson.c_str());
    if (g_StopSignal != 0) fprintf(stderr, "jxrtsp: stopped by signal %d, files complete\n", int(g_StopSignal));
    fflush(stdout);
    return bAllOk ? kExitOk : kExitFailed;
}
