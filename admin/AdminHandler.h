// Drops the embedded administrative installer (RCDATA 103) into the work directory, keeps the
// file locked, starts it through the shell so that Windows asks for elevation, and follows it
// through three named events and a two-byte named block until its exit code arrives.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "admin/AdminCore.h"
#include "common/Handles.h"

class IProgress;

class AdminHandler {
public:
    // The shell launch; the default is VmCommon::ShellExecuteProcess. A failure returns an empty
    // handle with the reason as the last error (ERROR_CANCELLED: the user declined elevation).
    using ShellLaunch = VmCommon::UniqueHandle (*)(const wchar_t* program, const wchar_t* parameters,
                                                   const wchar_t* workingDirectory);

    // module holds the embedded program; stopEvent (not owned) is the process-wide stop event.
    AdminHandler(HMODULE module, HANDLE stopEvent, ShellLaunch shellLaunch = nullptr);
    virtual ~AdminHandler();
    AdminHandler(const AdminHandler&) = delete;
    AdminHandler& operator=(const AdminHandler&) = delete;

    virtual bool ExtractFile(const std::wstring& directory, const std::wstring& fileName);
    // 0 started, 1 failed, 2 the user declined the elevation prompt.
    virtual int Launch(const std::wstring& parameters);
    // The administrative installer's exit code (an InstallResult), 1 when there is none.
    virtual uint32_t WaitForFinished(IProgress& progress);
    virtual void StartWork();
    virtual void Abort();
    virtual const void* LoadEmbeddedResource(int id, uint32_t& size);
    virtual bool WriteToFile(const std::wstring& path, const void* bytes, uint32_t size);
    virtual bool CreateCommObjects();
    virtual void CloseCommObjects();
    virtual void CleanupExtractedFile();

    const std::wstring& ExtractedPath() const { return extractedPath_; }

private:
    VmCommon::UniqueHandle process_;
    VmCommon::UniqueFile fileLock_;
    std::wstring extractedPath_;
    std::wstring extractionDirectory_;
    HMODULE module_;
    VmCommon::UniqueHandle runEvent_;
    VmCommon::UniqueHandle abortEvent_;
    VmCommon::UniqueHandle commEvent_;
    VmCommon::UniqueHandle mapping_;
    HANDLE stopEvent_;
    VmCommon::UniqueMappedView view_;
    ShellLaunch shellLaunch_;
};
