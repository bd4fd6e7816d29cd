#include "admin/AdminHandler.h"

#include <cstring>
#include <vector>

#include "common/Process.h"
#include "common/Security.h"
#include "common/Session.h"
#include "common/VmPathCore.h"
#include "common/logging/VmOrlLogging.h"
#include "gui/IGuiManager.h"

using VmOrlLogging::LevelDebug;
using VmOrlLogging::LevelError;
using VmOrlLogging::LevelInfo;
using VmOrlLogging::LevelWarning;

namespace {

constexpr int kEmbeddedAdminInstaller = 103;
constexpr DWORD kCommBlockSize = sizeof(AdminComm::AdminCommBlock);

// The lock must leave the file readable and runnable, and nothing else: a file that could be
// renamed aside could be replaced under its name before it is started elevated. A handle without
// data access is ignored by the sharing check, so it reads. The lock goes before the deletion.
bool LockAndVerify(const std::wstring& path, const void* bytes, uint32_t size, VmCommon::UniqueFile& lock)
{
    lock.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!lock)
        return false;
    // The write handle was closed before the lock could be taken; what another process wrote in
    // between would run elevated, so the locked bytes must be ours.
    std::vector<char> read(size + 1u);
    DWORD got = 0;
    if (!ReadFile(lock.get(), read.data(), size + 1u, &got, nullptr) || got != size
        || std::memcmp(read.data(), bytes, size) != 0) {
        lock.reset();
        SetLastError(ERROR_FILE_INVALID);
        return false;
    }
    return true;
}

} // namespace

AdminHandler::AdminHandler(HMODULE module, HANDLE stopEvent, ShellLaunch shellLaunch)
    : module_(module), stopEvent_(stopEvent),
      shellLaunch_(shellLaunch ? shellLaunch : &VmCommon::ShellExecuteProcess)
{
}

AdminHandler::~AdminHandler()
{
    CloseCommObjects();
}

bool AdminHandler::ExtractFile(const std::wstring& directory, const std::wstring& fileName)
{
    VM_ORL_LOG(LevelDebug, L"%s: %ls\\%ls", L"AdminHandler::ExtractFile", directory.c_str(),
               fileName.c_str());
    if (directory.empty() || fileName.empty())
        return false;
    uint32_t size = 0;
    const void* bytes = LoadEmbeddedResource(kEmbeddedAdminInstaller, size);
    if (!bytes) {
        VM_ORL_LOG(LevelError, L"%s: Failed to load embedded admin installer resource: %lu",
                   L"AdminHandler::ExtractFile", GetLastError());
        return false;
    }
    std::wstring path = VmPath::PathCombine(directory, fileName);
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        VM_ORL_LOG(LevelDebug, L"%s: Admin file exists, using modified filename",
                   L"AdminHandler::ExtractFile");
        path = VmPath::PathCombine(directory, AdminComm::AdminFileName(fileName));
    }
    if (!WriteToFile(path, bytes, size))
        return false;
    extractedPath_ = path;
    extractionDirectory_ = directory;
    return true;
}

const void* AdminHandler::LoadEmbeddedResource(int id, uint32_t& size)
{
    size = 0;
    HRSRC resource = FindResourceW(module_, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
    HGLOBAL loaded = resource ? LoadResource(module_, resource) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (bytes)
        size = SizeofResource(module_, resource);
    return bytes;
}

bool AdminHandler::WriteToFile(const std::wstring& path, const void* bytes, uint32_t size)
{
    VmCommon::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        VM_ORL_LOG(LevelError, L"%s: Failed to open file '%s' for writing: %lu",
                   L"AdminHandler::WriteToFile", path.c_str(), GetLastError());
        return false;
    }
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes, size, &written, nullptr)) {
        VM_ORL_LOG(LevelError, L"%s: Failed to write data to file: %lu", L"AdminHandler::WriteToFile",
                   GetLastError());
        written = 0;
    }
    // The lock reads the file, which a handle that writes would not share.
    file.reset();
    if (!LockAndVerify(path, bytes, written, fileLock_)) {
        VM_ORL_LOG(LevelError, L"%s: Failed to lock dropped file '%s': %lu",
                   L"AdminHandler::WriteToFile", path.c_str(), GetLastError());
        return false;
    }
    return written == size;
}

bool AdminHandler::CreateCommObjects()
{
    // Only the installing user, SYSTEM and Administrators may signal, abort or report.
    VmCommon::SecurityAttributes security;
    const std::wstring sid = VmCommon::SidToString(VmCommon::GetProcessUserSid().get());
    if (sid.empty()
        || !VmCommon::CreateSecurityAttributes(AdminComm::PrivateObjectSddl(sid).c_str(), true, security))
        return false;
    // Objects of these names that exist already belong to someone else (an administrative
    // installer left from a killed run, or a squatter): their state and security are not ours, and
    // a run event already set would start the elevated work before the parameters are written.
    bool fresh = true;
    const auto own = [&fresh](HANDLE object) {
        fresh = fresh && object && GetLastError() != ERROR_ALREADY_EXISTS;
        return object;
    };
    runEvent_.reset(own(CreateEventW(security.get(), TRUE, FALSE, AdminComm::kRunEventName)));
    abortEvent_.reset(own(CreateEventW(security.get(), TRUE, FALSE, AdminComm::kAbortEventName)));
    commEvent_.reset(own(CreateEventW(security.get(), FALSE, FALSE, AdminComm::kCommEventName)));
    mapping_.reset(own(CreateFileMappingW(INVALID_HANDLE_VALUE, security.get(), PAGE_READWRITE, 0,
                                          kCommBlockSize, AdminComm::kSharedMemoryName)));
    if (fresh)
        view_.reset(MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, kCommBlockSize));
    if (!view_) {
        CloseCommObjects();
        return false;
    }
    return true;
}

void AdminHandler::CloseCommObjects()
{
    runEvent_.reset();
    abortEvent_.reset();
    commEvent_.reset();
    view_.reset();
    mapping_.reset();
}

int AdminHandler::Launch(const std::wstring& parameters)
{
    if (extractedPath_.empty())
        return 1;
    if (!CreateCommObjects()) {
        VM_ORL_LOG(LevelError, L"%s: Failed to create comm objects", L"AdminHandler::Launch");
        return 1;
    }
    VM_ORL_LOG(LevelDebug, L"%s: Launching admin process with parameters: '%s'",
               L"AdminHandler::Launch", parameters.c_str());
    process_ = shellLaunch_(extractedPath_.c_str(), parameters.c_str(), extractionDirectory_.c_str());
    if (process_)
        return 0;
    const DWORD error = GetLastError();
    VM_ORL_LOG(LevelError, L"%s: Failed to launch admin process: %lu", L"AdminHandler::Launch", error);
    CloseCommObjects();
    return error == ERROR_CANCELLED ? 2 : 1;
}

void AdminHandler::StartWork()
{
    VM_ORL_LOG(LevelInfo, L"%s: Set run signal", L"AdminHandler::StartWork");
    if (runEvent_)
        SetEvent(runEvent_.get());
}

void AdminHandler::Abort()
{
    if (!abortEvent_)
        return;
    VM_ORL_LOG(LevelInfo, L"%s: Set abort signal", L"AdminHandler::Abort");
    SetEvent(abortEvent_.get());
}

uint32_t AdminHandler::WaitForFinished(IProgress& progress)
{
    if (!process_) {
        CleanupExtractedFile();
        return 1;
    }
    DWORD exitCode = 1;
    while (process_) {
        const HANDLE handles[] = {stopEvent_, commEvent_.get(), process_.get()};
        const DWORD signalled = WaitForMultipleObjects(3, handles, FALSE, INFINITE);
        if (signalled == WAIT_OBJECT_0 + 1) {
            const auto* block = static_cast<const volatile AdminComm::AdminCommBlock*>(view_.get());
            const uint8_t state = block->state;
            const uint8_t percent = block->percent;
            progress.UpdateProgress(AdminComm::StageFromState(state), percent);
            continue;
        }
        if (signalled != WAIT_OBJECT_0 + 2) {
            // Stop requested (or the wait failed): the elevated side must finish by itself first.
            Abort();
            WaitForSingleObject(process_.get(), INFINITE);
        }
        if (!GetExitCodeProcess(process_.get(), &exitCode))
            exitCode = 1;
        process_.reset();
    }
    CloseCommObjects();
    CleanupExtractedFile();
    VM_ORL_LOG(LevelDebug, L"%s: Admin process exit code is: %lu", L"AdminHandler::WaitForFinished",
               exitCode);
    return exitCode;
}

void AdminHandler::CleanupExtractedFile()
{
    fileLock_.reset();
    if (extractedPath_.empty())
        return;
    if (!DeleteFileW(extractedPath_.c_str()))
        VM_ORL_LOG(LevelWarning, L"%s: Failed to clean up extracted file: %lu",
                   L"AdminHandler::CleanupExtractedFile", GetLastError());
    extractedPath_.clear();
}
