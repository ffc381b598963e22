// jxrtsp record: every stream recorded at once, one folder each, until the
// time is up or a signal stops it. Frames are written on the module's worker
// thread (record_stream); this thread starts and stops the streams, prints
// progress or state changes and writes the summaries.
#include "JXBase.h"
#include "jxrtsp_tool.h"
#include "module_host.h"
#include "record_stream.h"
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
#include <direct.h>
#include <io.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

const int kTickMs = 100;             // how often the loop looks at the flag and the reports
const uint64_t kProgressMs = 1000;   // progress line refresh on a terminal
const size_t kMaxNameBytes = 100;    // folder name taken from host and path
const int kMaxFolderNumber = 10000;
const double kBitsPerMbit = 1e6;

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

// 0, or errno (EEXIST when the folder is there already).
int MakeDir(const std::string& sPath)
{
#ifdef _WIN32
    const int nRet = _mkdir(sPath.c_str());
#else
    const int nRet = mkdir(sPath.c_str(), 0755);
#endif
    return nRet == 0 ? 0 : errno;
}

// The folder and its parents; true when it exists afterwards.
bool MakeDirs(const std::string& sPath)
{
    for (size_t nAt = 1; nAt <= sPath.size(); ++nAt) {
        if (nAt != sPath.size() && sPath[nAt] != '/' && sPath[nAt] != '\\') continue;
        const int nError = MakeDir(sPath.substr(0, nAt));
        if (nError != 0 && nError != EEXIST) return false;
    }
    return true;
}

// A folder name from the URL's host and path: letters, digits, '.', '-' and
// '_' kept, anything else one '_', never starting with '.'.
std::string FolderName(const std::string& sUrl)
{
    CJXUrl url(sUrl.c_str());
    std::string sRaw = url.m_Host != nullptr ? url.m_Host : "stream";
    if (url.m_Path != nullptr) sRaw += url.m_Path;
    std::string sName;
    for (char c : sRaw) {
        const bool bKeep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '-' || c == '_';
        if (sName.empty() && c == '.') continue;
        if (bKeep) {
            sName += c;
        } else if (!sName.empty() && sName.back() != '_') {
            sName += '_';
        }
        if (sName.size() >= kMaxNameBytes) break;
    }
    while (!sName.empty() && sName.back() == '_') sName.pop_back();
    return sName.empty() ? "stream" : sName;
}

// Creates DIR/name, or DIR/name-2, -3 ... when taken (by another stream of
// this run or an earlier recording, which is never written over). Empty on failure.
std::string MakeStreamDir(const std::string& sOut, const std::string& sName)
{
    for (int n = 1; n <= kMaxFolderNumber; ++n) {
        const std::string sPath = sOut + "/" + sName + (n == 1 ? "" : "-" + std::to_string(n));
        const int nError = MakeDir(sPath);
        if (nError == 0) return sPath;
        if (nError != EEXIST) break;
    }
    return std::string();
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

void LogToFile(const char* pLine, void* pUser)
{
    fputs(pLine, static_cast<FILE*>(pUser));
}

std::string DescribeReport(uint32_t nCode, int32_t nError)
{
    if (nCode == JXRTSP_MSG_STOPPED) return "stopped after a failure, next attempt in 10 s";
    if (nCode != JXRTSP_MSG_STATE) return "report " + std::to_string(nCode);
    if (nError == 0) return "playing";
    const std::string sError = " (error " + std::to_string(nError) + ")";
    if (nError == JXRTSP_REPORT_AUTH) return "authentication refused" + sError;
    if (nError == JXRTSP_REPORT_NO_DATA) return "no data in time" + sError;
    return "failed" + sError;
}

std::string ShortState(int32_t nCode, int32_t nError)
{
    if (nCode == 0) return "connecting";
    if (nCode == int32_t(JXRTSP_MSG_STOPPED)) return "retrying";
    if (nError == 0) return "playing";
    return "error " + std::to_string(nError);
}

// "lost 0 packets, 0 frames  jitter 1.2 ms  " from the module's counts of
// both media (jitter: the video's, else the audio's); empty when it cannot tell.
std::string ReceptionText(IJXStream* pStream)
{
    JXReceptionSummary video;
    JXReceptionSummary audio;
    CRecordStream::ReadReception(pStream, video, audio);
    if (!video.bKnown) return std::string();
    const double fJitter = video.nPacketsReceived != 0 ? video.fJitterMs : audio.fJitterMs;
    char text[128];
    snprintf(text, sizeof(text), "lost %llu packets, %llu frames  jitter %.1f ms  ",
             (unsigned long long)(video.nPacketsLost + audio.nPacketsLost),
             (unsigned long long)(video.nFramesDropped + audio.nFramesDropped), fJitter);
    return text;
}

struct JXRecording {
    std::unique_ptr<CRecordStream> pRecord;
    IJXStream* pStream = nullptr;
    std::string sName;
    uint64_t nLastBytes = 0;
    double fMbits = 0.0;
};

class CProgress {
public:
    explicit CProgress(std::vector<JXRecording>& streams) : m_Streams(streams), m_Terminal(IsTerminal(stderr)) {}

    // Once a tick: state changes (not on a terminal) or, once a second, the
    // progress lines (on a terminal).
    void Tick(uint64_t nNowMs)
    {
        if (!m_Terminal) {
            PrintStateChanges();
            return;
        }
        if (m_LastMs != 0 && nNowMs - m_LastMs < kProgressMs) return;
        const double fSeconds = m_LastMs == 0 ? 0.0 : double(nNowMs - m_LastMs) / 1000.0;
        m_LastMs = nNowMs;
        if (m_Drawn) fprintf(stderr, "\033[%zuA", m_Streams.size());
        for (JXRecording& r : m_Streams) {
            const uint64_t nBytes = r.pRecord->m_Bytes.load(std::memory_order_relaxed);
            if (fSeconds > 0.0) r.fMbits = double(nBytes - r.nLastBytes) * 8.0 / fSeconds / kBitsPerMbit;
            r.nLastBytes = nBytes;
            fprintf(stderr, "\033[2K%s  %s  video %llu  audio %llu  %s%.2f Mbit/s\n", r.sName.c_str(),
                    ShortState(r.pRecord->m_LastCode, r.pRecord->m_LastError).c_str(),
                    (unsigned long long)r.pRecord->m_VideoFrames.load(std::memory_order_relaxed),
                    (unsigned long long)r.pRecord->m_AudioFrames.load(std::memory_order_relaxed),
                    ReceptionText(r.pStream).c_str(), r.fMbits);
        }
        fflush(stderr);
        m_Drawn = true;
    }

    // Reports that came since the last tick, when state changes are what is shown.
    void Finish()
    {
        if (!m_Terminal) PrintStateChanges();
    }

private:
    void PrintStateChanges()
    {
        std::vector<JXStateReport> reports;
        for (JXRecording& r : m_Streams) {
            r.pRecord->TakeNewReports(reports);
            for (const JXStateReport& report : reports)
                fprintf(stderr, "%s: %s\n", r.sName.c_str(), DescribeReport(report.nCode, report.nError).c_str());
        }
        fflush(stderr);
    }

    std::vector<JXRecording>& m_Streams;
    bool m_Terminal;
    bool m_Drawn = false;
    uint64_t m_LastMs = 0;
};

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

bool WriteSummaryFile(const JXStreamSummary& s)
{
    const std::string sPath = s.sDir + "/summary.json";
    FILE* pFile = fopen(sPath.c_str(), "wb");
    if (pFile == nullptr) return false;
    const std::string sJson = SummaryToJson(s) + "\n";
    const bool bOk = fwrite(sJson.data(), 1, sJson.size(), pFile) == sJson.size();
    return fclose(pFile) == 0 && bOk;
}

std::unique_ptr<CMediaWriter> MakeWriter(const JXToolOptions& opt, const std::string& sDir)
{
#ifdef JX_HAVE_LIBAV
    if (!opt.bRaw) return std::unique_ptr<CMediaWriter>(new CMkvWriter(sDir));
#else
    (void)opt;
#endif
    return std::unique_ptr<CMediaWriter>(new CRawWriter(sDir));
}

// The module's log goes back to standard error before its file closes.
void CloseLogFile(FILE* pLog)
{
    if (pLog == nullptr) return;
    JXSetLogSink(nullptr, nullptr);
    fclose(pLog);
}

}   // namespace

int RunRecord(const JXToolOptions& opt, CModuleHost& host)
{
    std::vector<std::string> urls = opt.urls;
    int nBadLines = 0;
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
    FILE* pLog = nullptr;
    if (!opt.bVerbose) {
        pLog = fopen((opt.sOut + "/jxrtsp.log").c_str(), "ab");
        if (pLog != nullptr) {
            setvbuf(pLog, nullptr, _IOLBF, BUFSIZ);
            JXSetLogSink(LogToFile, pLog);
        }
    }

    std::vector<JXRecording> streams;
    streams.reserve(urls.size());
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
        r.pRecord.reset(new CRecordStream(sUrl, sDir, MakeWriter(opt, sDir)));
        r.pStream = pStream;
        r.sName = sDir.substr(opt.sOut.size() + 1);
        streams.push_back(std::move(r));
        // A start that fails at once (a URL without a host) is reported to
        // the subscriber; the stream stays in the list and shows no frames.
        streams.back().pRecord->Begin(pStream);
    }

    if (streams.empty()) {
        // Nothing to wait for: every stream failed to start.
        CloseLogFile(pLog);
        return kExitFailed;
    }

    g_StopSignal = 0;
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    CProgress progress(streams);
    const uint64_t nStartMs = CJXTime::GetTimeMS();
    const uint64_t nEndMs = nStartMs + uint64_t(opt.nSeconds) * 1000;
    while (g_StopSignal == 0) {
        const uint64_t nNow = CJXTime::GetTimeMS();
        if (opt.nSeconds != 0 && nNow >= nEndMs) break;
        if (!opt.bQuiet) progress.Tick(nNow);
        std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);

    // Every stream stops before any file is completed: no frame arrives
    // after its stream's End.
    for (JXRecording& r : streams) r.pRecord->End();
    if (!opt.bQuiet) progress.Finish();

    std::string sJson = "[";
    for (size_t i = 0; i < streams.size(); ++i) {
        const JXStreamSummary s = streams[i].pRecord->GetSummary();
        const bool bWritten = WriteSummaryFile(s);
        if (!bWritten) fprintf(stderr, "jxrtsp: cannot write %s/summary.json\n", s.sDir.c_str());
        const bool bMedia = s.video.nFrames + s.audio.nFrames > 0;
        if (!bWritten || !bMedia || s.nWriteErrors != 0) bAllOk = false;
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

    CloseLogFile(pLog);
    return bAllOk ? kExitOk : kExitFailed;
}
