// The host program's commands and the options they share.
#pragma once

#include <string>
#include <vector>

struct JXToolOptions {
    std::string sCommand;   // "record", "probe", "serve", "demo" or "check"
    std::string sModule;    // empty: the module beside this program
    std::vector<std::string> urls;
    std::string sUrlsFile;   // "-": standard input
    int nSeconds = 0;   // 0: not given
    std::string sOut = "recordings";
    int nTimeout = 15;   // probe: seconds to wait for media
    bool bRaw = false;
    bool bJson = false;
    bool bVerbose = false;   // -v: the module's log on standard error
    bool bQuiet = false;     // -q: errors only; standard output carries nothing but --json
    // record's retry policy: 0 / false for none (retry every 10 s while running)
    int nRetries = 0;
    int nGiveUpAfter = 0;   // seconds
    bool bStopOnRefusal = false;
    // record: --segment, --name, --progress
    int nSegmentSeconds = 0;    // 0: one file
    std::string sNameTemplate;  // empty: stream.mkv in the stream's folder
    std::string sProgress;      // empty: none; "-": standard output
    // serve
    int nPort = 8554;
    std::string sAuth = "none";
    std::string sUser;
    std::string sPassword;
    std::string sMedia = "h264";
    std::string sClip;
    int nFps = 25;
};

class CModuleHost;

// Exit status of the program for each command.
int RunRecord(const JXToolOptions& opt, CModuleHost& host);
int RunProbe(const JXToolOptions& opt, CModuleHost& host);
int RunServe(const JXToolOptions& opt);   // needs no module
int RunDemo(const JXToolOptions& opt, CModuleHost& host);

// Exit statuses shared by the commands (probe adds its own, see its help).
const int kExitOk = 0;
const int kExitFailed = 1;
const int kExitUsage = 2;
