// One run of the real administrative installer driven by the real AdminHandler: a work directory
// with the downloaded packages, the shared parameters and test knobs in the user's hive, and the
// program's embedded RCDATA 103 as the dropped file.
#pragma once

#include <windows.h>

#include <vector>

#include "admin/AdminHandler.h"
#include "common/Session.h"
#include "gui/IGuiManager.h"
#include "tests/support/RegistrySandbox.h"
#include "tests/support/TestSupport.h"

namespace VmTest {

// Keeps every update; sets stopOnInstalling, when given, once the Installing stage is reported.
struct ProgressLog : IProgress {
    void UpdateProgress(uint32_t stage, uint32_t percent) override
    {
        updates.emplace_back(stage, percent);
        if (stopOnInstalling && stage == 3)
            SetEvent(stopOnInstalling);
    }
    std::vector<std::pair<uint32_t, uint32_t>> updates;
    HANDLE stopOnInstalling = nullptr;
};

struct AdminRun {
    // The test build of the installer carries the x86-64 administrative installer.
    explicit AdminRun(AdminHandler::ShellLaunch launch = nullptr)
        : program(LoadLibraryExW(BesideTestProgram(L"..\\..\\VmNetworkInstaller.exe").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)),
          stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)), handler(program.get(), stop.get(), launch),
          sid(VmCommon::SidToString(VmCommon::GetProcessUserSid().get()))
    {
        for (const wchar_t* name :
             {L"linkwell.msi", L"settings.zip", L"customization.zip", L"localization.zip", L"help.zip"})
            WriteBytes(work.Path() + L"\\" + name, "");
        Shared(L"MigrationStrategy", 0);
    }
    void Knob(const wchar_t* name, DWORD value) { registry.SetDword(HKEY_CURRENT_USER, kKnobs, name, value); }
    void Shared(const wchar_t* name, DWORD value) { registry.SetDword(HKEY_CURRENT_USER, kShared, name, value); }
    void Shared(const wchar_t* name, const std::wstring& text) { registry.SetString(HKEY_CURRENT_USER, kShared, name, text); }
    // Drops and starts the administrative installer; 0 when it runs.
    int Launch()
    {
        return handler.ExtractFile(work.Path(), L"VmNetworkInstaller.exe") ? handler.Launch(L"--user-sid " + sid) : -1;
    }

    static constexpr const wchar_t* kKnobs = L"Software\\Velmora\\Test\\AdminInstaller";
    static constexpr const wchar_t* kShared = L"SOFTWARE\\Velmora\\NetworkInstallerShared";
    TempDir work;
    RegistrySandbox registry;
    VmCommon::UniqueModule program;
    VmCommon::UniqueHandle stop;
    AdminHandler handler;
    std::wstring sid;
    ProgressLog progress;
};

} // namespace VmTest
