// Reference counting and the default bodies of the stream interface. A stream
// kind overrides what it supports; everything else answers "not supported".
#include "JXStream.h"

int IJXInterface::Acquire()
{
    m_Mutex.Enter(CJXMutex::kInfinite);
    int nCount = ++m_RefCount;
    m_Mutex.Leave();
    return nCount;
}

int IJXInterface::Release()
{
    // The count never destroys anything: the stream kinds decide what Release ends.
    m_Mutex.Enter(CJXMutex::kInfinite);
    int nCount = --m_RefCount;
    m_Mutex.Leave();
    return nCount;
}

IJXStream::IJXStream() : m_Signal(0) {}

IJXStream::~IJXStream() = default;

const char* IJXStream::GetName()
{
    return "IJXStream";
}

int IJXStream::Open(CJXUrl const& url)
{
    m_Url = url;
    return JX_OK;
}

int IJXStream::Open(char const* pUrl)
{
    // A URL that cannot be read is reported here rather than at Start.
    return m_Url.Setup(pUrl);
}

int IJXStream::Start()
{
    return JX_OK;
}
int IJXStream::Stop()
{
    return JX_OK;
}
int IJXStream::Close()
{
    return JX_OK;
}

int IJXStream::Attach(CJXObject* pObject, JXSignalFunc pFunc)
{
    return m_Signal.Attach(pObject, pFunc);
}
int IJXStream::Detach(CJXObject* pObject, JXSignalFunc pFunc)
{
    return m_Signal.Detach(pObject, pFunc);
}

int IJXStream::GetBits()
{
    return 0;
}
int IJXStream::GetMediaDesc(CJXMediaDesc*&)
{
    return JX_ERR_UNSUPPORTED;
}

int IJXStream::GetLastIFrame(CPacket*& pPacket)
{
    pPacket = nullptr;
    return JX_ERR_UNSUPPORTED;
}

int IJXStream::SwitchStream(int)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::SetKey(const char*, const char*, const char*)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::MakeKeyFrame()
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::SetBitrate(unsigned long long)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::Pause()
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::Resume()
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::SetPlayBackMode(int, int)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::SetPlayBackSpeed(int, int)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::Transparent(int, void*, unsigned int, void*, unsigned int)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::SetFisheyePos(tagPOINT)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::PTZControl(int, void*, unsigned int, void*, unsigned int, void*, unsigned int)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::Seek(CJXTime const*)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::Seek(unsigned int)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::IsPause()
{
    return 0;
}
int IJXStream::Skip(int)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::SetDirection(int)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::SetSkipMode(int)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::OnProgress(unsigned long, unsigned long)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::GetFileTotalFrames(unsigned long long&)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::SetPlaybackPos(float)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::SetPlaybackPos(unsigned long)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::IsIndexCreated()
{
    return 0;
}
int IJXStream::SetLocateFrame(unsigned long)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::GetLocateFrame(CPacket*&)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::Read(CPacket*&)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::GetRecvTotalFrame(unsigned long long&)
{
    return JX_ERR_UNSUPPORTED;
}
int IJXStream::GetStatistics(CJXStreamStats&)
{
    return JX_ERR_UNSUPPORTED;
}

int IJXStream::GetLastFailure(CJXStreamFailure&)
{
    return JX_ERR_UNSUPPORTED;
}
