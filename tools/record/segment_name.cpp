#include "segment_name.h"

#include "JXUrl.h"

#include <chrono>
#include <cstdio>

namespace {

const size_t kMaxNameBytes = 100;
const int64_t kMsPerSecond = 1000;
const int64_t kSecondsPerDay = 86400;
const char kHostCode[] = "host";
const char kPathCode[] = "path";
const size_t kWordCodeBytes = 4;

// The UTC calendar fields of a time.
struct JXUtcFields {
    int64_t nYear;
    unsigned nMonth, nDay, nHour, nMinute, nSecond, nMs;
};

// Days since 1970-01-01 to a proleptic Gregorian date (the inverse of the
// frame times' conversion).
void CivilFromDays(int64_t nDays, int64_t& nYear, unsigned& nMonth, unsigned& nDay)
{
    nDays += 719468;
    const int64_t nEra = (nDays >= 0 ? nDays : nDays - 146096) / 146097;
    const unsigned nDoe = unsigned(nDays - nEra * 146097);
    const unsigned nYoe = (nDoe - nDoe / 1460 + nDoe / 36524 - nDoe / 146096) / 365;
    const unsigned nDoy = nDoe - (365 * nYoe + nYoe / 4 - nYoe / 100);
    const unsigned nMp = (5 * nDoy + 2) / 153;
    nDay = nDoy - (153 * nMp + 2) / 5 + 1;
    nMonth = nMp < 10 ? nMp + 3 : nMp - 9;
    nYear = int64_t(nYoe) + nEra * 400 + (nMonth <= 2 ? 1 : 0);
}

JXUtcFields UtcFields(int64_t nUtcMs)
{
    int64_t nSeconds = nUtcMs / kMsPerSecond;
    int64_t nMs = nUtcMs % kMsPerSecond;
    if (nMs < 0) {
        nMs += kMsPerSecond;
        --nSeconds;
    }
    int64_t nDays = nSeconds / kSecondsPerDay;
    int64_t nInDay = nSeconds % kSecondsPerDay;
    if (nInDay < 0) {
        nInDay += kSecondsPerDay;
        --nDays;
    }
    JXUtcFields f;
    CivilFromDays(nDays, f.nYear, f.nMonth, f.nDay);
    f.nHour = unsigned(nInDay / 3600);
    f.nMinute = unsigned(nInDay / 60 % 60);
    f.nSecond = unsigned(nInDay % 60);
    f.nMs = unsigned(nMs);
    return f;
}

std::string Digits(int64_t n, int nWidth)
{
    char text[32];
    snprintf(text, sizeof(text), "%0*lld", nWidth, (long long)n);
    return text;
}

bool IsWordCode(const std::string& s, size_t nAt, const char* pCode)
{
    return s.compare(nAt, kWordCodeBytes, pCode) == 0;
}

// The text a code at s[nAt] stands for and its length in the template; 0
// length for an unknown code.
size_t Code(const std::string& s, size_t nAt, const JXNameFields& f, std::string& sOut)
{
    if (IsWordCode(s, nAt, kHostCode)) {
        sOut = f.sHost;
        return kWordCodeBytes;
    }
    if (IsWordCode(s, nAt, kPathCode)) {
        sOut = f.sPath;
        return kWordCodeBytes;
    }
    const JXUtcFields t = UtcFields(f.nUtcMs);
    switch (nAt < s.size() ? s[nAt] : '\0') {
    case 'Y': sOut = Digits(t.nYear, 4); return 1;
    case 'm': sOut = Digits(t.nMonth, 2); return 1;
    case 'd': sOut = Digits(t.nDay, 2); return 1;
    case 'H': sOut = Digits(t.nHour, 2); return 1;
    case 'M': sOut = Digits(t.nMinute, 2); return 1;
    case 'S': sOut = Digits(t.nSecond, 2); return 1;
    case 'n': sOut = Digits(f.nNumber, 1); return 1;
    case '%': sOut = "%"; return 1;
    default: return 0;
    }
}

}   // namespace

std::string SanitizeName(const std::string& sRaw, const char* pFallback)
{
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
    return sName.empty() ? pFallback : sName;
}

std::string FolderName(const std::string& sUrl)
{
    CJXUrl url(sUrl.c_str());
    std::string sRaw = url.m_Host != nullptr ? url.m_Host : "stream";
    if (url.m_Path != nullptr) sRaw += url.m_Path;
    return SanitizeName(sRaw, "stream");
}

JXNameFields NameFieldsOf(const std::string& sUrl)
{
    CJXUrl url(sUrl.c_str());
    JXNameFields f;
    f.sHost = SanitizeName(url.m_Host != nullptr ? url.m_Host : "", "stream");
    f.sPath = SanitizeName(url.m_Path != nullptr ? url.m_Path : "", "stream");
    return f;
}

std::string CheckNameTemplate(const std::string& sTemplate)
{
    if (sTemplate.empty()) return "the name is empty";
    if (sTemplate[0] == '/' || sTemplate[0] == '\\') return "the name must be relative to the --out folder";
    const JXNameFields fields;
    std::string sPart;
    for (size_t i = 0; i < sTemplate.size(); ++i) {
        if (sTemplate[i] != '%') continue;
        const size_t nCode = Code(sTemplate, i + 1, fields, sPart);
        if (nCode == 0)
            return "unknown code '%" + sTemplate.substr(i + 1, 1) + "': %host %path %Y %m %d %H %M %S %n %%";
        i += nCode;
    }
    // A ".." folder would leave the output folder.
    std::string sSlashed = "/" + sTemplate + "/";
    for (char& c : sSlashed) {
        if (c == '\\') c = '/';
    }
    if (sSlashed.find("/../") != std::string::npos) return "the name must not contain a '..' folder";
    if (sTemplate.back() == '/' || sTemplate.back() == '\\') return "the name ends with a folder separator";
    return std::string();
}

std::string ExpandName(const std::string& sTemplate, const JXNameFields& fields)
{
    std::string sName;
    std::string sPart;
    for (size_t i = 0; i < sTemplate.size(); ++i) {
        const size_t nCode = sTemplate[i] == '%' ? Code(sTemplate, i + 1, fields, sPart) : 0;
        if (nCode == 0) {
            sName += sTemplate[i];
            continue;
        }
        sName += sPart;
        i += nCode;
    }
    return sName;
}

std::string UtcText(int64_t nUtcMs)
{
    const JXUtcFields t = UtcFields(nUtcMs);
    char text[48];
    snprintf(text, sizeof(text), "%04lld-%02u-%02uT%02u:%02u:%02u.%03uZ", (long long)t.nYear, t.nMonth, t.nDay, t.nHour,
             t.nMinute, t.nSecond, t.nMs);
    return text;
}

int64_t NowUtcMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}
