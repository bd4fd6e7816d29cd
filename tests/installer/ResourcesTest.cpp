// The manifest that keeps the program unelevated and on the current common controls.
#include "common/Handles.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Resource(const wchar_t* type, const wchar_t* name)
{
    const std::wstring program = VmTest::BesideTestProgram(L"..\\..\\VmNetworkInstaller.exe");
    VmCommon::UniqueModule image(LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    HRSRC found = image ? FindResourceW(image.get(), name, type) : nullptr;
    const auto* data = found ? static_cast<const char*>(LockResource(LoadResource(image.get(), found))) : nullptr;
    return data ? std::string(data, SizeofResource(image.get(), found)) : std::string();
}

TEST(Resources, ManifestRunsAsInvokerWithCommonControls6)
{
    const std::string manifest = Resource(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
    for (const char* part : {"level=\"asInvoker\"", "Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                             "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}" /* Windows 7 */,
                             "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}" /* Windows 10 and 11 */, "<dpiAware"})
        EXPECT_NE(std::string::npos, manifest.find(part)) << part;
}

} // namespace
