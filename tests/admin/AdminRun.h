// One run of the real administrative installer driven by the real AdminHandler: a work directory
// with the downloaded packages, the shared parameters and test knobs in the user's hive, and the
// program's embedded RCDATA 103 as the dropped file.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "admin/AdminHandler.h"
#include "common/Handles.h"
#include "common/Session.h"
#include "gui/IGuiManager.h"
#include "tests/support/RegistrySandbox.h"
#include "tests/support/TestSupport.h"

namespace VmTest {

constexpr wchar_t kKnobsKey[] = L"Software\\Velmora\\Test\\AdminInstaller";
constexpr wchar_t kSharedKey[] = L"SOFTWARE\\Velmora\\NetworkInstallerShared";

class ProgressLog : public IProgress {
public:
    void UpdateProgress(uint32_t stage, uint32_t percent) override { updates.emplace_back(stage, percent); }
    std::vector<std::pair<uint32_t, uint32_t>> updates;
};

struct AdminRun {
    // The test build of the installer carries the x86-64 administrative installer.
    explicit AdminRun(AdminHandler::ShellLaunch launch = nullptr)
        : program(LoadLibraryExW(BesideTestProgram(L"..\\..\\VmNetworkInstaller.exe").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)),
          stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)), handler(program.get(), stop.get(), launch),
          sid(VmCommon::SidToString(VmCommon::GetProcessUserSid().get()))
    {
        for (const wchar_t* name : {L"linkwell.msi", L"settings.zip", L"customization.zip",
                                    L"localization.zip", L"help.zip"})
            CloseHandle(CreateFileW((work.Path() + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, 0, nullptr));
        Shared(L"MigrationStrategy", 0);
    }
    void Knob(const wchar_t* name, DWORD value) { registry.SetDword(HKEY_CURRENT_USER, kKnobsKey, name, value); }
    void Shared(const wchar_t* name, DWORD value) { registry.SetDword(HKEY_CURRENT_USER, kSharedKey, name, value); }
    void Shared(const wchar_t* name, const std::wstring& value)
    {
        registry.SetString(HKEY_CURRENT_USER, kSharedKey, name, value);
    }
    // Drops and starts the administrative installer; 0 when it runs.
    int Launch() { return handler.ExtractFile(work.Path(), L"VmNetworkInstaller.exe") ? handler.Launch(L"--user-sid " + sid) : -1; }

    TempDir work;
    RegistrySandbox registry;
    VmCommon::UniqueModule program;
    VmCommon::UniqueHandle stop;
    AdminHandler handler;
    std::wstring sid;
    ProgressLog progress;
};

} // namespace VmTest
