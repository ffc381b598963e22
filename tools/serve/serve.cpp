// jxrtsp serve: the RTSP server on 127.0.0.1 until SIGINT or SIGTERM. Scripts
// wait for its one line on standard output, "serving rtsp://127.0.0.1:PORT/".
#include "JXBase.h"
#include "jxrtsp_tool.h"
#include "rtsp_server.h"

#include <csignal>
#include <cstdio>

namespace {
volatile std::sig_atomic_t g_ServeSignal = 0;

void OnServeSignal(int nSignal)
{
    g_ServeSignal = nSignal;
}
}   // namespace

int32_t JXServeConfigFromOptions(const JXToolOptions& opt, JXServeConfig& config)
{
    config.nPort = uint16_t(opt.nPort);
    config.sMedia = opt.sMedia;
    config.sClip = opt.sClip;
    config.nFps = uint32_t(opt.nFps);
    config.sUser = opt.sUser;
    config.sPassword = opt.sPassword;
    if (opt.sAuth == "none") {
        config.auth = CRtspServerAuth::Mode::kNone;
    } else if (opt.sAuth == "basic") {
        config.auth = CRtspServerAuth::Mode::kBasic;
    } else if (opt.sAuth == "digest") {
        config.auth = CRtspServerAuth::Mode::kDigest;
    } else {
        fprintf(stderr, "jxrtsp: --auth takes none, basic or digest\n");
        return JX_ERR_ARG;
    }
    if (config.auth != CRtspServerAuth::Mode::kNone && opt.sUser.empty()) {
        fprintf(stderr, "jxrtsp: --auth %s needs --user (and --password)\n", opt.sAuth.c_str());
        return JX_ERR_ARG;
    }
    return JX_OK;
}

int RunServe(const JXToolOptions& opt)
{
    JXServeConfig config;
    if (JXServeConfigFromOptions(opt, config) != JX_OK) return kExitUsage;
    CRtspServer server;
    std::string sWhy;
    const int32_t nRet = server.Start(config, sWhy);
    if (nRet != JX_OK) {
        fprintf(stderr, "jxrtsp serve: %s\n", sWhy.c_str());
        return nRet == JX_ERR_ARG ? kExitUsage : kExitFailed;
    }
    g_ServeSignal = 0;
    std::signal(SIGINT, OnServeSignal);
    std::signal(SIGTERM, OnServeSignal);
    printf("serving rtsp://127.0.0.1:%u/\n", unsigned(server.GetPort()));
    fflush(stdout);
    server.Run(&g_ServeSignal);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    return kExitOk;
}
