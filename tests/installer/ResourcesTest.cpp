// What the program carries in its resources: the version everyone compares against and the
// manifest that keeps it unelevated and on the current common controls.
#include "common/Handles.h"
#include "tests/support/TestSupport.h"
#include "vm_version.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Installer() { return VmTest::BesideTestProgram(L"..\\..\\VmNetworkInstaller.exe"); }

TEST(Resources, VersionResourceMatchesTheBuildVersion)
{
    VmCommon::UniqueModule image(LoadLibraryExW(Installer().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(image) << GetLastError();
    HRSRC found = FindResourceW(image.get(), MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16));
    ASSERT_NE(nullptr, found);
    const auto* data = static_cast<const unsigned char*>(LockResource(LoadResource(image.get(), found)));
    const DWORD size = SizeofResource(image.get(), found);
    ASSERT_NE(nullptr, data);

    // VS_FIXEDFILEINFO follows the key L"VS_VERSION_INFO", aligned to 4 bytes.
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const DWORD signature = 0xFEEF04BD;
    const size_t at = bytes.find(std::string(reinterpret_cast<const char*>(&signature), 4));
    ASSERT_NE(std::string::npos, at);
    VS_FIXEDFILEINFO info;
    memcpy(&info, data + at, sizeof(info));
    EXPECT_EQ(static_cast<DWORD>(MAKELONG(VM_VERSION_MINOR, VM_VERSION_MAJOR)), info.dwFileVersionMS);
    EXPECT_EQ(static_cast<DWORD>(MAKELONG(VM_VERSION_REVISION, VM_VERSION_BUILD)), info.dwFileVersionLS);
    EXPECT_EQ(0x00030011u, info.dwFileVersionMS);
    EXPECT_EQ(0x007F0000u, info.dwFileVersionLS);
}

TEST(Resources, ManifestRunsAsInvokerWithCommonControls6)
{
    VmCommon::UniqueModule image(LoadLibraryExW(Installer().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(image) << GetLastError();
    HRSRC found = FindResourceW(image.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(nullptr, found);
    const auto* data = static_cast<const char*>(LockResource(LoadResource(image.get(), found)));
    const std::string manifest(data, SizeofResource(image.get(), found));
    EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\""));
    EXPECT_NE(std::string::npos, manifest.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
    EXPECT_NE(std::string::npos, manifest.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}")) << "Windows 7";
    EXPECT_NE(std::string::npos, manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}")) << "Windows 10 and 11";
    EXPECT_NE(std::string::npos, manifest.find("<dpiAware"));
}

} // namespace
