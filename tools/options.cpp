#include "options.h"

#include "module_host.h"
#include "stream_url.h"

#include <cstdint>
#include <cstdlib>

namespace {

const long kMaxSeconds = 86400;
const long kMaxPort = 65535;
const long kMaxFps = 240;
const char kDemoOut[] = "jxrtsp-demo";
const size_t kHelpColumn = 24;   // where an option's help text begins

// Said wherever stream.mkv is promised (a literal, joined to the texts).
#ifdef JX_HAVE_LIBAV
#  define JX_MKV_NOTE ""
#else
#  define JX_MKV_NOTE "\n  (NOT IN THIS BUILD: no libavformat, record writes --raw files)"
#endif

// Which commands take an option; kCmdTop: before the command word.
enum : unsigned {
    kCmdRecord = 1u << 0,
    kCmdProbe = 1u << 1,
    kCmdServe = 1u << 2,
    kCmdDemo = 1u << 3,
    kCmdCheck = 1u << 4,
    kCmdHelp = 1u << 5,
    kCmdTop = 1u << 6,
};
const unsigned kModuleCmds = kCmdRecord | kCmdProbe | kCmdDemo | kCmdCheck;   // those that load the module

// What the options read, with what only the reading needs.
struct JXParse {
    JXToolOptions& opt;
    bool bHelp = false;
    bool bVersion = false;
};

// Empty when the value was taken; otherwise what the option takes.
using JXSetter = std::string (*)(JXParse&, const char* pValue);

struct JXOptionSpec {
    unsigned nCommands;
    const char* pLong;
    char cShort;              // 0: none
    const char* pValueName;   // null: a flag
    JXSetter set;
    const char* pHelp;   // '\n' starts a continuation line
};

struct JXCommandSpec {
    const char* pName;
    unsigned nBit;
    size_t nMaxUrls;
    const char* pSynopsis;
    const char* pAbout;   // before the options
    const char* pAfter;   // after them: exit status
};

std::string TakeNumber(const char* pText, long nMin, long nMax, int& nOut)
{
    char* pEnd = nullptr;
    const long n = strtol(pText, &pEnd, 10);
    if (pEnd != pText && *pEnd == '\0' && n >= nMin && n <= nMax) {
        nOut = int(n);
        return std::string();
    }
    return "a number from " + std::to_string(nMin) + " to " + std::to_string(nMax);
}

std::string SetSeconds(JXParse& p, const char* pValue)
{
    return TakeNumber(pValue, 1, kMaxSeconds, p.opt.nSeconds);
}

std::string SetOut(JXParse& p, const char* pValue)
{
    // An empty name would put the folders in the file-system root.
    if (*pValue == '\0') return "a folder name";
    p.opt.sOut = pValue;
    return std::string();
}

// An option whose value is kept as it is written.
template <std::string JXToolOptions::*pField>
std::string SetText(JXParse& p, const char* pValue)
{
    p.opt.*pField = pValue;
    return std::string();
}

template <bool JXToolOptions::*pField>
std::string SetFlag(JXParse& p, const char*)
{
    p.opt.*pField = true;
    return std::string();
}

// One row an option, for each command that takes it (a row per command where
// the help differs). A new option is one row here and its field in JXToolOptions.
const JXOptionSpec kOptions[] = {
    {kCmdRecord, "--seconds", 't', "N", SetSeconds, "stop after N seconds (default: until Ctrl-C or SIGTERM)"},
    {kCmdDemo, "--seconds", 't', "N", SetSeconds, "record for N seconds (default 5)"},
    {kCmdCheck, "--seconds", 't', "N", SetSeconds, "play URL for N seconds (default 10)"},
    {kCmdRecord, "--out", 'o', "DIR", SetOut, "folder of the recordings (default ./recordings)"},
    {kCmdDemo, "--out", 'o', "DIR", SetOut, "folder of the recordings (default ./jxrtsp-demo)"},
    {kCmdRecord, "--urls", 0, "FILE",
     [](JXParse& p, const char* v) {
         p.opt.sUrlsFile = v;
         return std::string(*v == '\0' ? "a file name, or - for standard input" : "");
     },
     "more URLs, one a line ('#' starts a comment); '-' reads\nthem from standard input"},
    {kCmdRecord, "--raw", 0, nullptr, SetFlag<&JXToolOptions::bRaw>, "elementary files instead of stream.mkv"},
    {kCmdRecord, "--json", 0, nullptr, SetFlag<&JXToolOptions::bJson>,
     "print every summary as one JSON array on standard output"},
    {kCmdRecord, "--segment", 0, "SECONDS",
     [](JXParse& p, const char* v) { return TakeNumber(v, 1, kMaxSeconds, p.opt.nSegmentSeconds); },
     "a new file at the first key frame after every SECONDS\n(sound only: at SECONDS), each from time 0; default\none file"},
    {kCmdRecord, "--name", 0, "TEMPLATE", SetText<&JXToolOptions::sNameTemplate>,
     "file names under --out at each file's UTC start: %host\n%path %Y %m %d %H %M %S %n (file number) %%; .mkv\n"
     "is added; default with --segment FOLDER/%Y%m%d-%H%M%S"},
    {kCmdRecord, "--progress", 0, "FILE|-", SetText<&JXToolOptions::sProgress>,
     "a JSON line a stream once a second (state, frames,\nbytes, bitrate, lost, elapsed), appended to FILE, or\n"
     "standard output for '-' (not with --json)"},
    {kCmdRecord, "--retries", 0, "N",
     [](JXParse& p, const char* v) { return TakeNumber(v, 1, kMaxSeconds, p.opt.nRetries); },
     "give a stream up after N failed attempts in a row"},
    {kCmdRecord, "--give-up-after", 0, "S",
     [](JXParse& p, const char* v) { return TakeNumber(v, 1, kMaxSeconds, p.opt.nGiveUpAfter); },
     "give a stream up once it has not played for S seconds"},
    {kCmdRecord, "--stop-on-refusal", 0, nullptr, SetFlag<&JXToolOptions::bStopOnRefusal>,
     "give a stream up at its first authentication refusal\nor 404"},
    {kCmdProbe, "--json", 0, nullptr, SetFlag<&JXToolOptions::bJson>, "print the answer as one JSON object"},
    {kCmdProbe, "--timeout", 0, "N",
     [](JXParse& p, const char* v) { return TakeNumber(v, 1, kMaxSeconds, p.opt.nTimeout); },
     "wait at most N seconds for media (default 15)"},
    {kCmdServe, "--port", 0, "P", [](JXParse& p, const char* v) { return TakeNumber(v, 0, kMaxPort, p.opt.nPort); },
     "port to listen on (default 8554; 0: any free port)"},
    {kCmdServe, "--auth", 0, "MODE", SetText<&JXToolOptions::sAuth>,
     "none (default), basic or digest (MD5), checking\n--user and --password"},
    {kCmdServe, "--user", 0, "NAME", SetText<&JXToolOptions::sUser>, "the user name --auth checks"},
    {kCmdServe, "--password", 0, "WORD", SetText<&JXToolOptions::sPassword>, "the password --auth checks"},
    {kCmdServe, "--media", 0, "KIND", SetText<&JXToolOptions::sMedia>,
     "what other paths serve: h264 (default), h265, jpeg,\npcma, pcmu, aac, h264+pcmu, h264+aac"},
    {kCmdServe, "--clip", 0, "FILE", SetText<&JXToolOptions::sClip>,
     "an Annex B clip of your own in place of the H.264 one\n(of the H.265 one when FILE ends in .h265 or .hevc)"},
    {kCmdServe, "--fps", 0, "N", [](JXParse& p, const char* v) { return TakeNumber(v, 1, kMaxFps, p.opt.nFps); },
     "the frame rate of --clip (default 25)"},
    {kModuleCmds, "--module", 0, "PATH", SetText<&JXToolOptions::sModule>,
     "load the module from PATH instead of beside this program"},
    {kModuleCmds, "--quiet", 'q', nullptr,
     [](JXParse& p, const char*) {
         p.opt.bQuiet = true;
         p.opt.bVerbose = false;
         return std::string();
     },
     "errors only: no progress, nothing on standard output but\n--json or --progress -; the exit status tells the outcome"},
    {kModuleCmds, "--verbose", 'v', nullptr,
     [](JXParse& p, const char*) {
         p.opt.bVerbose = true;
         p.opt.bQuiet = false;
         return std::string();
     },
     "the module's log on standard error"},
    {kModuleCmds | kCmdServe | kCmdHelp | kCmdTop, "--help", 'h', nullptr,
     [](JXParse& p, const char*) {
         p.bHelp = true;
         return std::string();
     },
     "this help"},
    {kCmdTop, "--version", 0, nullptr,
     [](JXParse& p, const char*) {
         p.bVersion = true;
         return std::string();
     },
     "print the program's version"},
};

const char kExitStatus[] = "exit status: 0 success; 1 a stream or the run failed (or was given up);\n"
                           "  2 wrong arguments, or a URL or folder refused before anything started";

const JXCommandSpec kCommands[] = {
    {"record", kCmdRecord, SIZE_MAX, "record URL... [options]",
     "Records every stream at once until --seconds have passed or Ctrl-C or SIGTERM\n"
     "stops it; every file is complete either way. Each stream gets a folder under\n"
     "--out named from its host and path, holding:\n"
     "  stream.mkv     video and audio in one Matroska file" JX_MKV_NOTE "\n"
     "  summary.json   codec, size, frame rate, frames, bytes, state reports,\n"
     "                 reconnects, packets received and lost, jitter, the files\n"
     "                 (segments), the last failure (last_error) and gave_up;\n"
     "                 rewritten whole every 5 s while recording\n"
     "or with --raw, elementary files: video.h264 or video.h265 (Annex B), video.mjpeg\n"
     "and first.jpg, audio.wav (G.711) or audio.aac (ADTS).\n"
     "A failed attempt says why ('DESCRIBE: 404 Not Found', 'connect: connection\n"
     "refused', 'not an RTSP server') and when the next one is. A camera that fails\n"
     "or stops sending is tried again every 10 s until the run ends, unless --retries,\n"
     "--give-up-after or --stop-on-refusal give it up: then it is stopped, its files\n"
     "completed, and the run ends when every stream has ended. The recording goes on\n"
     "in the same files after a reconnect. The module's log goes to DIR/jxrtsp.log,\n"
     "kept to 10 MiB and three older files (-v: standard error).",
     "exit status: 0 every stream delivered frames and every file was written;\n"
     "  1 otherwise (also when a stream was given up); 2 wrong arguments, or a URL,\n"
     "  --out, --name or --progress refused before anything started (a bad --urls\n"
     "  line is reported with its number and the others run)"},
    {"probe", kCmdProbe, 1, "probe URL [options]",
     "Waits for the first key frame, or the first audio frame of a stream without\n"
     "video, then prints codec, size, frame rate, audio codec, rate and channels.",
     "exit status:\n"
     "  0  the stream plays\n"
     "  1  the server failed the session (an error status, a broken connection)\n"
     "  2  wrong arguments, or a URL refused before anything started\n"
     "  3  the server refused the user name or password\n"
     "  4  the server could not be reached (name lookup or connect failed)\n"
     "  5  no media came in time"},
    {"serve", kCmdServe, 0, "serve [options]",
     "An RTSP/1.0 server on 127.0.0.1 only that streams the sample clips (clips/\n"
     "beside this program) in a loop at real time, over RTP interleaved on the RTSP\n"
     "connection or unicast UDP. When listening it prints one line,\n"
     "'serving rtsp://127.0.0.1:PORT/', and runs until Ctrl-C or SIGTERM.\n"
     "Paths: /h264 /h265 /jpeg /pcma /pcmu /aac /h264+pcmu /h264+aac; any other\n"
     "path serves --media. Each session that ends prints 'session ended: PATH frames\n"
     "sent N, frames dropped D' on standard error (frames are dropped for a client\n"
     "that reads too slowly).",
     "exit status: 0 stopped by a signal; 1 the server could not start; 2 wrong\n"
     "  arguments"},
    {"demo", kCmdDemo, 0, "demo [options]",
     "Runs serve on a free loopback port in this process, with Digest authentication,\n"
     "records every path at once (pcma, h264+pcmu and h264+aac over unicast UDP, the\n"
     "others interleaved) and prints the summaries.",
     "exit status: 0 every stream delivered frames; 1 otherwise; 2 wrong arguments"},
    {"check", kCmdCheck, 1, "check [URL] [options]",
     "Loads the module as a host does and asks it for a stream object. Without URL:\n"
     "reports that object. With URL: plays the stream, printing its frame counts\n"
     "once a second.",
     "exit status: 0 the object was made (with URL: frames came); 1 otherwise;\n"
     "  2 wrong arguments"},
    {"help", kCmdHelp, 1, "help [COMMAND]", "Prints the usage, or the help of COMMAND.", ""},
};

const JXCommandSpec* FindCommand(const std::string& sName)
{
    for (const JXCommandSpec& c : kCommands) {
        if (sName == c.pName) return &c;
    }
    return nullptr;
}

const JXOptionSpec* FindOption(const std::string& sName, unsigned nCommand)
{
    for (const JXOptionSpec& o : kOptions) {
        if ((o.nCommands & nCommand) == 0) continue;
        if (sName == o.pLong) return &o;
        if (o.cShort != 0 && sName.size() == 2 && sName[1] == o.cShort) return &o;
    }
    return nullptr;
}

std::string TopUsage()
{
    return std::string("usage: jxrtsp COMMAND [options] [URL...]\n"
                       "\n"
                       "commands:\n"
                       "  record URL...  record streams into ./recordings, a folder each, until Ctrl-C\n"
                       "                 or --seconds; a failed camera is tried again every 10 s\n"
                       "                 (or given up: --retries, --give-up-after, --stop-on-refusal)" JX_MKV_NOTE
                       "\n") +
           "  probe URL      tell what one stream carries: codec, size, frame rate, audio\n"
           "  serve          an RTSP server on 127.0.0.1 streaming the sample clips\n"
           "  demo           serve and record every media kind for 5 s into ./jxrtsp-demo\n"
           "  check [URL]    load the module and report its stream object, or play URL\n"
           "  help COMMAND   the options of COMMAND (or: jxrtsp COMMAND --help)\n"
           "\n"
           "URL: rtsp://[user:password@]host[:port]/path (RTP interleaved on the RTSP\n"
           "     connection), rtspu://... (unicast UDP) or rtspm://... (multicast)\n"
           "every option with a value is also written --option=value; jxrtsp --version\n"
           "\n" +
           kExitStatus + ";\n  probe adds 3 to 5 (jxrtsp help probe)\n";
}

std::string CommandHelp(const JXCommandSpec& c)
{
    std::string s = std::string("usage: jxrtsp ") + c.pSynopsis + "\n\n" + c.pAbout + "\n\noptions:\n";
    for (const JXOptionSpec& o : kOptions) {
        if ((o.nCommands & c.nBit) == 0) continue;
        std::string sLeft = "  ";
        sLeft += o.cShort != 0 ? std::string("-") + o.cShort + ", " : "    ";
        sLeft += o.pLong;
        if (o.pValueName != nullptr) sLeft += std::string(" ") + o.pValueName;
        sLeft += sLeft.size() < kHelpColumn ? std::string(kHelpColumn - sLeft.size(), ' ') : " ";
        s += sLeft;
        for (const char* p = o.pHelp; *p != '\0'; ++p) {
            s += *p;
            if (*p == '\n') s += std::string(kHelpColumn, ' ');
        }
        s += "\n";
    }
    if (*c.pAfter != '\0') s += std::string("\n") + c.pAfter + "\n";
    return s;
}

JXCommandLine Print(const std::string& sText)
{
    JXCommandLine r;
    r.sText = sText;
    return r;
}

JXCommandLine Refuse(const std::string& sWhy)
{
    JXCommandLine r;
    r.nExit = kExitUsage;
    r.sText = "jxrtsp: " + sWhy + "\n";
    return r;
}

JXCommandLine RefuseCommand(const std::string& sWord)
{
    // A URL first is the program's older form of playing one stream.
    if (sWord.find("://") != std::string::npos)
        return Refuse("'" + UrlForLog(sWord.c_str()) + "' is not a command: jxrtsp check URL plays one stream");
    return Refuse("unknown command '" + sWord + "' (jxrtsp --help lists the commands)");
}

// The URLs a command takes: their number, and each checked as the module
// would read it, so that a bad one stops the run before anything starts.
JXCommandLine CheckUrls(const JXCommandSpec& c, const JXToolOptions& opt)
{
    const std::string sName = c.pName;
    if (opt.urls.size() > c.nMaxUrls) {
        return Refuse(sName + (c.nMaxUrls == 0 ? " takes no URL" : " takes one URL") + ": '" +
                      UrlForLog(opt.urls[c.nMaxUrls].c_str()) + "'");
    }
    if (c.nBit == kCmdProbe && opt.urls.empty()) return Refuse("probe needs a URL");
    if (c.nBit == kCmdRecord && opt.urls.empty() && opt.sUrlsFile.empty())
        return Refuse("record needs a URL or --urls FILE");
    for (const std::string& sUrl : opt.urls) {
        std::string sWhy;
        if (!CheckStreamUrl(sUrl, sWhy)) return Refuse(UrlForLog(sUrl.c_str()) + ": " + sWhy);
    }
    JXCommandLine r;
    r.bRun = true;
    return r;
}

}   // namespace

JXCommandLine ReadCommandLine(const std::vector<std::string>& args, JXToolOptions& opt)
{
    JXParse parse{opt};
    const JXCommandSpec* pCommand = nullptr;   // null while before the command word
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& sArg = args[i];
        if (sArg.size() < 2 || sArg[0] != '-') {
            if (pCommand != nullptr) {
                opt.urls.push_back(sArg);
                continue;
            }
            pCommand = FindCommand(sArg);
            if (pCommand == nullptr) return RefuseCommand(sArg);
            opt.sCommand = pCommand->pName;
            if (pCommand->nBit == kCmdDemo) opt.sOut = kDemoOut;
            continue;
        }
        // --name=value, or the value in the next argument.
        const size_t nEquals = sArg.find('=');
        const std::string sName = sArg.substr(0, nEquals);
        const unsigned nWhere = pCommand != nullptr ? pCommand->nBit : kCmdTop;
        const JXOptionSpec* pOption = FindOption(sName, nWhere);
        if (pOption == nullptr && pCommand == nullptr)
            return Refuse("unknown option '" + sName + "' before the command (jxrtsp --help)");
        if (pOption == nullptr) {
            return Refuse(std::string(pCommand->pName) + ": unknown option '" + sName + "' (jxrtsp " + pCommand->pName +
                          " --help lists them)");
        }
        std::string sValue;
        if (nEquals != std::string::npos) {
            if (pOption->pValueName == nullptr) return Refuse(sName + " takes no value");
            sValue = sArg.substr(nEquals + 1);
        } else if (pOption->pValueName != nullptr) {
            if (i + 1 >= args.size()) return Refuse(sName + " needs a value (" + pOption->pValueName + ")");
            sValue = args[++i];
        }
        const std::string sWhy = pOption->set(parse, sValue.c_str());
        if (!sWhy.empty()) return Refuse(sName + " takes " + sWhy + ", not '" + sValue + "'");
    }
    if (parse.bVersion) return Print("jxrtsp " JX_VERSION "\n");
    if (pCommand == nullptr) return Print(TopUsage());
    if (pCommand->nBit == kCmdHelp) {
        if (parse.bHelp || opt.urls.empty()) return Print(TopUsage());
        const JXCommandSpec* pAbout = FindCommand(opt.urls[0]);
        if (opt.urls.size() > 1) return Refuse("help takes one command name");
        if (pAbout == nullptr) return RefuseCommand(opt.urls[0]);
        return Print(CommandHelp(*pAbout));
    }
    if (parse.bHelp) return Print(CommandHelp(*pCommand));
    return CheckUrls(*pCommand, opt);
}

std::vector<std::string> OptionNames()
{
    std::vector<std::string> names;
    auto Add = [&names](const std::string& s) {
        for (const std::string& sHave : names) {
            if (sHave == s) return;
        }
        names.push_back(s);
    };
    for (const JXOptionSpec& o : kOptions) {
        Add(o.pLong);
        if (o.cShort != 0) Add(std::string("-") + o.cShort);
    }
    return names;
}
