// printf into a string of the size the text needs, for the logger and the console writer.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>

namespace VmCommon {

namespace FormatDetail {

// msvcrt's _vsn(w)printf: "%s" takes a string of the format's own width, and a text that does not
// fit gives -1 (or fills the buffer exactly without a terminating zero).
#ifdef _WIN32
inline int Print(wchar_t* b, size_t n, const wchar_t* f, va_list a) { return _vsnwprintf(b, n, f, a); }
inline int Print(char* b, size_t n, const char* f, va_list a) { return _vsnprintf(b, n, f, a); }
#else
inline int Print(wchar_t* b, size_t n, const wchar_t* f, va_list a) { return vswprintf(b, n, f, a); }
inline int Print(char* b, size_t n, const char* f, va_list a) { return vsnprintf(b, n, f, a); }
#endif

} // namespace FormatDetail

// Formats into a buffer of firstSize characters that doubles while the text does not fit; every
// size tried stays below limit. False, with an empty text, when no allowed size fits.
template <typename Char>
bool FormatGrowing(std::basic_string<Char>& text, const Char* format, va_list args, size_t firstSize,
                   size_t limit)
{
    for (size_t size = firstSize; size > 0 && size < limit; size *= 2) {
        text.assign(size, Char{});
        va_list copy;
        va_copy(copy, args);
        const int written = FormatDetail::Print(&text[0], size, format, copy);
        va_end(copy);
        if (written >= 0 && static_cast<size_t>(written) < size) {
            text.resize(static_cast<size_t>(written));
            return true;
        }
    }
    text.clear();
    return false;
}

} // namespace VmCommon
