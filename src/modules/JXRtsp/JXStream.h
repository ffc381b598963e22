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

protected:
    CJXUrl m_Url;
    IJXSignal m_Signal;
    CJXMutex m_Mutex2;        // unused by this module, kept for the layout hosts know
    int64_t m_Reserved = 0;   // likewise
};
