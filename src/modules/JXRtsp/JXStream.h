// The host's view of a stream: reference counting (IJXInterface) and the
// stream operations (IJXStream). Hosts call through the virtual slots, so the
// order of the declarations below is part of the interface and must not change.
#pragma once

#include "JXRtspDefs.h"

// Reception counts of one media stream (video or audio), summed over every
// session since the stream object was made.
struct CJXStreamMediaStats {
    uint64_t m_PacketsReceived = 0;   // RTP packets of the stream's payload type and source
    uint64_t m_PacketsLost = 0;       // missing from the sequence numbers (reordered ones are not lost)
    uint64_t m_FramesDelivered = 0;   // frames handed to the subscribers
    uint64_t m_FramesDropped = 0;     // frames begun but not delivered (loss, waiting for a key frame)
    double m_JitterMs = 0.0;          // interarrival jitter of the current session
};

struct CJXStreamStats {
    CJXStreamMediaStats m_Video;
    CJXStreamMediaStats m_Audio;
};

// Where a session attempt failed (CJXStreamFailure::m_Phase).
enum : int32_t {
    JXRTSP_PHASE_NONE = 0,         // no failure since the stream object was made
    JXRTSP_PHASE_CONNECTING = 1,   // the TCP connection (name lookup included)
    JXRTSP_PHASE_DESCRIBING = 2,   // DESCRIBE and its answer
    JXRTSP_PHASE_SETTING_UP = 3,   // SETUP and its answer
    JXRTSP_PHASE_PLAY = 4,         // PLAY and its answer
    JXRTSP_PHASE_KEEP_ALIVE = 5,   // a keep-alive request and its answer while playing
    JXRTSP_PHASE_RECEIVING = 6,    // playing: the media stopped or the connection broke
};

// What ended it (CJXStreamFailure::m_Cause).
enum : int32_t {
    JXRTSP_CAUSE_NONE = 0,
    JXRTSP_CAUSE_STATUS = 1,     // the server answered with an error status (m_Status)
    JXRTSP_CAUSE_AUTH = 2,       // the server refused the credentials, or asked for some there are none of
    JXRTSP_CAUSE_NETWORK = 3,    // the connection failed or broke (m_SysError: the system's number)
    JXRTSP_CAUSE_HOST = 4,       // the host name gave no address
    JXRTSP_CAUSE_TIMEOUT = 5,    // no answer, or no media, in time
    JXRTSP_CAUSE_NOT_RTSP = 6,   // the peer does not speak RTSP (an HTTP server, another service)
    JXRTSP_CAUSE_CONTENT = 7,    // an answer the stream cannot use (malformed, no playable media)
    JXRTSP_CAUSE_OTHER = 8,
};

// Why the last session attempt of a stream failed, in codes and in words.
// Plain data: hosts copy it with GetLastFailure.
struct CJXStreamFailure {
    static constexpr size_t kReasonBytes = 65;   // 64 printable bytes and a NUL
    static constexpr size_t kTextBytes = 128;

    int32_t m_Phase = JXRTSP_PHASE_NONE;
    int32_t m_Cause = JXRTSP_CAUSE_NONE;
    int32_t m_Status = 0;               // the status code of the answer that ended the attempt; 0 when none did
    int32_t m_SysError = 0;             // the system's error number of a network failure; 0 when none
    uint32_t m_Failures = 0;            // failed attempts in a row: 0 once the stream plays again
    uint32_t m_Old = 0;                 // 1: the stream has played since this failure
    char m_Reason[kReasonBytes] = {};   // the answer's reason phrase, or the cause in words
    char m_Text[kTextBytes] = {};       // the whole in words: "DESCRIBE: 404 Not Found"
};

class JXRTSP_API IJXInterface : public CJXObject {
public:
    IJXInterface() = default;
    ~IJXInterface() override = default;
    IJXInterface(const IJXInterface&) = delete;
    IJXInterface& operator=(const IJXInterface&) = delete;

    // Count + 1 / - 1 under the mutex; the new count. Release never deletes.
    virtual int Acquire();
    virtual int Release();
    virtual const char* GetName() = 0;
    virtual const char* GetProtocol() = 0;

protected:
    CJXMutex m_Mutex;
    int32_t m_RefCount = 1;
};

class JXRTSP_API IJXStream : public IJXInterface {
public:
    IJXStream();
    ~IJXStream() override;

    const char* GetName() override;
    virtual int Open(CJXUrl const& url);
    virtual int Open(char const* pUrl);
    virtual int Start();
    virtual int Stop();
    virtual int Close();
    virtual int Attach(CJXObject* pObject, JXSignalFunc pFunc);
    virtual int Detach(CJXObject* pObject, JXSignalFunc pFunc);
    virtual int GetBits();
    virtual int GetMediaDesc(CJXMediaDesc*& pDesc);
    virtual int GetLastIFrame(CPacket*& pPacket);
    virtual int SwitchStream(int nStream);
    virtual int SetKey(const char* p1, const char* p2, const char* p3);
    virtual int MakeKeyFrame();
    virtual int SetBitrate(unsigned long long nBitrate);
    virtual int Pause();
    virtual int Resume();
    virtual int SetPlayBackMode(int nMode, int nValue);
    virtual int SetPlayBackSpeed(int nSpeed, int nValue);
    virtual int Transparent(int nCmd, void* pIn, unsigned int nIn, void* pOut, unsigned int nOut);
    virtual int SetFisheyePos(tagPOINT pt);
    virtual int PTZControl(int nCmd, void* p1, unsigned int n1, void* p2, unsigned int n2, void* p3, unsigned int n3);
    virtual int Seek(CJXTime const* pTime);
    virtual int Seek(unsigned int nPos);
    virtual int IsPause();
    virtual int Skip(int nFrames);
    virtual int SetDirection(int nDirection);
    virtual int SetSkipMode(int nMode);
    virtual int OnProgress(unsigned long nPos, unsigned long nTotal);
    virtual int GetFileTotalFrames(unsigned long long& nFrames);
    virtual int SetPlaybackPos(float fPos);
    virtual int SetPlaybackPos(unsigned long nPos);
    virtual int IsIndexCreated();
    virtual int SetLocateFrame(unsigned long nFrame);
    virtual int GetLocateFrame(CPacket*& pPacket);
    virtual int Read(CPacket*& pPacket);
    virtual int GetRecvTotalFrame(unsigned long long& nFrames);
    // Appended after the slots hosts already know, so they see no change.
    // Reception counts; JX_ERR_UNSUPPORTED in the base.
    virtual int GetStatistics(CJXStreamStats& stats);
    // Why the last attempt failed; kept through the retry delay and marked
    // old once the stream plays again. JX_ERR_UNSUPPORTED in the base.
    virtual int GetLastFailure(CJXStreamFailure& failure);

protected:
    CJXUrl m_Url;
    IJXSignal m_Signal;
    CJXMutex m_Mutex2;        // unused by this module, kept for the layout hosts know
    int64_t m_Reserved = 0;   // likewise
};
