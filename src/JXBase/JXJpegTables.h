// The example Huffman tables of the JPEG standard (ITU-T T.81 Annex K.3),
// which RTP JPEG senders and receivers take as given: a receiver rebuilds
// every picture's header with them, and a sender can only send pictures coded
// with them.
#pragma once

#include "JXBaseDefs.h"

// Code counts per length in a DHT segment.
constexpr int32_t kJXJpegHuffmanCounts = 16;

struct JXJpegHuffmanTable {
    uint8_t nClassId;   // class in the high nibble (0 DC, 1 AC), table number in the low one
    const uint8_t* pCounts;   // kJXJpegHuffmanCounts code counts, one per length
    const uint8_t* pValues;
    uint8_t nValues;
};

// The four tables in the order a header carries them: DC luminance (0x00), AC
// luminance (0x10), DC chrominance (0x01), AC chrominance (0x11). nCount gets 4.
JXBASE_API const JXJpegHuffmanTable* JXJpegStandardHuffman(int32_t& nCount);
