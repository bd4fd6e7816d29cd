#include "common/DelayLoad.h"

#include <gtest/gtest.h>

#include <thread>

#include "common/PlatformCore.h"
#include "tests/platform/TestSupport.h"

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
          builtProbe_(PlatformTest::OwnFolder() + L"\\" + kProbe),
          registryProbe_(builtProbe_, folder_.File(kProbe))
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
    PlatformTest::TempFolder folder_;
    std::wstring builtProbe_;
    ScopedCopy registryProbe_;
    unsigned savedNumber_ = 0;
    bool savedOwnFolderFirst_ = false;
};

} // namespace

TEST_F(DelayLoadTest, PathComesFromOwnFolderRegistryOrSystemDirectoryInThatOrder)
{
    enum Where { OwnFolder, Registry, System, Nowhere };
    const std::wstring missing = folder_.File(L"missing\\VmDelayProbe.dll");
    const struct {
        const char* name;
        bool ownFolderFirst;
        DWORD type; // REG_NONE: no registry value
        std::wstring text;
        bool systemCopy;
        Where expected;
    } cases[] = {
        {"own folder first", true, REG_SZ, registryProbe_.path(), true, OwnFolder},
        {"registry beats system", false, REG_SZ, registryProbe_.path(), true, Registry},
        {"expandable string", false, REG_EXPAND_SZ, registryProbe_.path(), true, Registry},
        {"first of a list", false, REG_MULTI_SZ, registryProbe_.path() + L'\0' + missing + L'\0', true, Registry},
        {"registry file missing", false, REG_SZ, missing, true, System},
        {"relative registry path", false, REG_SZ, kProbe, true, System},
        {"no registry value", false, REG_NONE, L"", true, System},
        {"nowhere", false, REG_SZ, missing, false, Nowhere},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GetLoadingConfiguration().SetOwnFolderFirst(number_, c.ownFolderFirst);
        RegDeleteValueW(key_.key(), kProbe);
        if (c.type != REG_NONE)
            PutPath(key_.key(), c.type, c.text);
        const std::wstring systemPath = SystemDirectory() + L"\\" + kProbe;
        std::unique_ptr<ScopedCopy> systemCopy;
        if (c.systemCopy) {
            systemCopy = std::make_unique<ScopedCopy>(builtProbe_, systemPath);
            ASSERT_TRUE(systemCopy->ok()) << GetLastError();
        }

        DelayLoadedLibrary library(kProbe);
        DelayLoadedFunction<MarkerFn> marker(library, "VmDelayProbeMarker");
        DWORD failure = 0xFFFF;
        MarkerFn fn = marker.Get(&failure);
        if (c.expected == Nowhere) {
            EXPECT_EQ(nullptr, fn);
            EXPECT_EQ(kDelayLoadModuleNotFound, failure);
            EXPECT_EQ(kDelayLoadModuleNotFound, library.Load());
            continue;
        }
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

TEST_F(DelayLoadTest, NumberZeroReadsTheVendorKey)
{
    PlatformTest::ScopedRegistryKey vendorKey(HKEY_LOCAL_MACHINE, DelayLoadRegistryKey(0));
    ASSERT_TRUE(vendorKey.ok());
    PutPath(vendorKey.key(), REG_SZ, registryProbe_.path());
    GetLoadingConfiguration().SetOwnFolderFirst(0, false);

    const std::vector<std::wstring> paths = DelayLoadResolver::Candidates(kProbe);
    RegDeleteValueW(vendorKey.key(), kProbe);
    ASSERT_EQ(2u, paths.size());
    EXPECT_EQ(registryProbe_.path(), paths[0]);
    EXPECT_EQ(SystemDirectory() + L"\\" + kProbe, paths[1]);
}

TEST_F(DelayLoadTest, MissingLibrariesAndEntryPointsFailCleanly)
{
    PutPath(key_.key(), REG_SZ, registryProbe_.path());
    DelayLoadedLibrary library(kProbe);
    DelayLoadedFunction<MarkerFn> missing(library, "VmNoSuchEntry");
    DWORD failure = 0;
    EXPECT_EQ(nullptr, missing.Get(&failure));
    EXPECT_EQ(kDelayLoadProcNotFound, failure);
    EXPECT_NE(nullptr, library.Module()); // the library itself is there

    DelayLoadedLibrary absent(L"VmNoSuchLibrary.dll");
    DelayLoadedFunction<MarkerFn> entry(absent, "VmDelayProbeMarker");
    EXPECT_EQ(nullptr, entry.Get(&failure));
    EXPECT_EQ(kDelayLoadModuleNotFound, failure);

    DelayLoadedLibrary escaping(L"..\\VmDelayProbe.dll");
    EXPECT_EQ(kDelayLoadInvalidParameter, escaping.Load());
    EXPECT_EQ(nullptr, DelayLoadResolver::Load(L"sub\\x.dll", &failure));
    EXPECT_EQ(kDelayLoadInvalidParameter, failure);
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
    EXPECT_EQ(kDelayLoadModuleNotFound, CallWithDelayLoadNumber(number_, [&]() -> DWORD {
        DelayLoadedLibrary library(kLocalInfoLibrary);
        return library.Load() == 0 ? 0 : 0; // the guard reports what the function ignores
    }));
    EXPECT_EQ(kDelayLoadInvalidParameter, CallWithDelayLoadNumber(number_, nullptr, nullptr));

    // A failure outside a guarded call is not charged to the next one.
    DelayLoadedLibrary absent(L"VmNoSuchLibrary.dll");
    EXPECT_NE(0u, absent.Load());
    EXPECT_EQ(9u, CallWithDelayLoadNumber(number_, []() -> DWORD { return 9; }));
}

TEST(SystemLibraries, LoadFromTheSystemDirectoryOnFirstUse)
{
    const struct {
        DelayLoadedLibrary& library;
        const char* entry;
    } cases[] = {
        {WtsApi32Library(), "WTSEnumerateSessionsW"},
        {WinHttpLibrary(), "WinHttpOpen"},
        {WinTrustLibrary(), "WinVerifyTrust"},
        {Crypt32Library(), "CertOpenStore"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        DWORD failure = 0xFFFF;
        EXPECT_NE(nullptr, c.library.Resolve(c.entry, &failure));
        EXPECT_EQ(0u, failure);
        EXPECT_TRUE(SamePath(SystemDirectory() + L"\\" + c.library.Name(),
                             PlatformTest::ModulePath(c.library.Module())));
    }
    EXPECT_EQ(&WtsApi32Library(), &WtsApi32Library());
}
