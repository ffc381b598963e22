// The module as a Windows host uses it: JXRtsp.dll loaded from beside the
// program with LoadLibrary, the entry points found by their plain C names,
// the function table filled (its entries the exports of those names) and a
// stream driven through its virtual slots up to the DESCRIBE it sends to a
// server on loopback. The DLLs import nothing from the compiler's runtime
// DLLs, so that they need nothing beside them.
#include "jxrtsp.h"
#include "scripted_server.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int32_t kWaitMs = 3000;

std::string ProgramDir()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::string();
    std::string dir(path, n);
    size_t slash = dir.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
}

// A DLL loaded by full path, freed at the end of the scope.
class CLoadedModule {
public:
    explicit CLoadedModule(const char* pName)
    {
        m_Path = ProgramDir() + pName;
        m_Module = LoadLibraryA(m_Path.c_str());
    }
    ~CLoadedModule()
    {
        if (m_Module != nullptr) FreeLibrary(m_Module);
    }
    CLoadedModule(const CLoadedModule&) = delete;
    CLoadedModule& operator=(const CLoadedModule&) = delete;

    HMODULE Get() const { return m_Module; }
    const std::string& Path() const { return m_Path; }
    template <typename T>
    T Find(const char* pName) const
    {
        return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(m_Module, pName)));
    }

private:
    std::string m_Path;
    HMODULE m_Module = nullptr;
};

// Names of the DLLs a loaded image imports, read from its import directory.
std::vector<std::string> ImportedDlls(HMODULE hModule)
{
    std::vector<std::string> names;
    const BYTE* pBase = reinterpret_cast<const BYTE*>(hModule);
    const IMAGE_DOS_HEADER* pDos = reinterpret_cast<const IMAGE_DOS_HEADER*>(pBase);
    if (pDos->e_magic != IMAGE_DOS_SIGNATURE) return names;
    const IMAGE_NT_HEADERS64* pNt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(pBase + pDos->e_lfanew);
    if (pNt->Signature != IMAGE_NT_SIGNATURE || pNt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        return names;
    const IMAGE_DATA_DIRECTORY& dir = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return names;
    const IMAGE_IMPORT_DESCRIPTOR* pDesc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(pBase + dir.VirtualAddress);
    for (; pDesc->Name != 0; ++pDesc) {
        std::string name(reinterpret_cast<const char*>(pBase + pDesc->Name));
        for (char& c : name)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        names.push_back(name);
    }
    return names;
}

bool IsCompilerRuntime(const std::string& name)
{
    static const char* const kRuntimes[] = {"libgcc", "libstdc++", "libwinpthread"};
    for (const char* pPrefix : kRuntimes) {
        if (name.compare(0, strlen(pPrefix), pPrefix) == 0) return true;
    }
    return false;
}

class WindowsHost : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(JXNetStartup(), 0); }
    void TearDown() override { JXNetCleanup(); }
};

TEST_F(WindowsHost, FunctionTableDrivesAStream)
{
    CLoadedModule module("JXRtsp.dll");
    ASSERT_NE(module.Get(), nullptr) << module.Path() << ": error " << GetLastError();
    auto pGetAPI = module.Find<JXRTSPGetAPIFunc>("JXRTSPGetAPI");
    ASSERT_NE(pGetAPI, nullptr);

    EXPECT_EQ(pGetAPI(nullptr), JX_ERR_ARG);
    int sentinel = 0;
    void* table[JXRTSP_API_COUNT] = {nullptr, nullptr, &sentinel, nullptr};
    ASSERT_EQ(pGetAPI(table), 0);
    EXPECT_EQ(table[JXRTSP_API_RESERVED], &sentinel);
    EXPECT_EQ(table[JXRTSP_API_INITIALIZE], module.Find<void*>("JXRTSPInitialize"));
    EXPECT_EQ(table[JXRTSP_API_INVALIDATE], module.Find<void*>("JXRTSPInvalidate"));
    EXPECT_EQ(table[JXRTSP_API_GETINTERFACE], module.Find<void*>("JXRTSPGetInterface"));

    auto pInitialize = reinterpret_cast<JXRTSPInitializeFunc>(table[JXRTSP_API_INITIALIZE]);
    auto pInvalidate = reinterpret_cast<JXRTSPInvalidateFunc>(table[JXRTSP_API_INVALIDATE]);
    auto pGetInterface = reinterpret_cast<JXRTSPGetInterfaceFunc>(table[JXRTSP_API_GETINTERFACE]);
    ASSERT_EQ(pInitialize(), 0);

    EXPECT_EQ(pGetInterface("IJXStream", "http://127.0.0.1/x"), nullptr);
    EXPECT_EQ(pGetInterface("ijxstream", "rtsp://127.0.0.1/x"), nullptr);

    IJXStream* pStream = pGetInterface("IJXStream", "rtsp://127.0.0.1/x");
    ASSERT_NE(pStream, nullptr);
    EXPECT_STREQ(pStream->GetName(), "IJXStream");
    EXPECT_STREQ(pStream->GetProtocol(), "rtsp");
    EXPECT_EQ(pStream->Acquire(), 2);
    EXPECT_EQ(pStream->Seek(5u), JX_ERR_UNSUPPORTED);
    CPacket* pFrame = reinterpret_cast<CPacket*>(&sentinel);
    EXPECT_EQ(pStream->GetLastIFrame(pFrame), JX_ERR_STATE);
    EXPECT_EQ(pFrame, nullptr);

    // Started against a server on loopback, the stream connects on the
    // module's worker thread and sends DESCRIBE for the URL it was opened with.
    CScriptedServer srv;
    srv.Script().Accept().Expect("DESCRIBE", ExpectAll({ExpectUrl(srv.Url("/x")), ExpectCSeq(1)}));
    EXPECT_EQ(pStream->Open(srv.Url("/x").c_str()), 0);
    EXPECT_EQ(pStream->Start(), 0);
    ASSERT_TRUE(srv.WaitDone(kWaitMs));
    EXPECT_EQ(srv.Errors(), "");
    EXPECT_EQ(pStream->Stop(), 0);
    // Release stops the stream and deletes it, whatever the count says.
    EXPECT_EQ(pStream->Release(), 0);
    EXPECT_EQ(pInvalidate(), 0);
}

TEST_F(WindowsHost, DllsNeedNoCompilerRuntimeDll)
{
    for (const char* pName : {"JXBase.dll", "JXRtsp.dll"}) {
        CLoadedModule module(pName);
        ASSERT_NE(module.Get(), nullptr) << module.Path() << ": error " << GetLastError();
        std::vector<std::string> imports = ImportedDlls(module.Get());
        EXPECT_FALSE(imports.empty()) << pName;
        bool bHasKernel = false;
        for (const std::string& name : imports) {
            EXPECT_FALSE(IsCompilerRuntime(name)) << pName << " imports " << name;
            bHasKernel = bHasKernel || name == "kernel32.dll";
        }
        EXPECT_TRUE(bHasKernel) << pName;
    }
}

}   // namespace
