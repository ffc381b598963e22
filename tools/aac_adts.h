// AAC access units in ADTS frames: the header a raw recording puts in front
// of each unit (from the stream's AudioSpecificConfig), and the reading of
// the ADTS clip that serve streams (each frame's unit and the config).
#pragma once

#include <cstddef>
#include <cstdint>

// What an ADTS header says of the stream.
struct JXAdtsFormat {
    uint8_t nProfile = 0;         // object type less 1: 1 is AAC LC
    uint8_t nRateIndex = 0;       // samplingFrequencyIndex
    uint8_t nChannelConfig = 0;   // 1..7
    uint32_t nRate = 0;           // samples a second of the index
    uint16_t nChannels = 0;       // of the channel configuration
    uint16_t nFrameSamples = 1024;   // core samples a unit: 960 when a config says so
};

// Header bytes written, and the largest unit one frame can carry (its
// 13-bit length counts the header).
constexpr size_t kAdtsHeaderBytes = 7;
constexpr size_t kAdtsMaxUnit = 8191 - kAdtsHeaderBytes;

// The ADTS form of a config: false when ADTS cannot carry it (an object type
// above 4, a rate given outright, a channel layout of its own). With SBR or
// PS signalled the core's type and rate are taken: decoders find them again
// in the units, and nRate is the core's (a unit lasts nFrameSamples / nRate).
bool JXAdtsFromConfig(const uint8_t* pConfig, size_t nLen, JXAdtsFormat& out);
// The 7 header bytes for a unit of nUnit bytes (at most kAdtsMaxUnit).
void JXAdtsHeader(const JXAdtsFormat& format, size_t nUnit, uint8_t* pOut);
// One ADTS frame at the front of the n bytes at p: the header length (7, or
// 9 with a CRC), the frame length, and the format. False when the bytes do
// not begin with a whole frame.
bool JXAdtsRead(const uint8_t* p, size_t n, size_t& nHead, size_t& nFrame, JXAdtsFormat& out);
// The 2-byte AudioSpecificConfig of a format.
void JXAdtsConfig(const JXAdtsFormat& format, uint8_t* pOut);
