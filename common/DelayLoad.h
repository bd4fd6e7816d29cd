// The process-wide loading configuration: which numbered registry configuration supplies library
// paths and whether the program's own folder is tried first when a library is loaded on first use.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "common/Handles.h"

namespace VmCommon {

class LoadingConfiguration {
public:
    LoadingConfiguration();
    ~LoadingConfiguration();
    LoadingConfiguration(const LoadingConfiguration&) = delete;
    LoadingConfiguration& operator=(const LoadingConfiguration&) = delete;

    // Selects the configuration number and switches the own-folder step on or off.
    void SetOwnFolderFirst(unsigned number, bool on);
    bool OwnFolderFirst();
    unsigned Number();

    CRITICAL_SECTION& Lock() { return lock_; }

private:
    CRITICAL_SECTION lock_;
    unsigned number_ = 100;
    bool ownFolderFirst_ = true;
};

// Created once on first use.
LoadingConfiguration& GetLoadingConfiguration();

// Libraries loaded for the whole run; each is freed once at process exit.
class PreloadedLibraries {
public:
    void Add(HMODULE module);
    size_t Count();

private:
    friend PreloadedLibraries& GetPreloadedLibraries();
    PreloadedLibraries();
    CRITICAL_SECTION lock_;
    std::vector<UniqueModule> modules_;
};

PreloadedLibraries& GetPreloadedLibraries();

// The Windows system directory without a trailing backslash (empty if it cannot be read).
std::wstring SystemDirectory();

// LoadLibraryW of <system directory>\<name>; null when it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* name);

} // namespace VmCommon
