// What `jxrtsp serve` reads from the network and from clips: its part of
// reading requests (bounds, CSeq, paths), Authorization headers (known answers
// from the HTTP authentication RFCs' examples), and JPEG headers (every truncation of
// a real picture, and pictures the payload cannot carry, among them Huffman
// tables other than the standard ones).
#include "JXBase.h"
#include "aac_adts.h"
#include "jpeg_packetizer.h"
#include "rtsp_server_auth.h"
#include "rtsp_server_request.h"
#include "serve_track.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The server's own part of reading a request (the reading itself is the base
// library's): its bounds, the CSeq every answer needs, whole, and a body
// taken only once all of it is there.
TEST(ServeRequest, Table)
{
    const std::string sLong(CRtspServerRequest::kMaxHeadBytes, 'a');
    std::string sManyHeaders = "OPTIONS * RTSP/1.0\r\nCSeq: 1\r\n";
    for (int32_t i = 0; i < CRtspServerRequest::kMaxHeaders; ++i) sManyHeaders += "X: y\r\n";
    sManyHeaders += "\r\n";
    const struct {
        const char* pName;
        std::string sText;
        int32_t nResult;
        int64_t nCSeq;   // for JX_OK and JX_ERR_CONTENT (the 400's CSeq)
        size_t nBody;
    } rows[] = {
        {"options", "OPTIONS * RTSP/1.0\r\nCSeq: 7\r\n\r\n", JX_OK, 7, 0},
        {"LF line ends", "OPTIONS * RTSP/1.0\nCSeq: 8\n\n", JX_OK, 8, 0},
        {"CSeq past 16 bits", "OPTIONS * RTSP/1.0\r\nCSeq: 70000\r\n\r\n", JX_OK, 70000, 0},
        {"body", "SET_PARAMETER * RTSP/1.0\r\nCSeq: 2\r\nContent-Length: 5\r\n\r\nabcde", JX_OK, 2, 5},
        {"body not yet all there", "SET_PARAMETER * RTSP/1.0\r\nCSeq: 2\r\nContent-Length: 9\r\n\r\nabc",
         JX_RTSP_NEED_MORE, 0, 0},
        {"head not ended", "OPTIONS * RTSP/1.0\r\nCSeq: 1\r\n", JX_RTSP_NEED_MORE, 0, 0},
        {"empty", "", JX_RTSP_NEED_MORE, 0, 0},
        {"head over the bound", "OPTIONS * RTSP/1.0\r\nX: " + sLong, JX_ERR_CONTENT, -1, 0},
        {"body over the bound", "SET_PARAMETER * RTSP/1.0\r\nCSeq: 3\r\nContent-Length: 16385\r\n\r\n",
         JX_ERR_CONTENT, 3, 0},
        {"chunked body", "SET_PARAMETER * RTSP/1.0\r\nCSeq: 3\r\nTransfer-Encoding: chunked\r\n\r\n",
         JX_ERR_CONTENT, 3, 0},
        {"no CSeq", "OPTIONS * RTSP/1.0\r\n\r\n", JX_ERR_CONTENT, -1, 0},
        {"CSeq with junk", "OPTIONS * RTSP/1.0\r\nCSeq: 4x\r\n\r\n", JX_ERR_CONTENT, -1, 0},
        {"CSeq past 18 digits", "OPTIONS * RTSP/1.0\r\nCSeq: 1234567890123456789\r\n\r\n", JX_ERR_CONTENT, -1, 0},
        {"no request line", "RTSP/1.0 200 OK\r\nCSeq: 5\r\n\r\n", JX_ERR_CONTENT, 5, 0},
        {"HTTP version", "OPTIONS * HTTP/1.0\r\nCSeq: 5\r\n\r\n", JX_ERR_CONTENT, 5, 0},
        {"two words", "OPTIONS *\r\nCSeq: 6\r\n\r\n", JX_ERR_CONTENT, 6, 0},
        {"control byte in the request line", "OPTIONS *\x01 RTSP/1.0\r\nCSeq: 6\r\n\r\n", JX_ERR_CONTENT, 6, 0},
        {"header without colon", "OPTIONS * RTSP/1.0\r\nCSeq: 9\r\nnocolon\r\n\r\n", JX_ERR_CONTENT, 9, 0},
        {"control byte in a header", "OPTIONS * RTSP/1.0\r\nCSeq: 9\r\nX: a\x01b\r\n\r\n", JX_ERR_CONTENT, 9, 0},
        {"NUL in a header", std::string("OPTIONS * RTSP/1.0\r\nCSeq: 9\r\nX: a\0b\r\n\r\n", 40), JX_ERR_CONTENT, 9, 0},
        {"empty header name", "OPTIONS * RTSP/1.0\r\nCSeq: 9\r\n: v\r\n\r\n", JX_ERR_CONTENT, 9, 0},
        {"too many headers", sManyHeaders, JX_ERR_CONTENT, 1, 0},
        {"negative length", "SET_PARAMETER * RTSP/1.0\r\nCSeq: 3\r\nContent-Length: -5\r\n\r\n", JX_ERR_CONTENT,
         3, 0},
    };
    for (const auto& row : rows) {
        CRtspServerRequest req;
        size_t nUsed = 0;
        EXPECT_EQ(row.nResult, req.Read(row.sText.data(), row.sText.size(), nUsed)) << row.pName;
        if (row.nResult == JX_RTSP_NEED_MORE) continue;
        EXPECT_EQ(row.nCSeq, req.m_RequestCSeq) << row.pName;
        if (row.nResult != JX_OK) continue;
        EXPECT_EQ(row.sText.size(), nUsed) << row.pName;
        EXPECT_EQ(row.nBody, size_t(req.m_Body.m_Length)) << row.pName;
    }
}

TEST(ServeRequest, HeadersTheServerKeeps)
{
    const std::string s = "SETUP rtsp://127.0.0.1/h264/trackID=0 RTSP/1.0\r\nCSeq: 3\r\nSession: \r\n"
                          "authorization: Digest username=\"u\"\r\n\r\n";
    CRtspServerRequest req;
    size_t nUsed = 0;
    ASSERT_EQ(JX_OK, req.Read(s.data(), s.size(), nUsed));
    EXPECT_STREQ("SETUP", req.m_Method);
    EXPECT_STREQ("Digest username=\"u\"", req.m_Authorization);
    EXPECT_TRUE(req.m_HasSession);   // an empty id is still a Session line, and a wrong one
    req.Reset();
    EXPECT_EQ(nullptr, req.m_Authorization);
    EXPECT_FALSE(req.m_HasSession);
    EXPECT_EQ(-1, req.m_RequestCSeq);
}

TEST(ServeRequest, UrlPath)
{
    const std::pair<const char*, const char*> rows[] = {
        {"rtsp://127.0.0.1:8554/h264", "/h264"},
        {"rtsp://127.0.0.1:8554/h264/trackID=0", "/h264/trackID=0"},
        {"rtsp://127.0.0.1:8554/h264+pcmu/", "/h264+pcmu"},
        {"RTSP://host/a?x=1", "/a"},
        {"rtspu://host/a", "/a"},
        {"rtsp://host", "/"},
        {"rtsp://host/", "/"},
        {"*", "*"},
        {"/plain", "/plain"},
        {"/plain?q", "/plain"},
        {"http://host/a", ""},
        {"x", ""},
    };
    for (const auto& row : rows) {
        const std::string s = std::string("DESCRIBE ") + row.first + " RTSP/1.0\r\nCSeq: 1\r\n\r\n";
        CRtspServerRequest req;
        size_t nUsed = 0;
        ASSERT_EQ(JX_OK, req.Read(s.data(), s.size(), nUsed)) << row.first;
        EXPECT_EQ(row.second, req.Path()) << row.first;
    }
}

// Digest answers from the examples of RFC 2617 (qop=auth) and RFC 2069 (no
// qop), whose responses were computed independently of this code.
TEST(ServeAuth, Table)
{
    const char kDigestFields[] = "username=\"Mufasa\", realm=\"testrealm@host.com\", "
                                 "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\"";
    const std::string sQop = std::string("Digest ") + kDigestFields +
                             ", qop=auth, nc=00000001, cnonce=\"0a4f113b\", response=\"6629fae49393a05397450978507c4ef1\"";
    const std::string sNoQop = std::string("Digest ") + kDigestFields + ", response=\"1949323746fe6a43ef61f9606e7febea\"";
    struct Row {
        const char* pName;
        CRtspServerAuth::Mode mode;
        const char* pPassword;
        std::string sHeader;   // empty: no header
        bool bPass;
    };
    const Row rows[] = {
        {"digest qop=auth", CRtspServerAuth::Mode::kDigest, "Circle Of Life", sQop, true},
        {"digest qop=auth, wrong password", CRtspServerAuth::Mode::kDigest, "Circle of Life", sQop, false},
        {"digest without qop", CRtspServerAuth::Mode::kDigest, "CircleOfLife", sNoQop, true},
        {"digest without qop, wrong password", CRtspServerAuth::Mode::kDigest, "Circle Of Life", sNoQop, false},
        {"digest, scheme in lower case", CRtspServerAuth::Mode::kDigest, "CircleOfLife", "digest" + sNoQop.substr(6),
         true},
        {"digest qop without cnonce", CRtspServerAuth::Mode::kDigest, "Circle Of Life",
         std::string("Digest ") + kDigestFields + ", qop=auth, nc=00000001, response=\"6629fae49393a05397450978507c4ef1\"",
         false},
        {"digest, other nonce", CRtspServerAuth::Mode::kDigest, "CircleOfLife",
         "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", nonce=\"00\", uri=\"/dir/index.html\", "
         "response=\"1949323746fe6a43ef61f9606e7febea\"",
         false},
        {"digest, unterminated quote", CRtspServerAuth::Mode::kDigest, "CircleOfLife",
         sNoQop.substr(0, sNoQop.size() - 1) + ", x=\"open", false},
        {"digest, repeated response", CRtspServerAuth::Mode::kDigest, "CircleOfLife",
         sNoQop + ", response=\"1949323746fe6a43ef61f9606e7febea\"", false},
        {"digest, SHA-256 asked", CRtspServerAuth::Mode::kDigest, "CircleOfLife", sNoQop + ", algorithm=SHA-256",
         false},
        {"basic given to digest", CRtspServerAuth::Mode::kDigest, "open sesame", "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==",
         false},
        {"no header", CRtspServerAuth::Mode::kDigest, "CircleOfLife", "", false},
        {"basic", CRtspServerAuth::Mode::kBasic, "open sesame", "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==", true},
        {"basic, wrong password", CRtspServerAuth::Mode::kBasic, "open sesamE", "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==",
         false},
        {"basic, not base64", CRtspServerAuth::Mode::kBasic, "open sesame", "Basic QWxh!ZGRp", false},
        {"basic, no credentials", CRtspServerAuth::Mode::kBasic, "open sesame", "Basic ", false},
        {"none", CRtspServerAuth::Mode::kNone, "", "", true},
    };
    for (const Row& row : rows) {
        CRtspServerAuth auth;
        const bool bBasic = row.mode == CRtspServerAuth::Mode::kBasic;
        auth.Setup(row.mode, bBasic ? "Aladdin" : "Mufasa", row.pPassword, "testrealm@host.com",
                   "dcd98b7102dd2f0e8b11d0f600bfb0c093");
        EXPECT_EQ(row.bPass, auth.Check("GET", row.sHeader.empty() ? nullptr : row.sHeader.c_str())) << row.pName;
    }
}

std::vector<uint8_t> FirstClipPicture()
{
    std::vector<uint8_t> data;
    FILE* pFile = fopen(JX_CLIP_DIR "/sample.mjpeg", "rb");
    if (pFile == nullptr) return data;
    uint8_t buf[65536];
    size_t n = 0;
    while ((n = fread(buf, 1, sizeof(buf), pFile)) > 0) data.insert(data.end(), buf, buf + n);
    fclose(pFile);
    JXJpegInfo info;
    std::string sWhy;
    if (JXJpegParse(data.data(), data.size(), info, sWhy) != JX_OK) return {};
    data.resize(info.nPictureLength);
    return data;
}

// Offset of the first marker m in the picture's headers, or 0.
size_t FindMarker(const std::vector<uint8_t>& jpeg, uint8_t m)
{
    for (size_t i = 2; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == m) return i;
    }
    return 0;
}

TEST(ServeJpeg, ClipPicture)
{
    const std::vector<uint8_t> jpeg = FirstClipPicture();
    ASSERT_FALSE(jpeg.empty()) << "sample.mjpeg missing or unreadable";
    JXJpegInfo info;
    std::string sWhy;
    ASSERT_EQ(JX_OK, JXJpegParse(jpeg.data(), jpeg.size(), info, sWhy)) << sWhy;
    EXPECT_EQ(640, info.nWidth);
    EXPECT_EQ(360, info.nHeight);
    EXPECT_EQ(1, info.nType);   // 4:2:0
    EXPECT_EQ(jpeg.size(), info.nPictureLength);
    EXPECT_EQ(jpeg.size() - 2, info.nScanOffset + info.nScanLength);   // up to the end marker
}

// Every prefix of a real picture is refused, never read past.
TEST(ServeJpeg, EveryTruncationIsRefused)
{
    const std::vector<uint8_t> jpeg = FirstClipPicture();
    ASSERT_FALSE(jpeg.empty());
    for (size_t n = 0; n < jpeg.size(); ++n) {
        std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + long(n));   // exact size: ASan sees overreads
        JXJpegInfo info;
        std::string sWhy;
        ASSERT_NE(JX_OK, JXJpegParse(cut.empty() ? nullptr : cut.data(), n, info, sWhy)) << "prefix " << n;
    }
}

TEST(ServeJpeg, PicturesThePayloadCannotCarry)
{
    const std::vector<uint8_t> jpeg = FirstClipPicture();
    ASSERT_FALSE(jpeg.empty());
    const size_t nSof = FindMarker(jpeg, 0xC0);
    const size_t nDqt = FindMarker(jpeg, 0xDB);
    const size_t nDht = FindMarker(jpeg, 0xC4);
    const size_t nScan = FindMarker(jpeg, 0xDA);
    ASSERT_NE(0u, nSof);
    ASSERT_NE(0u, nDqt);
    ASSERT_NE(0u, nDht);
    ASSERT_NE(0u, nScan);
    // SOF0 body: length(2) precision(1) height(2) width(2) count(1), then per
    // component id, sampling, table.
    const size_t nHeight = nSof + 5;
    const size_t nLumaSampling = nSof + 11;
    struct Row {
        const char* pName;
        size_t nAt;
        uint8_t nValue;
        int32_t nResult;
    };
    const Row rows[] = {
        {"progressive", nSof + 1, 0xC2, JX_ERR_UNSUPPORTED},
        {"arithmetic", nSof + 1, 0xC9, JX_ERR_UNSUPPORTED},
        {"12-bit samples", nSof + 4, 12, JX_ERR_UNSUPPORTED},
        {"4:4:4", nLumaSampling, 0x11, JX_ERR_UNSUPPORTED},
        {"4:1:1", nLumaSampling, 0x41, JX_ERR_UNSUPPORTED},
        {"height not a multiple of 8", nHeight + 1, uint8_t(jpeg[nHeight + 1] + 1), JX_ERR_UNSUPPORTED},
        {"width over 2040", nSof + 7, 0x08, JX_ERR_UNSUPPORTED},
        {"16-bit quantization table", nDqt + 4, uint8_t(0x10 | (jpeg[nDqt + 4] & 0x0F)), JX_ERR_UNSUPPORTED},
        {"table number out of range", nDqt + 4, 0x07, JX_ERR_CONTENT},
        {"header length past the end", nDqt + 2, 0xFF, JX_ERR_CONTENT},
        {"header length below 2", nDqt + 3, 0x01, JX_ERR_CONTENT},
        {"no start marker", 1, 0x00, JX_ERR_CONTENT},
        // DHT: length(2), class and number, 16 counts, values.
        {"Huffman value not the standard one", nDht + 21, 0x05, JX_ERR_UNSUPPORTED},
        {"Huffman table of an unknown number", nDht + 4, 0x03, JX_ERR_UNSUPPORTED},
        {"Huffman counts past the segment", nDht + 5, 0xFF, JX_ERR_CONTENT},
        // SOS: length(2), count, then per component id and table numbers.
        {"luminance scanned with table 1", nScan + 6, 0x11, JX_ERR_UNSUPPORTED},
        {"scan of one component", nScan + 4, 0x01, JX_ERR_UNSUPPORTED},
    };
    for (const Row& row : rows) {
        std::vector<uint8_t> bad = jpeg;
        if (row.nAt == nDqt + 3) bad[nDqt + 2] = 0;   // length 0x0001
        bad[row.nAt] = row.nValue;
        JXJpegInfo info;
        std::string sWhy;
        EXPECT_EQ(row.nResult, JXJpegParse(bad.data(), bad.size(), info, sWhy)) << row.pName << ": " << sWhy;
        EXPECT_FALSE(row.nResult != JX_OK && sWhy.empty()) << row.pName << ": no reason given";
    }

    // A restart interval (DRI) inserted before the scan.
    const size_t nSos = FindMarker(jpeg, 0xDA);
    ASSERT_NE(0u, nSos);
    std::vector<uint8_t> dri(jpeg.begin(), jpeg.begin() + long(nSos));
    const uint8_t kDri[] = {0xFF, 0xDD, 0x00, 0x04, 0x00, 0x10};
    dri.insert(dri.end(), kDri, kDri + sizeof(kDri));
    dri.insert(dri.end(), jpeg.begin() + long(nSos), jpeg.end());
    JXJpegInfo info;
    std::string sWhy;
    EXPECT_EQ(JX_ERR_UNSUPPORTED, JXJpegParse(dri.data(), dri.size(), info, sWhy));
    EXPECT_NE(std::string::npos, sWhy.find("DRI"));
}

// The AAC clip as serve sends it: one packet a frame, its AU header giving
// the unit's size, the config its ADTS headers tell; and the header a raw
// recording writes in front of each unit is the clip's own, byte for byte.
TEST(ServeAac, ClipFramesAndHeaders)
{
    std::vector<uint8_t> clip;
    FILE* pFile = fopen(JX_CLIP_DIR "/sample.aac", "rb");
    ASSERT_NE(pFile, nullptr);
    uint8_t buf[65536];
    for (size_t n = 0; (n = fread(buf, 1, sizeof(buf), pFile)) > 0;) clip.insert(clip.end(), buf, buf + n);
    fclose(pFile);
    CServeTrack track;
    std::string sWhy;
    ASSERT_EQ(track.LoadAac(JX_CLIP_DIR "/sample.aac", sWhy), JX_OK) << sWhy;
    EXPECT_NE(track.m_Fmtp.find("mode=AAC-hbr;"), std::string::npos) << track.m_Fmtp;
    const uint8_t kConfig[] = {0x14, 0x08};   // AAC LC, 16 kHz, mono
    JXAdtsFormat config;
    ASSERT_TRUE(JXAdtsFromConfig(kConfig, sizeof(kConfig), config));
    EXPECT_NE(track.m_Fmtp.find(";config=1408"), std::string::npos) << track.m_Fmtp;
    EXPECT_EQ(track.Ticks(3), 3u * 1024);
    EXPECT_EQ(track.DueMs(125), 8000u);   // 125 frames of 64 ms
    size_t nAt = 0;
    size_t nFrames = 0;
    while (nAt < clip.size()) {
        JXAdtsFormat format;
        size_t nHead = 0, nFrame = 0;
        ASSERT_TRUE(JXAdtsRead(clip.data() + nAt, clip.size() - nAt, nHead, nFrame, format)) << "at " << nAt;
        uint8_t header[kAdtsHeaderBytes];
        JXAdtsHeader(config, nFrame - nHead, header);
        EXPECT_EQ(std::vector<uint8_t>(header, header + nHead),
                  std::vector<uint8_t>(clip.begin() + long(nAt), clip.begin() + long(nAt + nHead)));
        ASSERT_LT(nFrames, track.m_Packets.size());
        const JXServePacket& packet = track.m_Packets[nFrames];
        const uint8_t* pPayload = track.PacketBytes(packet) + 4 + 12;   // framing, RTP header
        const size_t nUnit = nFrame - nHead;
        EXPECT_EQ(size_t(packet.nLength), 4 + 12 + 4 + nUnit);
        EXPECT_EQ((size_t(pPayload[2]) << 5) | (pPayload[3] >> 3), nUnit);   // 13-bit AU-size
        EXPECT_EQ(0, memcmp(pPayload + 4, clip.data() + nAt + nHead, nUnit));
        nAt += nFrame;
        ++nFrames;
    }
    EXPECT_EQ(nFrames, track.m_Frames.size());
}

// What ADTS can carry of a config, and the frames that are refused.
TEST(ServeAac, AdtsTable)
{
    const struct {
        const char* pWhat;
        std::vector<uint8_t> config;
        bool bCarried;
        uint8_t nProfile, nRateIndex, nChannels;
        uint16_t nFrameSamples;
    } rows[] = {
        {"LC 48 kHz stereo", {0x11, 0x90}, true, 1, 3, 2, 1024},
        {"LC 16 kHz, 960-sample frames", {0x14, 0x0C}, true, 1, 8, 1, 960},
        {"SBR over LC at 24 kHz", {0x2B, 0x11, 0x88, 0x00}, true, 1, 6, 2, 1024},
        {"a PCE layout", {0x11, 0x80, 0x04, 0xC8}, false, 0, 0, 0, 0},
        {"a rate given outright", {0x17, 0x80, 0x3E, 0x80, 0x08}, false, 0, 0, 0, 0},
        {"ER AAC LD", {0xB9, 0x88}, false, 0, 0, 0, 0},
        {"cut short", {0x14}, false, 0, 0, 0, 0},
    };
    for (const auto& row : rows) {
        JXAdtsFormat format;
        EXPECT_EQ(JXAdtsFromConfig(row.config.data(), row.config.size(), format), row.bCarried) << row.pWhat;
        if (!row.bCarried) continue;
        EXPECT_EQ(format.nProfile, row.nProfile) << row.pWhat;
        EXPECT_EQ(format.nRateIndex, row.nRateIndex) << row.pWhat;
        EXPECT_EQ(format.nChannelConfig, row.nChannels) << row.pWhat;
        EXPECT_EQ(format.nFrameSamples, row.nFrameSamples) << row.pWhat;
        uint8_t config[2];
        JXAdtsConfig(format, config);
        JXAdtsFormat again;
        EXPECT_TRUE(JXAdtsFromConfig(config, 2, again)) << row.pWhat;
        EXPECT_EQ(again.nRate, format.nRate) << row.pWhat;
    }
    const uint8_t kFrame[] = {0xFF, 0xF1, 0x60, 0x40, 0x01, 0x1F, 0xFC, 0xAA};   // 8 bytes, one of payload
    const struct {
        const char* pWhat;
        size_t nLen;
        uint8_t nByte, nValue;   // byte nByte set to nValue
        bool bRead;
    } frames[] = {
        {"whole", 8, 0, 0xFF, true},
        {"cut short", 7, 0, 0xFF, false},
        {"no sync word", 8, 0, 0xFE, false},
        {"layer 1", 8, 1, 0xF3, false},
        {"a reserved rate", 8, 2, 0x74, false},
    };
    for (const auto& f : frames) {
        uint8_t copy[sizeof(kFrame)];
        memcpy(copy, kFrame, sizeof(copy));
        copy[f.nByte] = f.nValue;
        size_t nHead = 0, nFrame = 0;
        JXAdtsFormat format;
        EXPECT_EQ(JXAdtsRead(copy, f.nLen, nHead, nFrame, format), f.bRead) << f.pWhat;
        if (f.bRead) {
            EXPECT_EQ(nFrame, sizeof(kFrame)) << f.pWhat;
        }
    }
}

}   // namespace
