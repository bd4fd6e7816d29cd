// Reading a whole downloaded text file (stub configuration, certificate list) as UTF-8.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace VmDownload {

// Reads path, shared for read, write and delete, into text (byte-order marks handled as
// DecodeTextFile does). 0, or the Win32 error; ERROR_NOT_ENOUGH_MEMORY (8) for a file larger
// than limit.
DWORD ReadTextFile(const std::wstring& path, uint64_t limit, std::string& text);

} // namespace VmDownload
