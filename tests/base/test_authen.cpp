// Authentication challenges as cameras send them, and hostile ones.
#include "JXHTTPAuthen.h"
#include "JXHTTPCommand.h"
#include "rtp_capture.h"
#include "rtspcommand.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* Str(const char* p)
{
    return p ? p : "(null)";
}

// The challenge as an exact-size heap text, so ASan flags any read past its NUL.
int32_t ParseExact(CJXHTTPAuthen& auth, const std::string& text)
{
    char* p = static_cast<char*>(malloc(text.size() + 1));
    memcpy(p, text.c_str(), text.size() + 1);
    int32_t nRet = auth.ParseResponse(p);
    free(p);
    return nRet;
}

const uint32_t kBasic = CJXHTTPAuthen::kSchemeBasic;
const uint32_t kDigest = CJXHTTPAuthen::kSchemeDigest;

// The parsed challenge as one line: scheme, then each field present as name[value].
std::string Describe(const CJXHTTPAuthen& auth)
{
    std::string out = auth.m_Scheme == kDigest ? "Digest" : auth.m_Scheme == kBasic ? "Basic" : "?";
    const std::pair<const char*, const char*> fields[] = {{"realm", auth.m_Realm},
                                                          {"nonce", auth.m_Nonce},
                                                          {"opaque", auth.m_Opaque},
                                                          {"qop", auth.m_Qop},
                                                          {"algorithm", auth.m_Algorithm}};
    for (const auto& f : fields) {
        if (f.second != nullptr) out += std::string(" ") + f.first + "[" + f.second + "]";
    }
    return auth.m_Stale ? out + " stale" : out;
}

// Camera and hostile challenges, bounds just inside and past ("refused": dropped whole); every
// prefix of a short one is read or refused whole.
TEST(HTTPAuthen, ChallengesAndTheirPrefixes)
{
    const std::string atLimit(size_t(CJXHTTPAuthen::kMaxValueBytes), 'r');
    std::string escaped;   // escapes count once: decodes to kMaxValueBytes quotes
    for (int32_t i = 0; i < CJXHTTPAuthen::kMaxValueBytes; ++i)
        escaped += "\\\"";
    std::string longest = R"(Digest realm="r", nonce="n")";
    longest += std::string(size_t(CJXHTTPAuthen::kMaxChallengeBytes) - longest.size(), ' ');
    const std::string kRefused = "refused";
    const std::pair<std::string, std::string> cases[] = {
        {R"x(Digest realm="IP Camera(12345)", nonce="abc", stale="FALSE")x",
         "Digest realm[IP Camera(12345)] nonce[abc]"},
        {R"(Basic realm="x", Digest realm="y", nonce="z", qop="auth", opaque="o")",
         "Digest realm[y] nonce[z] opaque[o] qop[auth]"},
        {R"(Digest qop="auth,auth-int", realm="a \"quoted\", realm", nonce="n", algorithm=MD5)",
         R"(Digest realm[a "quoted", realm] nonce[n] qop[auth,auth-int] algorithm[MD5])"},
        {R"(Basic realm="only")", "Basic realm[only]"},
        {"Basic", "Basic"},
        {R"(digest REALM="r", NONCE="n", STALE=true, ALGORITHM="md5")",
         "Digest realm[r] nonce[n] algorithm[md5] stale"},
        {"  Digest   realm = \"r\" ,nonce= n123 ,\talgorithm = \"MD5\"  ",
         "Digest realm[r] nonce[n123] algorithm[MD5]"},
        {R"(Digest realm="r", domain="/a /b", nonce="n", charset=UTF-8, userhash=false)", "Digest realm[r] nonce[n]"},
        {R"(Digest nonce="n", realm="r")", "Digest realm[r] nonce[n]"},
        {R"(Newauth realm="apps", type=1, title="Login to \"apps\"", Basic realm="simple")", "Basic realm[simple]"},
        {R"(Bearer abc==, Digest realm="r", nonce="n")", "Digest realm[r] nonce[n]"},
        {R"(Digest realm="r", nonce=MTIzNDU2Nzg5MA/+==)", "Digest realm[r] nonce[MTIzNDU2Nzg5MA/+==]"},
        {R"(Digest realm="", nonce="")", "Digest realm[] nonce[]"},
        {R"(Digest realm="r")", "Digest realm[r]"},
        {R"(Digest realm="r", Basic realm="b")", "Basic realm[b]"},   // a Digest without nonce ranks below Basic
        {R"(, ,Digest realm="r",, nonce="n" ,,)", "Digest realm[r] nonce[n]"},
        {R"(Digest realm="unterminated)", kRefused},
        {R"(Digest realm="r", nonce="n", opaque="o)", kRefused},
        {"Digest", kRefused},
        {"Digest   ", kRefused},
        {"Digest realm=", kRefused},
        {R"(Digest realm="x", nonce=)", kRefused},
        {R"(Digest realm=, nonce="n")", kRefused},
        {R"(Digest realm="a\)", kRefused},   // escape at the end
        {R"(Digest realm=a"b", nonce="n")", kRefused},
        {R"(realm="x", Digest nonce="n")", kRefused},
        {R"("Digest" realm="x")", kRefused},
        {"", kRefused},
        {" , ,, ", kRefused},
        {"Negotiate", kRefused},
        {R"(Newauth realm="apps")", kRefused},
        {R"(=Digest realm="x")", kRefused},
        {R"(Digest realm="x", nonce="n", algorithm=SHA-512-256)", kRefused},   // only an uncomputable digest
        {R"(Digest realm="x", algorithm=SHA-512-256-sess)", kRefused},
        {"Digest realm=\"" + atLimit + "\", nonce=\"n\"", "Digest realm[" + atLimit + "] nonce[n]"},
        {"Digest realm=\"" + atLimit + "r\", nonce=\"n\"", kRefused},
        {"Digest realm=r, nonce=" + atLimit + "n", kRefused},
        {"Digest realm=\"" + escaped + "\", nonce=\"n\"",
         "Digest realm[" + std::string(atLimit.size(), '"') + "] nonce[n]"},
        {longest, "Digest realm[r] nonce[n]"},
        {longest + " ", kRefused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first.substr(0, 80));
        CJXHTTPAuthen auth;
        EXPECT_EQ(ParseExact(auth, c.first), c.second == kRefused ? JX_ERR_CONTENT : 0);
        EXPECT_EQ(Describe(auth), c.second == kRefused ? "Basic" : c.second);
        for (size_t cut = 0; cut < c.first.size() && c.first.size() < size_t(CJXHTTPAuthen::kMaxValueBytes); ++cut) {
            CJXHTTPAuthen part;
            const int32_t nRet = ParseExact(part, c.first.substr(0, cut));
            EXPECT_TRUE(nRet == 0 || (nRet == JX_ERR_CONTENT && part.m_Scheme == kBasic)) << cut << ": " << nRet;
        }
    }
}

// Each challenge replaces the last one whole; the credentials are copies kept until Reset.
TEST(HTTPAuthen, NewChallengeReplacesTheOldOne)
{
    char user[] = "admin";
    char password[] = "p@ss:word";
    CJXHTTPAuthen auth;
    ASSERT_EQ(auth.SetUser(user, password), 0);
    user[0] = password[0] = 'X';
    ASSERT_EQ(ParseExact(auth, R"(Digest realm="r1", nonce="n1", opaque="o1", qop="auth", stale=true)"), 0);
    auth.m_NonceCount = 5;
    ASSERT_EQ(ParseExact(auth, R"(Basic realm="b")"), 0);
    EXPECT_EQ(Describe(auth), "Basic realm[b]");
    EXPECT_EQ(auth.m_NonceCount, 0u);
    ASSERT_EQ(ParseExact(auth, R"(Digest realm="r2", nonce="n2", algorithm=SHA-256)"), 0);
    ASSERT_EQ(ParseExact(auth, R"(Digest realm="r2", nonce="n2")"), 0);
    EXPECT_EQ(auth.m_DigestAlgorithm, CJXHTTPAuthen::kDigestMD5);   // no algorithm named: MD5 again
    EXPECT_EQ(ParseExact(auth, R"(Digest realm="broken)"), JX_ERR_CONTENT);
    EXPECT_EQ(Describe(auth), "Basic");   // the old challenge is gone, not half-kept
    EXPECT_STREQ(auth.m_User, "admin");
    EXPECT_STREQ(auth.m_Password, "p@ss:word");
    ASSERT_EQ(ParseExact(auth, R"(Digest realm="r", nonce="n")"), 0);
    auth.Reset();
    EXPECT_TRUE(auth.m_User == nullptr && auth.m_Password == nullptr && auth.m_Nonce == nullptr);
}

// The offer taken from a 401's WWW-Authenticate lines (split at '|'): scheme, realm, algorithm.
TEST(HTTPAuthen, ChoiceAmongChallengeLines)
{
    const char* const kAlgorithms[] = {"MD5", "MD5-sess", "SHA-256", "SHA-256-sess"};
    const std::pair<std::string, const char*> cases[] = {
        {R"(Basic realm="b"|Digest realm="d", nonce="5c4d3e", stale="FALSE")", "Digest d MD5"},
        {R"(Basic realm="b"|Digest realm="d", nonce="n", algorithm=SHA-256)", "Digest d SHA-256"},
        {R"(Digest realm="m", nonce="n"|Digest realm="s", nonce="n", algorithm=sha-256)", "Digest s SHA-256"},
        {R"(Digest realm="d", nonce="n", algorithm="MD5-SESS", Basic realm="b")", "Digest d MD5-sess"},
        {R"(Digest realm="d", nonce="n", algorithm=SHA-256-sess)", "Digest d SHA-256-sess"},
        {R"(Digest realm="x", nonce="n", algorithm=SHA-512-256|Basic realm="b")", "Basic b MD5"},
        {R"(Digest realm="x", nonce="1", algorithm=SHA-256-s|Digest realm="d", nonce="2")", "Digest d MD5"},
        {R"(Digest realm="x", nonce="1", algorithm=MD, Basic realm="b")", "Basic b MD5"},
        {R"(Digest realm="first", nonce="1"|Digest realm="last", nonce="2")", "Digest first MD5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        std::string text = "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\n";
        size_t nFrom = 0;
        for (size_t nBar = 0; nBar != std::string::npos; nFrom = nBar + 1) {
            nBar = c.first.find('|', nFrom);
            text += "WWW-Authenticate: " + c.first.substr(nFrom, nBar - nFrom) + "\r\n";
        }
        text += "\r\n";
        CJXHTTPCommand cmd;
        ASSERT_EQ(cmd.ParseResponse(text.data(), int32_t(text.size())), int32_t(text.size()));
        CJXHTTPAuthen auth;
        ASSERT_EQ(auth.ParseResponse(cmd.m_WWWAuthenticate), 0);
        ASSERT_LT(auth.m_DigestAlgorithm, CJXHTTPAuthen::kDigestUnknown);
        EXPECT_EQ(std::string(auth.m_Scheme == kDigest ? "Digest " : "Basic ") + Str(auth.m_Realm) + " " +
                      kAlgorithms[auth.m_DigestAlgorithm],
                  c.second);
    }
}

// RFC 7616 section 3.9.1 under every algorithm: tests/data/vectors/digest_answers.txt.
TEST(HTTPAuthen, DigestAnswersPerAlgorithm)
{
    const std::string kNonce = "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v";
    const std::string kOpaque = "FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS";
    const std::string kCNonce = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";
    const auto rows = LoadTable("vectors/digest_answers.txt");
    ASSERT_EQ(rows.size(), 9u);
    for (const auto& row : rows) {
        const struct {
            const char* m_Algorithm;
            bool m_Qop, m_Sess;
            const char* m_Response;
        } c = {row.at(0) == "-" ? nullptr : row[0].c_str(), row.at(1) == "qop", row.at(2) == "sess", row.at(3).c_str()};
        SCOPED_TRACE(std::string(Str(c.m_Algorithm)) + (c.m_Qop ? " qop" : ""));
        const std::string common = "realm=\"http-auth@example.org\", nonce=\"" + kNonce + "\"";
        std::string challenge = "Digest " + common + ", opaque=\"" + kOpaque + "\"";
        if (c.m_Qop) challenge += ", qop=\"auth, auth-int\"";
        if (c.m_Algorithm != nullptr) challenge += std::string(", algorithm=") + c.m_Algorithm;
        CRTSPAuthen authen;
        authen.SetUser("Mufasa", "Circle of Life");
        ASSERT_EQ(authen.ParseResponse(challenge.c_str()), 0);
        authen.SetNextCNonce(kCNonce.c_str());
        CJXString out;
        ASSERT_EQ(authen.BuildDigest(out, "GET", "/dir/index.html"), 0);
        std::string expected = "Digest username=\"Mufasa\", " + common + ", uri=\"/dir/index.html\", response=\"" +
                               c.m_Response + "\", opaque=\"" + kOpaque + "\"";
        if (c.m_Algorithm != nullptr) expected += std::string(", algorithm=") + c.m_Algorithm;
        if (c.m_Qop) expected += ", qop=auth, nc=00000001";
        if (c.m_Qop || c.m_Sess) expected += ", cnonce=\"" + kCNonce + "\"";
        EXPECT_EQ(out.c_str(), expected);
    }
}

// Authorization values as a server reads them: the fields kept as sent, and
// what cannot be one answer refused whole.
TEST(HTTPAuthen, CredentialsAsAServerReadsThem)
{
    const std::string digest = "Digest username=\"Mufasa\", realm=\"r\", nonce=\"n\", uri=\"/a\", response=\"5f\"";
    const struct {
        std::string m_Text;
        int32_t m_Result;
        const char* m_Expect;
    } rows[] = {
        {"Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==", 0, "Basic user[Aladdin] password[open sesame]"},
        {"basic  QWxhZGRpbjo=", 0, "Basic user[Aladdin] password[]"},
        {digest, 0, "Digest user[Mufasa] realm[r] nonce[n] uri[/a] response[5f]"},
        {digest + ", qop=auth, nc=00000001, cnonce=\"c\\\"1\", algorithm=MD5", 0,
         "Digest user[Mufasa] realm[r] nonce[n] uri[/a] response[5f] qop[auth] nc[00000001] cnonce[c\"1] algorithm[MD5]"},
        {digest + ", response=\"00\"", JX_ERR_CONTENT, "Basic"},   // named twice: which one?
        {digest + ", cnonce=\"open", JX_ERR_CONTENT, "Basic"},
        {digest + ", Basic QWxh", JX_ERR_CONTENT, "Basic"},   // two answers
        {"Bearer abc", JX_ERR_CONTENT, "Basic"},
        {"Basic", JX_ERR_CONTENT, "Basic"},
        {"Basic QWxh!ZGRp", JX_ERR_CONTENT, "Basic"},
        {"Basic QWxhZGRpbg==", JX_ERR_CONTENT, "Basic"},   // no colon
        {"Digest username=\"" + std::string(size_t(CJXHTTPAuthen::kMaxChallengeBytes), 'u') + "\"", JX_ERR_CONTENT,
         "Basic"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.m_Text.substr(0, 60));
        CJXHTTPAuthen auth;
        auth.SetUser("old", "old");
        EXPECT_EQ(auth.ParseRequest(row.m_Text.c_str()), row.m_Result);
        std::string out = auth.m_Scheme == kDigest ? "Digest" : "Basic";
        const std::pair<const char*, const char*> fields[] = {
            {"user", auth.m_User},   {"password", auth.m_Password}, {"realm", auth.m_Realm},
            {"nonce", auth.m_Nonce}, {"uri", auth.m_Uri},           {"response", auth.m_Response},
            {"qop", auth.m_Qop},     {"nc", auth.m_NonceCountText}, {"cnonce", auth.m_CNonce},
            {"algorithm", auth.m_Algorithm}};
        for (const auto& f : fields) {
            if (f.second != nullptr) out += std::string(" ") + f.first + "[" + f.second + "]";
        }
        EXPECT_EQ(out, row.m_Expect);
    }
    CJXHTTPAuthen auth;
    EXPECT_EQ(auth.ParseRequest(nullptr), JX_ERR_ARG);
}

}   // namespace
