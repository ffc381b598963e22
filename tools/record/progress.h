// What record shows while it runs: on a terminal, a block of lines redrawn
// once a second (elapsed time and bytes written, then a line a stream);
// elsewhere a line for each state report; and, with --progress, a JSON line a
// stream once a second. Log lines shown on the same terminal are written
// above the block, never over it.
#pragma once

#include "record_stream.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class IJXStream;

struct JXRecording {
    std::unique_ptr<CRecordStream> pRecord;
    IJXStream* pStream = nullptr;
    std::string sName;
    uint64_t nLastBytes = 0;   // at the last progress line
    double fKbits = 0.0;
    std::string sGaveUp;   // the retry policy ended the stream: why
};

class CProgress {
public:
    // bDraw: the block on standard error (a terminal); else state lines,
    // unless bQuiet (-q: neither). pJson: where the JSON lines go (null: none).
    CProgress(std::vector<JXRecording>& streams, bool bDraw, bool bQuiet, FILE* pJson);

    // Once a tick: state lines, and once a second the block and the JSON lines.
    void Tick(uint64_t nNowMs);
    // Reports that came since the last tick, when state lines are what is
    // shown; else the block once more; and the last JSON lines.
    void Finish();
    // The module's log on the terminal the block is drawn on (pUser: a CProgress).
    static void LogSink(const char* pLine, void* pUser);

private:
    void PrintStateChanges();
    // The bit rates over the last fSeconds, and the JSON lines.
    void Sample(uint64_t nNowMs, double fSeconds);
    void Draw(uint64_t nNowMs);
    // Moves up over the block and clears it; under m_DrawMutex.
    void Erase();

    std::vector<JXRecording>& m_Streams;
    bool m_Draw;
    bool m_Lines;   // state lines
    FILE* m_Json;
    uint64_t m_StartMs = 0;
    uint64_t m_LastMs = 0;
    std::mutex m_DrawMutex;    // the block and log lines, from any thread
    size_t m_DrawnLines = 0;   // lines of the block on the screen now
    std::atomic<bool> m_Redraw{false};   // a log line took the block's place
};
