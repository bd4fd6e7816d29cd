#include "common/DelayLoad.h"

#include <gtest/gtest.h>

#include <thread>

#include "common/PlatformCore.h"
#include "common/VmPath.h"
#include "tests/platform/PlatformTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace VmCommon;
using PlatformTest::SamePath;

namespace {

constexpr wchar_t kProbe[] = L"VmDelayProbe.dll";
constexpr int kMarker = 0x5EED;
using MarkerFn = int (*)();

// A file that exists for the scope of a test.
class ScopedCopy {
public:
    ScopedCopy(const std::wstring& from, std::wstring to) : path_(std::move(to))
    {
        ok_ = CopyFileW(from.c_str(), path_.c_str(), FALSE) != FALSE;
    }
    ~ScopedCopy() { DeleteFileW(path_.c_str()); }
    ScopedCopy(const ScopedCopy&) = delete;
    ScopedCopy& operator=(const ScopedCopy&) = delete;
    bool ok() const { return ok_; }
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
    bool ok_ = false;
};

class DelayLoadTest : public ::testing::Test {
protected:
    DelayLoadTest()
        : number_(70000 + GetCurrentProcessId() % 10000),
          key_(HKEY_LOCAL_MACHINE, DelayLoadRegistryKey(number_)),
          builtProbe_(VmTest::BesideTestProgram(kProbe)),
          registryProbe_(builtProbe_, folder_.Path() + L"\\" + kProbe)
    {
        LoadingConfiguration& configuration = GetLoadingConfiguration();
        savedNumber_ = configuration.Number();
        savedOwnFolderFirst_ = configuration.OwnFolderFirst();
        configuration.SetOwnFolderFirst(number_, false);
    }
    ~DelayLoadTest() override
    {
        GetLoadingConfiguration().SetOwnFolderFirst(savedNumber_, savedOwnFolderFirst_);
    }

    void SetUp() override
    {
        ASSERT_TRUE(key_.ok());
        ASSERT_TRUE(registryProbe_.ok()) << GetLastError();
    }

    void PutPath(HKEY key, DWORD type, const std::wstring& text)
    {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key, kProbe, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
    }

    unsigned number_;
    PlatformTest::ScopedRegistryKey key_;
    VmTest::TempDir folder_;
    std::wstring builtProbe_;
    ScopedCopy registryProbe_;
    unsigned savedNumber_ = 0;
    bool savedOwnFolderFirst_ = false;
};

} // namespace

TEST_F(DelayLoadTest, PathComesFromOwnFolderRegistryOrSystemDirectoryInThatOrder)
{
    // The order itself is shown by the portable candidate tests; these show that the loader
    // follows it: own folder first, the registry's list, and the fall-back past a missing file.
    enum Where { OwnFolder, Registry, System };
    const std::wstring missing = folder_.Path() + L"\\missing\\VmDelayProbe.dll";
    const struct {
        const char* name;
        bool ownFolderFirst;
        DWORD type;
        std::wstring text;
        Where expected;
    } cases[] = {
        {"own folder first", true, REG_SZ, registryProbe_.path(), OwnFolder},
        {"first of a list", false, REG_MULTI_SZ, registryProbe_.path() + L'\0' + missing + L'\0', Registry},
        {"registry file missing", false, REG_SZ, missing, System},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GetLoadingConfiguration().SetOwnFolderFirst(number_, c.ownFolderFirst);
        PutPath(key_.key(), c.type, c.text);
        const std::wstring systemPath = VmPath::GetSystemDirectoryPath() + L"\\" + kProbe;
        ScopedCopy systemCopy(builtProbe_, systemPath);
        ASSERT_TRUE(systemCopy.ok()) << GetLastError();

        DelayLoadedLibrary library(kProbe);
        DelayLoadedFunction<MarkerFn> marker(library, "VmDelayProbeMarker");
        DWORD failure = 0xFFFF;
        MarkerFn fn = marker.Get(&failure);
        ASSERT_NE(nullptr, fn);
        EXPECT_EQ(0u, failure);
        EXPECT_EQ(kMarker, fn());
        const std::wstring expected = c.expected == OwnFolder ? builtProbe_
                                      : c.expected == Registry ? registryProbe_.path()
                                                               : systemPath;
        EXPECT_TRUE(SamePath(expected, PlatformTest::ModulePath(library.Module())))
            << PlatformTest::ToNarrow(PlatformTest::ModulePath(library.Module()));
    }
}

TEST_F(DelayLoadTest, MissingLibrariesAndEntryPointsFailCleanly)
{
    PutPath(key_.key(), REG_SZ, registryProbe_.path());
    DelayLoadedLibrary library(kProbe);
    DelayLoadedLibrary absent(L"VmNoSuchLibrary.dll");
    DelayLoadedLibrary escaping(L"..\\VmDelayProbe.dll");
    const struct {
        DelayLoadedLibrary& library;
        const char* entry;
        DWORD expected;
    } cases[] = {
        {library, "VmNoSuchEntry", kDelayLoadProcNotFound},
        {absent, "VmDelayProbeMarker", kDelayLoadModuleNotFound},
        {escaping, "VmDelayProbeMarker", kDelayLoadInvalidParameter},
    };
    for (const auto& c : cases) {
        DelayLoadedFunction<MarkerFn> function(c.library, c.entry);
        DWORD failure = 0;
        EXPECT_EQ(nullptr, function.Get(&failure)) << c.entry;
        EXPECT_EQ(c.expected, failure) << c.entry;
    }
    EXPECT_NE(nullptr, library.Module()); // only the entry point was missing
}

TEST_F(DelayLoadTest, RacingFirstUsesLoadOnceAndFreeOnce)
{
    PutPath(key_.key(), REG_SZ, registryProbe_.path());
    {
        DelayLoadedLibrary library(kProbe);
        DelayLoadedFunction<MarkerFn> marker(library, "VmDelayProbeMarker");
        std::vector<std::thread> threads;
        std::vector<int> results(8, 0);
        for (size_t i = 0; i < results.size(); ++i)
            threads.emplace_back([&, i] {
                if (MarkerFn fn = marker.Get())
                    results[i] = fn();
            });
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_EQ(std::vector<int>(8, kMarker), results);
    }
    // A second load racing the first would leave a reference behind.
    EXPECT_EQ(nullptr, GetModuleHandleW(registryProbe_.path().c_str()));
}

TEST_F(DelayLoadTest, GuardedCallUsesItsNumberAndTurnsFailuresIntoResults)
{
    PutPath(key_.key(), REG_SZ, registryProbe_.path());
    GetLoadingConfiguration().SetOwnFolderFirst(100, false);

    std::wstring loadedFrom;
    const DWORD result = CallWithDelayLoadNumber(number_, [&]() -> DWORD {
        DelayLoadedLibrary library(kProbe);
        DelayLoadedFunction<MarkerFn> marker(library, "VmDelayProbeMarker");
        MarkerFn fn = marker.Get();
        if (!fn)
            return 1;
        loadedFrom = PlatformTest::ModulePath(library.Module());
        return static_cast<DWORD>(fn());
    });
    EXPECT_EQ(static_cast<DWORD>(kMarker), result);
    EXPECT_TRUE(SamePath(registryProbe_.path(), loadedFrom));
    EXPECT_EQ(number_, GetLoadingConfiguration().Number());

    // The function answers 0, but an entry point it needed was missing.
    EXPECT_EQ(kDelayLoadProcNotFound, CallWithDelayLoadNumber(number_, [&]() -> DWORD {
        DelayLoadedLibrary library(kProbe);
        DelayLoadedFunction<MarkerFn> initialise(library, "LWLocalInfo_DelayLoadInitialize");
        if (MarkerFn fn = initialise.Get())
            fn();
        return 0;
    }));
    EXPECT_EQ(kDelayLoadInvalidParameter, CallWithDelayLoadNumber(number_, nullptr, nullptr));

    // A failure outside a guarded call is not charged to the next one.
    EXPECT_NE(0u, DelayLoadedLibrary(L"VmNoSuchLibrary.dll").Load());
    EXPECT_EQ(9u, CallWithDelayLoadNumber(number_, []() -> DWORD { return 9; }));
}

TEST(SystemLibraries, LoadFromTheSystemDirectoryOnFirstUse)
{
    const std::pair<DelayLoadedLibrary*, const char*> cases[] = {
        {&WtsApi32Library(), "WTSEnumerateSessionsW"}, {&WinHttpLibrary(), "WinHttpOpen"},
        {&WinTrustLibrary(), "WinVerifyTrust"},        {&Crypt32Library(), "CertOpenStore"},
        {&Shell32Library(), "ShellExecuteExW"}};
    for (const auto& [library, entry] : cases) {
        EXPECT_NE(nullptr, library->Resolve(entry)) << entry;
        EXPECT_TRUE(SamePath(VmPath::GetSystemDirectoryPath() + L"\\" + library->Name(),
                             PlatformTest::ModulePath(library->Module())));
    }
}
