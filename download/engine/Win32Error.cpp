#include "download/engine/Win32Error.h"

#include "download/engine/DownloadCore.h"

namespace OrlDownload {

std::wstring FormatWin32Error(DWORD code)
{
    wchar_t text[kErrorTextLimit];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text,
                                  static_cast<DWORD>(kErrorTextLimit), nullptr);
    if (length >= kErrorTextLimit)
        length = 0;
    return FormatErrorText(code, std::wstring_view(text, length));
}

} // namespace OrlDownload
