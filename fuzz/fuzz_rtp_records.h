// The input of the depacketizer fuzz targets: records [2-byte big-endian
// length][RTP packet]. A length past the input takes what is left.
#pragma once

#include "rtpmedia.h"
#include "rtpparser.h"

#include <cstdlib>
#include <cstring>

// Feeds the records from nPos on to each of the nMedia depacketizers: every
// packet as an exact heap copy (so that a read past it is caught), through
// the RTP header parser; after each packet a depacketizer's invariants must
// hold. *pFed, when given, counts the bytes of the records before their
// packet is fed.
inline void FeedRtpRecords(const uint8_t* pData, size_t nSize, size_t nPos, CRTPMedia* const* pMedia, size_t nMedia,
                           uint64_t* pFed = nullptr)
{
    while (nSize - nPos >= 2) {
        const size_t nLen = (static_cast<size_t>(pData[nPos]) << 8) | pData[nPos + 1];
        nPos += 2;
        const size_t nTake = nLen < nSize - nPos ? nLen : nSize - nPos;
        uint8_t* pCopy = static_cast<uint8_t*>(malloc(nTake > 0 ? nTake : 1));
        if (pCopy == nullptr) {
            return;
        }
        memcpy(pCopy, pData + nPos, nTake);
        nPos += nTake;
        if (pFed != nullptr) {
            *pFed += nTake;
        }
        for (size_t i = 0; i < nMedia; ++i) {
            CRTPParser rtp;
            if (rtp.Setup(pCopy, static_cast<uint32_t>(nTake)) == JX_OK) {
                pMedia[i]->Receive(rtp);
            }
            if (pMedia[i]->CheckInvariants() != JX_OK) {
                abort();
            }
        }
        free(pCopy);
    }
}
