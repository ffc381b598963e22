// A frame's time as milliseconds since 1970, for the Matroska writer's
// timestamps.
#pragma once

#include <cstdint>

class CPacket;

// Milliseconds from 1970 of a frame's calendar time (the module stamps local
// time; only differences matter).
int64_t FrameTimeMs(const CPacket& frame);
