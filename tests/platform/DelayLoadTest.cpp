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
constexpr int kMarker = 0x5EED;
using MarkerFn = int (*)();

// A loading configuration of its own whose registry entry names a copy of the probe library. The
// configuration is process-wide; nothing else in this program depends on it.
class DelayLoadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        GetLoadingConfiguration().SetOwnFolderFirst(number_, false);
        ASSERT_TRUE(CopyFileW(builtProbe_.c_str(), registryProbe_.c_str(), FALSE)) << GetLastError();
        SetRegistryPath(REG_SZ, registryProbe_);
    }

    void SetRegistryPath(DWORD type, const std::wstring& text)
    {
        ASSERT_TRUE(registry_.Set(HKEY_LOCAL_MACHINE, DelayLoadRegistryKey(number_), kProbe, type, text.c_str(),
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
// it, reads a list's first entry, and falls back past a file that is missing.
TEST_F(DelayLoadTest, PathComesFromOwnFolderRegistryOrSystemDirectoryInThatOrder)
{
    const std::wstring missing = folder_.Path() + L"\\missing\\" + kProbe;
    const std::wstring systemCopy = VmPath::GetSystemDirectoryPath() + L"\\" + kProbe;
    const struct {
        bool ownFolderFirst;
        DWORD type;
        std::wstring text;
        std::wstring expected;
    } cases[] = {
        {true, REG_SZ, registryProbe_, builtProbe_},
        {false, REG_MULTI_SZ, registryProbe_ + L'\0' + missing + L'\0', registryProbe_},
        {false, REG_EXPAND_SZ, missing, systemCopy},
    };
    ASSERT_TRUE(CopyFileW(builtProbe_.c_str(), systemCopy.c_str(), FALSE)) << GetLastError();
    for (const auto& c : cases) {
        GetLoadingConfiguration().SetOwnFolderFirst(100, c.ownFolderFirst);
        SetRegistryPath(c.type, c.text);
        std::wstring loadedFrom;
        DWORD failure = 0xFFFF;
        // The guarded call reads the entry of its own number, and leaves that number set.
        EXPECT_EQ(static_cast<DWORD>(kMarker), CallWithDelayLoadNumber(number_, [&]() -> DWORD {
                      DelayLoadedLibrary library(kProbe);
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
