#include "download/TextFile.h"

#include "common/Handles.h"
#include "download/StubConfigCore.h"

namespace VmDownload {

DWORD ReadTextFile(const std::wstring& path, uint64_t limit, std::string& text)
{
    text.clear();
    // The download engine may still hold the file open for writing.
    VmCommon::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return GetLastError();
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size))
        return GetLastError();
    if (!TextFileSizeAllowed(static_cast<uint64_t>(size.QuadPart), limit))
        return ERROR_NOT_ENOUGH_MEMORY;

    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD read = 0;
        if (!ReadFile(file.get(), &bytes[done], static_cast<DWORD>(bytes.size() - done), &read,
                      nullptr))
            return GetLastError();
        if (read == 0)
            break; // shorter than it was a moment ago: take what is there
        done += read;
    }
    bytes.resize(done);
    text = DecodeTextFile(bytes);
    return 0;
}

} // namespace VmDownload
