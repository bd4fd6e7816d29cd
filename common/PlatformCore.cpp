#include "common/PlatformCore.h"

#include "common/Text.h"

namespace VmCommon {
namespace {

std::wstring Join(const std::wstring& folder, const std::wstring& name)
{
    return folder + L"\\" + name;
}

} // namespace

std::wstring BuildCommandLine(const wchar_t* programPath, const wchar_t* arguments)
{
    if (!programPath)
        return {};
    std::wstring line = L"\"";
    line += programPath;
    line += L"\"";
    if (arguments && *arguments) {
        line += L" ";
        line += arguments;
    }
    return line;
}

uint32_t ActiveSessionFromList(const std::vector<SessionEntry>& sessions)
{
    uint32_t found = kNoSession;
    for (const SessionEntry& session : sessions) {
        if (!session.active)
            continue;
        if (session.id != 0 || found == kNoSession)
            found = session.id;
    }
    return found;
}

RegistryResult RegistryResultFromError(uint32_t win32Error)
{
    switch (win32Error) {
    case 0:
        return RegistrySuccess;
    case kErrorFileNotFound:
    case kErrorPathNotFound:
        return RegistryNotFound;
    case kErrorAccessDenied:
        return RegistryAccessDenied;
    case kErrorInvalidParameter:
        return RegistryInvalidParameter;
    default:
        return RegistryOtherError;
    }
}

std::wstring DelayLoadRegistryKey(unsigned number)
{
    if (number == 0)
        return L"Software\\Halden Works\\Velmora\\Delay Loading";
    return L"Software\\Velmora\\ORL\\Delay Loading\\" + VmCommon::Decimal(number);
}

bool IsBareLibraryName(const std::wstring& name)
{
    if (name.empty() || name == L"." || name == L"..")
        return false;
    return name.find_first_of(L"\\/:") == std::wstring::npos;
}

bool IsFullWindowsPath(const std::wstring& path)
{
    if (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) {
        const wchar_t drive = path[0];
        return (drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z');
    }
    return path.size() > 2 && path[0] == L'\\' && path[1] == L'\\';
}

std::vector<std::wstring> DelayLoadCandidates(const std::wstring& name, const DelayLoadSources& sources)
{
    std::vector<std::wstring> paths;
    if (!IsBareLibraryName(name))
        return paths;
    if (sources.ownFolderFirst && !sources.ownFolder.empty())
        paths.push_back(Join(sources.ownFolder, name));
    if (IsFullWindowsPath(sources.registryPath))
        paths.push_back(sources.registryPath);
    if (!sources.systemDirectory.empty())
        paths.push_back(Join(sources.systemDirectory, name));
    return paths;
}

} // namespace VmCommon
