// Authentication challenges as cameras send them, and hostile ones.
#include "JXHTTPAuthen.h"
#include "JXHTTPCommand.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* Str(const char* p) { return p ? p : "(null)"; }

// The challenge as an exact-size heap text, so ASan flags any read past its NUL.
int32_t ParseExact(CJXHTTPAuthen& auth, const std::string& text)
{
    char* p = static_cast<char*>(malloc(text.size() + 1));
    memcpy(p, text.c_str(), text.size() + 1);
    int32_t nRet = auth.ParseResponse(p);
    free(p);
    return nRet;
}

struct SChallengeCase {
    const char* m_Name;
    std::string m_Text;
    uint32_t m_Scheme;
    const char* m_Realm;
    const char* m_Nonce;
    const char* m_Opaque;
    const char* m_Qop;
    const char* m_Algorithm;
    bool m_Stale;
};

const uint32_t kBasic = CJXHTTPAuthen::kSchemeBasic;
const uint32_t kDigest = CJXHTTPAuthen::kSchemeDigest;

const std::vector<SChallengeCase>& GoodChallenges()
{
    static const std::vector<SChallengeCase> cases = {
        {"camera_stale_false", R"x(Digest realm="IP Camera(12345)", nonce="abc", stale="FALSE")x", kDigest,
         "IP Camera(12345)", "abc", nullptr, nullptr, nullptr, false},
        {"basic_then_digest", R"(Basic realm="x", Digest realm="y", nonce="z", qop="auth", opaque="o")", kDigest, "y",
         "z", "o", "auth", nullptr, false},
        {"quoted_commas_and_escapes",
         R"(Digest qop="auth,auth-int", realm="a \"quoted\", realm", nonce="n", algorithm=MD5)", kDigest,
         R"(a "quoted", realm)", "n", nullptr, "auth,auth-int", "MD5", false},
        {"basic_only", R"(Basic realm="only")", kBasic, "only", nullptr, nullptr, nullptr, nullptr, false},
        {"basic_no_params", "Basic", kBasic, nullptr, nullptr, nullptr, nullptr, nullptr, false},
        {"any_letter_case", R"(digest REALM="r", NONCE="n", STALE=true, ALGORITHM="md5")", kDigest, "r", "n", nullptr,
         nullptr, "md5", true},
        {"blanks_everywhere", "  Digest   realm = \"r\" ,nonce= n123 ,\talgorithm = \"MD5\"  ", kDigest, "r", "n123",
         nullptr, nullptr, "MD5", false},
        {"unknown_params", R"(Digest realm="r", domain="/a /b", nonce="n", charset=UTF-8, userhash=false)", kDigest,
         "r", "n", nullptr, nullptr, nullptr, false},
        {"nonce_first", R"(Digest nonce="n", realm="r")", kDigest, "r", "n", nullptr, nullptr, nullptr, false},
        {"digest_before_basic", R"(Digest realm="a", nonce="b", Basic realm="c")", kDigest, "a", "b", nullptr, nullptr,
         nullptr, false},
        {"md5_preferred_over_sha",
         R"(Digest realm="sha", nonce="1", algorithm=SHA-256, Digest realm="md5", nonce="2", algorithm=MD5)", kDigest,
         "md5", "2", nullptr, nullptr, "MD5", false},
        {"sha_only_digest", R"(Digest realm="sha", nonce="1", algorithm=SHA-256)", kDigest, "sha", "1", nullptr,
         nullptr, "SHA-256", false},
        {"rfc7235_example", R"(Newauth realm="apps", type=1, title="Login to \"apps\"", Basic realm="simple")", kBasic,
         "simple", nullptr, nullptr, nullptr, nullptr, false},
        {"token68_ignored", R"(Bearer abc==, Digest realm="r", nonce="n")", kDigest, "r", "n", nullptr, nullptr, nullptr,
         false},
        {"unquoted_base64_nonce", R"(Digest realm="r", nonce=MTIzNDU2Nzg5MA/+==)", kDigest, "r", "MTIzNDU2Nzg5MA/+==",
         nullptr, nullptr, nullptr, false},
        {"empty_quoted_values", R"(Digest realm="", nonce="")", kDigest, "", "", nullptr, nullptr, nullptr, false},
        {"digest_without_nonce", R"(Digest realm="r")", kDigest, "r", nullptr, nullptr, nullptr, nullptr, false},
        {"basic_beats_digest_without_nonce", R"(Digest realm="r", Basic realm="b")", kBasic, "b", nullptr, nullptr,
         nullptr, nullptr, false},
        {"empty_list_elements", R"(, ,Digest realm="r",, nonce="n" ,,)", kDigest, "r", "n", nullptr, nullptr, nullptr,
         false},
    };
    return cases;
}

TEST(HTTPAuthen, ChallengesFromCameras)
{
    for (const SChallengeCase& c : GoodChallenges()) {
        SCOPED_TRACE(c.m_Name);
        CJXHTTPAuthen auth;
        EXPECT_EQ(ParseExact(auth, c.m_Text), 0);
        EXPECT_EQ(auth.m_Scheme, c.m_Scheme);
        EXPECT_STREQ(Str(auth.m_Realm), Str(c.m_Realm));
        EXPECT_STREQ(Str(auth.m_Nonce), Str(c.m_Nonce));
        EXPECT_STREQ(Str(auth.m_Opaque), Str(c.m_Opaque));
        EXPECT_STREQ(Str(auth.m_Qop), Str(c.m_Qop));
        EXPECT_STREQ(Str(auth.m_Algorithm), Str(c.m_Algorithm));
        EXPECT_EQ(auth.m_Stale, c.m_Stale);
    }
}

TEST(HTTPAuthen, MalformedChallengesAreRefused)
{
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"unterminated_quote", R"(Digest realm="unterminated)"},
        {"unterminated_after_good", R"(Digest realm="r", nonce="n", opaque="o)"},
        {"digest_alone", "Digest"},
        {"digest_blank", "Digest   "},
        {"realm_without_value", "Digest realm="},
        {"nonce_without_value", R"(Digest realm="x", nonce=)"},
        {"value_is_comma", R"(Digest realm=, nonce="n")"},
        {"escape_at_end", R"(Digest realm="a\)"},
        {"quote_inside_token", R"(Digest realm=a"b", nonce="n")"},
        {"param_before_scheme", R"(realm="x", Digest nonce="n")"},
        {"stray_quote", R"("Digest" realm="x")"},
        {"empty", ""},
        {"only_commas", " , ,, "},
        {"unknown_scheme_only", "Negotiate"},
        {"unknown_scheme_with_params", R"(Newauth realm="apps")"},
        {"equals_first", R"(=Digest realm="x")"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        CJXHTTPAuthen auth;
        EXPECT_EQ(ParseExact(auth, c.second), JX_ERR_CONTENT);
        EXPECT_EQ(auth.m_Scheme, kBasic);
        EXPECT_EQ(auth.m_Realm, nullptr);
        EXPECT_EQ(auth.m_Nonce, nullptr);
    }
    CJXHTTPAuthen auth;
    EXPECT_EQ(auth.ParseResponse(nullptr), JX_ERR_ARG);
}

// Every prefix of a good challenge is either read or refused, never read past.
TEST(HTTPAuthen, EveryTruncationIsSafe)
{
    for (const SChallengeCase& c : GoodChallenges()) {
        for (size_t cut = 0; cut < c.m_Text.size(); ++cut) {
            CJXHTTPAuthen auth;
            int32_t nRet = ParseExact(auth, c.m_Text.substr(0, cut));
            EXPECT_TRUE(nRet == 0 || nRet == JX_ERR_CONTENT) << c.m_Name << " cut " << cut << ": " << nRet;
            if (nRet != 0) {
                EXPECT_EQ(auth.m_Scheme, kBasic);
            }
        }
    }
}

TEST(HTTPAuthen, ValueAndTextLimits)
{
    const std::string atLimit(size_t(CJXHTTPAuthen::kMaxValueBytes), 'r');
    {
        CJXHTTPAuthen auth;
        EXPECT_EQ(ParseExact(auth, "Digest realm=\"" + atLimit + "\", nonce=\"n\""), 0);
        EXPECT_EQ(strlen(auth.m_Realm), size_t(CJXHTTPAuthen::kMaxValueBytes));
    }
    {
        CJXHTTPAuthen auth;
        EXPECT_EQ(ParseExact(auth, "Digest realm=\"" + atLimit + "r\", nonce=\"n\""), JX_ERR_CONTENT);
        EXPECT_EQ(ParseExact(auth, "Digest realm=r, nonce=" + atLimit + "n"), JX_ERR_CONTENT);
    }
    {
        // Escapes count once: 1024 escaped quotes decode to 1024 bytes.
        std::string escaped;
        for (int32_t i = 0; i < CJXHTTPAuthen::kMaxValueBytes; ++i) escaped += "\\\"";
        CJXHTTPAuthen auth;
        EXPECT_EQ(ParseExact(auth, "Digest realm=\"" + escaped + "\", nonce=\"n\""), 0);
        EXPECT_EQ(std::string(auth.m_Realm), std::string(size_t(CJXHTTPAuthen::kMaxValueBytes), '"'));
    }
    {
        std::string text = R"(Digest realm="r", nonce="n")";
        text += std::string(size_t(CJXHTTPAuthen::kMaxChallengeBytes) - text.size(), ' ');
        CJXHTTPAuthen auth;
        EXPECT_EQ(ParseExact(auth, text), 0);
        EXPECT_EQ(ParseExact(auth, text + " "), JX_ERR_CONTENT);
    }
}

TEST(HTTPAuthen, NewChallengeReplacesTheOldOne)
{
    CJXHTTPAuthen auth;
    ASSERT_EQ(auth.SetUser("admin", "secret"), 0);
    ASSERT_EQ(ParseExact(auth, R"(Digest realm="r1", nonce="n1", opaque="o1", qop="auth", stale=true)"), 0);
    auth.m_NonceCount = 5;
    ASSERT_EQ(ParseExact(auth, R"(Basic realm="b")"), 0);
    EXPECT_EQ(auth.m_Scheme, kBasic);
    EXPECT_STREQ(auth.m_Realm, "b");
    EXPECT_EQ(auth.m_Nonce, nullptr);
    EXPECT_EQ(auth.m_Opaque, nullptr);
    EXPECT_EQ(auth.m_Qop, nullptr);
    EXPECT_FALSE(auth.m_Stale);
    EXPECT_EQ(auth.m_NonceCount, 0u);
    ASSERT_EQ(ParseExact(auth, R"(Digest realm="r2", nonce="n2")"), 0);
    EXPECT_EQ(ParseExact(auth, R"(Digest realm="broken)"), JX_ERR_CONTENT);
    EXPECT_EQ(auth.m_Scheme, kBasic);      // the old challenge is gone, not half-kept
    EXPECT_EQ(auth.m_Realm, nullptr);
    EXPECT_STREQ(auth.m_User, "admin");    // credentials survive
    EXPECT_STREQ(auth.m_Password, "secret");
}

TEST(HTTPAuthen, SetUserKeepsCopiesAndResetForgetsAll)
{
    char user[] = "admin";
    char password[] = "p@ss:word";
    CJXHTTPAuthen auth;
    ASSERT_EQ(auth.SetUser(user, password), 0);
    user[0] = 'X';
    password[0] = 'X';
    EXPECT_STREQ(auth.m_User, "admin");
    EXPECT_STREQ(auth.m_Password, "p@ss:word");
    ASSERT_EQ(auth.SetUser("other", nullptr), 0);
    EXPECT_STREQ(auth.m_User, "other");
    EXPECT_EQ(auth.m_Password, nullptr);
    ASSERT_EQ(auth.SetUser(nullptr, ""), 0);
    EXPECT_EQ(auth.m_User, nullptr);
    EXPECT_STREQ(auth.m_Password, "");
    ASSERT_EQ(ParseExact(auth, R"(Digest realm="r", nonce="n")"), 0);
    auth.Reset();
    EXPECT_EQ(auth.m_Scheme, kBasic);
    EXPECT_EQ(auth.m_User, nullptr);
    EXPECT_EQ(auth.m_Password, nullptr);
    EXPECT_EQ(auth.m_Realm, nullptr);
    EXPECT_EQ(auth.m_Nonce, nullptr);
}

// A 401 with one challenge per line: the joined value still offers Digest.
TEST(HTTPAuthen, ChallengeLinesOfAResponse)
{
    const std::string text =
        "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\nWWW-Authenticate: Basic realm=\"IPC\"\r\n"
        "WWW-Authenticate: Digest realm=\"IPC\", nonce=\"5c4d3e\", stale=\"FALSE\"\r\n\r\n";
    CJXHTTPCommand cmd;
    ASSERT_EQ(cmd.ParseResponse(text.data(), int32_t(text.size())), int32_t(text.size()));
    CJXHTTPAuthen auth;
    ASSERT_EQ(auth.ParseResponse(cmd.m_WWWAuthenticate), 0);
    EXPECT_EQ(auth.m_Scheme, kDigest);
    EXPECT_STREQ(auth.m_Realm, "IPC");
    EXPECT_STREQ(auth.m_Nonce, "5c4d3e");
}

} // namespace
