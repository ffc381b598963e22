// The command line of jxrtsp: the command word, its options (one table row an
// option), its URLs checked before anything starts, and what to print instead
// of running (usage, a command's help, the version, or a one-line refusal).
#pragma once

#include "jxrtsp_tool.h"

#include <string>
#include <vector>

struct JXCommandLine {
    bool bRun = false;   // true: run opt.sCommand with the options read
    // When not run: the exit status, and the text to print, on standard output
    // for status 0 (help, version), on standard error otherwise (the reason).
    int nExit = kExitOk;
    std::string sText;
};

// args: the arguments after the program's name. Fills opt only as far as it
// reads; a refusal's text is one line naming the argument and the reason.
JXCommandLine ReadCommandLine(const std::vector<std::string>& args, JXToolOptions& opt);

// Every option's long and short form ("--seconds", "-t"), each once, in the
// table's order: what the man page and the completion have to cover.
std::vector<std::string> OptionNames();
