// jxrtsp demo: the server on a free loopback port in a thread of this process,
// and every media kind recorded from it at once by the record command, through
// the loaded module as any host would, with Digest authentication on.
#include "JXBase.h"
#include "jxrtsp_tool.h"
#include "module_host.h"
#include "serve/rtsp_server.h"

#include <cstdio>
#include <random>
#include <thread>

namespace {
const int kDefaultDemoSeconds = 5;
const char kDemoUser[] = "demo";

struct JXDemoPath {
    const char* pPath;
    int32_t nScheme;   // JXRTSP_SCHEME_UDP: unicast UDP; JXRTSP_SCHEME_RTSP: interleaved on the connection
};

const JXDemoPath kDemoPaths[] = {
    {"h264", JXRTSP_SCHEME_RTSP}, {"h265", JXRTSP_SCHEME_RTSP}, {"jpeg", JXRTSP_SCHEME_RTSP},
    {"pcma", JXRTSP_SCHEME_UDP},  {"pcmu", JXRTSP_SCHEME_RTSP}, {"h264+pcmu", JXRTSP_SCHEME_UDP},
    {"aac", JXRTSP_SCHEME_RTSP},  {"h264+aac", JXRTSP_SCHEME_UDP},
};

std::string RandomPassword()
{
    std::random_device random;
    char text[17];
    snprintf(text, sizeof(text), "%08x%08x", unsigned(random()), unsigned(random()));
    return text;
}
}   // namespace

int RunDemo(const JXToolOptions& opt, CModuleHost& host)
{
    JXServeConfig config;
    config.auth = CRtspServerAuth::Mode::kDigest;
    config.sUser = kDemoUser;
    config.sPassword = RandomPassword();   // never printed: the URLs are logged without it
    config.bQuiet = true;
    CRtspServer server;
    std::string sWhy;
    if (server.Start(config, sWhy) != JX_OK) {
        fprintf(stderr, "jxrtsp demo: %s\n", sWhy.c_str());
        return kExitFailed;
    }
    std::thread serving([&server] { server.Run(nullptr); });

    JXToolOptions record = opt;
    record.sCommand = "record";
    record.nSeconds = opt.nSeconds != 0 ? opt.nSeconds : kDefaultDemoSeconds;
    record.urls.clear();
    for (const JXDemoPath& path : kDemoPaths) {
        record.urls.push_back(std::string(JXRTSP_SCHEMES[path.nScheme]) + "://" + config.sUser + ":" + config.sPassword +
                              "@127.0.0.1:" + std::to_string(server.GetPort()) + "/" + path.pPath);
    }
    printf("demo: serving the sample clips on rtsp://127.0.0.1:%u/ (Digest authentication) and recording %d s of "
           "h264, h265, jpeg, pcmu, aac (interleaved TCP), pcma, h264+pcmu and h264+aac (unicast UDP)\n",
           unsigned(server.GetPort()), record.nSeconds);
    fflush(stdout);
    const int nExit = RunRecord(record, host);
    server.RequestStop();
    serving.join();
    printf("demo: %s; the files are in %s/ (one folder per stream, summary.json in each)\n",
           nExit == kExitOk ? "every stream delivered frames" : "SOME STREAMS FAILED", record.sOut.c_str());
    return nExit;
}
