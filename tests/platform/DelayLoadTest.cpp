#include "common/DelayLoad.h"

#include <gtest/gtest.h>

#include <thread>

#include "common/PlatformCore.h"
#include "common/VmPath.h"
#include "tests/support/RegistrySandbox.h"
#include "tests/support/TestSupport.h"

using namespace VmCommon;

namespace {

std::wstring ModulePath(HMODULE module)
{
    wchar_t path[MAX_PATH * 4];
    return std::wstring(path, GetModuleFileNameW(module, path, ARRAYSIZE(path)));
}

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

constexpr wchar_t kProbe[] = L"VmDelayProbe.dll";
constexpr wchar_t kNeedsSibling[] = L"VmDelayNeedsSibling.dll";
constexpr wchar_t kSibling[] = L"VmDelaySibling.dll";
constexpr int kMarker = 0x5EED;
using MarkerFn = int (*)();

// A loading configuration of its own whose registry entry names a copy of the probe library, and a
// default library search limited to the system directory, as the entry code leaves it. Both are
// process-wide; nothing else in this program depends on them.
class DelayLoadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) << GetLastError();
        GetLoadingConfiguration().SetOwnFolderFirst(number_, false);
        ASSERT_TRUE(CopyFileW(builtProbe_.c_str(), registryProbe_.c_str(), FALSE)) << GetLastError();
        SetRegistryPath(kProbe, REG_SZ, registryProbe_);
    }

    void TearDown() override { SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS); }

    void SetRegistryPath(const wchar_t* library, DWORD type, const std::wstring& text)
    {
        ASSERT_TRUE(registry_.Set(HKEY_LOCAL_MACHINE, DelayLoadRegistryKey(number_), library, type, text.c_str(),
                                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
    }

    const unsigned number_ = 70000 + GetCurrentProcessId() % 10000;
    VmTest::RegistrySandbox registry_;
    VmTest::TempDir folder_;
    const std::wstring builtProbe_ = VmTest::BesideTestProgram(kProbe);
    const std::wstring registryProbe_ = folder_.Path() + L"\\" + kProbe;
};

} // namespace

// The order itself is shown by the portable candidate tests; these show that the loader follows
// it, reads a list's first entry, falls back past a file that is missing, and lets a library named
// by the registry find the library beside it that it imports.
TEST_F(DelayLoadTest, PathComesFromOwnFolderRegistryOrSystemDirectoryInThatOrder)
{
    const std::wstring missing = folder_.Path() + L"\\missing\\" + kProbe;
    const std::wstring systemCopy = VmPath::GetSystemDirectoryPath() + L"\\" + kProbe;
    const std::wstring needsSibling = folder_.Path() + L"\\" + kNeedsSibling;
    const struct {
        const wchar_t* library;
        bool ownFolderFirst;
        DWORD type;
        std::wstring text;
        std::wstring expected;
    } cases[] = {
        {kProbe, true, REG_SZ, registryProbe_, builtProbe_},
        {kProbe, false, REG_MULTI_SZ, registryProbe_ + L'\0' + missing + L'\0', registryProbe_},
        {kProbe, false, REG_EXPAND_SZ, missing, systemCopy},
        {kNeedsSibling, false, REG_SZ, needsSibling, needsSibling},
    };
    ASSERT_TRUE(CopyFileW(builtProbe_.c_str(), systemCopy.c_str(), FALSE)) << GetLastError();
    // The sibling is built into a folder of its own: only the copy beside the probe can supply it.
    ASSERT_TRUE(CopyFileW(VmTest::BesideTestProgram(kNeedsSibling).c_str(), needsSibling.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(VmTest::BesideTestProgram(std::wstring(L"sibling\\") + kSibling).c_str(),
                          (folder_.Path() + L"\\" + kSibling).c_str(), FALSE));
    for (const auto& c : cases) {
        GetLoadingConfiguration().SetOwnFolderFirst(100, c.ownFolderFirst);
        SetRegistryPath(c.library, c.type, c.text);
        std::wstring loadedFrom;
        DWORD failure = 0xFFFF;
        // The guarded call reads the entry of its own number, and leaves that number set.
        EXPECT_EQ(static_cast<DWORD>(kMarker), CallWithDelayLoadNumber(number_, [&]() -> DWORD {
                      DelayLoadedLibrary library(c.library);
                      DelayLoadedFunction<MarkerFn> marker(library, "VmDelayProbeMarker");
                      const MarkerFn fn = marker.Get(&failure);
                      loadedFrom = ModulePath(library.Module());
                      return fn ? static_cast<DWORD>(fn()) : 1;
                  }));
        EXPECT_EQ(0u, failure);
        EXPECT_TRUE(SamePath(c.expected, loadedFrom)) << loadedFrom;
        EXPECT_EQ(number_, GetLoadingConfiguration().Number());
    }
    DeleteFileW(systemCopy.c_str());
}

// Inside a guarded call the failure becomes the call's result, though the function answers 0.
TEST_F(DelayLoadTest, MissingLibrariesAndEntryPointsFailCleanly)
{
    const struct {
        const wchar_t* library;
        const char* entry;
        DWORD expected;
    } cases[] = {
        {kProbe, "VmNoSuchEntry", kDelayLoadProcNotFound},
        {L"VmNoSuchLibrary.dll", "VmDelayProbeMarker", kDelayLoadModuleNotFound},
        {L"..\\VmDelayProbe.dll", "VmDelayProbeMarker", kDelayLoadInvalidParameter},
    };
    for (const auto& c : cases) {
        DWORD failure = 0;
        EXPECT_EQ(c.expected, CallWithDelayLoadNumber(number_, [&]() -> DWORD {
                      DelayLoadedLibrary library(c.library);
                      DelayLoadedFunction<MarkerFn> function(library, c.entry);
                      EXPECT_EQ(nullptr, function.Get(&failure));
                      return 0;
                  })) << c.entry;
        EXPECT_EQ(c.expected, failure) << c.entry;
    }
    EXPECT_EQ(kDelayLoadInvalidParameter, CallWithDelayLoadNumber(number_, nullptr, nullptr));
    // A failure outside a guarded call is not charged to the next one.
    EXPECT_NE(0u, DelayLoadedLibrary(L"VmNoSuchLibrary.dll").Load());
    EXPECT_EQ(9u, CallWithDelayLoadNumber(number_, []() -> DWORD { return 9; }));
}

TEST_F(DelayLoadTest, RacingFirstUsesLoadOnceAndFreeOnce)
{
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
    EXPECT_EQ(nullptr, GetModuleHandleW(registryProbe_.c_str()));
}
