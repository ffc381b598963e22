// A frame's time as milliseconds since 1970, for the writers' timelines and the
// recorder's count of missing frames.
#pragma once

#include <cstdint>

class CPacket;

// Milliseconds from 1970 of a frame's calendar time (the module stamps local
// time; only differences matter).
int64_t FrameTimeMs(const CPacket& frame);

// Frames missing between two video frames nGapMs apart at fFps frames a
// second: a gap of at least one and a half intervals, and more than an
// interval and a late frame's 50 ms, holds the frames that would have filled
// it. 0 for a normal, shorter or backward step.
uint64_t FramesMissing(int64_t nGapMs, double fFps);
