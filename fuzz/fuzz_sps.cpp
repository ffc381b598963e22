// Parameter-set and picture-header readers on arbitrary bytes: the H.264 and
// H.265 SPS readers, the JPEG size reader, the heads, and CJXMediaDesc::Setup
// of an arbitrary frame. Aborts on a result that breaks the readers' promises.
#include "JXH265Head.h"
#include "JXMediaDesc.h"
#include "JXPacket.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Check(bool bOk)
{
    if (!bOk) abort();
}

void CheckSps(int32_t nRet, const JXSpsInfo& info)
{
    Check(nRet == JX_OK || nRet == JX_ERR_CONTENT);
    if (nRet == JX_OK) Check(info.nWidth != 0 && info.nHeight != 0 && info.fFPS >= 0.0f && info.fFPS <= 1000.0f);
}

// Feed one set to a head and check that WriteHead writes what GetHeadSize says.
void CheckHead(CJXMediaHead& head, uint16_t nHeader, const uint8_t* p, int32_t n, uint16_t nFlags)
{
    head.SetNAL(nHeader, p, n);
    int32_t nSize = head.GetHeadSize(nFlags);
    Check(nSize >= 0);
    std::vector<uint8_t> out(static_cast<size_t>(nSize) + 1, 0xA5);
    Check(head.WriteHead(out.data(), nFlags) == nSize);
    Check(out[static_cast<size_t>(nSize)] == 0xA5);
    if (head.IsReady()) {
        const CJXVideoHead& video = static_cast<const CJXVideoHead&>(head);
        Check(video.m_Width != 0 && video.m_Height != 0);
    }
}

const uint8_t kFrameTypes[] = {JX_FRAME_VIDEO_KEY, JX_FRAME_JPEG, JX_FRAME_AUDIO, JX_FRAME_VIDEO, JX_FRAME_MARK_VI};

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize > 1 << 16) return 0;
    int32_t n = static_cast<int32_t>(nSize);

    JXSpsInfo info;
    CheckSps(JXParseH264SPS(pData, n, &info), info);
    JXSpsInfo info265;
    CheckSps(JXParseH265SPS(pData, n, &info265), info265);
    uint16_t nWidth = 0;
    uint16_t nHeight = 0;
    int32_t nRet = JXParseJpegSize(pData, n, &nWidth, &nHeight);
    Check(nRet == JX_OK || nRet == JX_ERR_CONTENT);
    Check(nRet != JX_OK || (nWidth != 0 && nHeight != 0));

    if (nSize < 3) return 0;
    // Heads: the first two bytes as the header, the rest as the set.
    static CJXH264Head s_Head264;
    static CJXH265Head s_Head265;
    uint16_t nFlags = static_cast<uint16_t>((pData[0] & 0x07) << 8);
    CheckHead(s_Head264, pData[0], pData + 1, n - 1, nFlags);
    CheckHead(s_Head265, static_cast<uint16_t>((pData[0] << 8) | pData[1]), pData + 2, n - 2, nFlags);

    // A frame: type and codec from the first two bytes, the rest as payload.
    CPacket* pPacket = CPacket::Acquire(n - 2 + CPacket::kFrameHead);
    if (pPacket == nullptr) return 0;
    pPacket->FrameSetType(kFrameTypes[pData[0] % sizeof(kFrameTypes)]);
    pPacket->FrameSetCodec(pData[1]);
    memcpy(pPacket->FrameGetData(), pData + 2, nSize - 2);
    pPacket->FrameSetLength(static_cast<uint32_t>(n - 2));
    CJXMediaDesc* pDesc = CJXMediaDesc::Create(1);
    if (pDesc != nullptr) {
        nRet = pDesc->Setup(pPacket);
        Check(nRet == JX_OK || nRet == JX_ERR_CONTENT || nRet == JX_ERR_ARG);
        if (nRet == JX_OK && pDesc->m_Video != nullptr)
            Check(pDesc->m_Video->nWidth != 0 && pDesc->m_Video->nHeight != 0);
        CJXMediaDesc* pCopy = pDesc->Clone();
        if (pCopy != nullptr) pCopy->Release();
        pDesc->Release();
    }
    pPacket->Release();
    return 0;
}
