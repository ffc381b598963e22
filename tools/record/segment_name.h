// Names of a recording's files: the folder name taken from a URL's host and
// path, and the file-name template of record --name, expanded at each file's
// wall-clock start.
#pragma once

#include <cstdint>
#include <string>

// Letters, digits, '.', '-' and '_' kept, any other run of characters one
// '_', never starting with '.', at most 100 bytes; pFallback when nothing is
// left. A name made this way holds no '/', so it cannot leave its folder.
std::string SanitizeName(const std::string& sRaw, const char* pFallback);
// The stream's folder name: its URL's host and path.
std::string FolderName(const std::string& sUrl);

// What a template's codes stand for, for one file.
struct JXNameFields {
    std::string sHost;     // %host, sanitized
    std::string sPath;     // %path, sanitized
    int64_t nUtcMs = 0;    // %Y %m %d %H %M %S: the file's start, ms since 1970 UTC
    uint32_t nNumber = 1;  // %n: the file's number in its stream, from 1
};

// %host and %path of a URL.
JXNameFields NameFieldsOf(const std::string& sUrl);
// Empty when the template can name files under the output folder; else why not.
std::string CheckNameTemplate(const std::string& sTemplate);
// A checked template with its codes replaced ("%%" is one '%').
std::string ExpandName(const std::string& sTemplate, const JXNameFields& fields);
// "2026-12-08T15:00:00.000Z"
std::string UtcText(int64_t nUtcMs);
// The host's wall clock, ms since 1970 UTC.
int64_t NowUtcMs();
