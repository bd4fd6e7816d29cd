#include "common/VmPathCore.h"

#include "common/PlatformCore.h"
#include "common/Text.h"

namespace VmPath {
namespace {

constexpr wchar_t kSeparator = L'\\';
constexpr wchar_t kUserProfile[] = L"%USERPROFILE%";
constexpr size_t kUserProfileLength = sizeof(kUserProfile) / sizeof(kUserProfile[0]) - 1;

wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? wchar_t(c - L'a' + L'A') : c; }

bool MatchesUserProfileAt(const std::wstring& text, size_t at)
{
    if (text.size() - at < kUserProfileLength)
        return false;
    for (size_t i = 0; i < kUserProfileLength; ++i) {
        if (AsciiUpper(text[at + i]) != kUserProfile[i])
            return false;
    }
    return true;
}

} // namespace

std::wstring PathCombine(const std::wstring& a, const std::wstring& b)
{
    if (a.empty())
        return b;
    if (b.empty())
        return a;
    std::wstring result = a;
    if (result.back() != kSeparator)
        result += kSeparator;
    return result + b;
}

std::wstring QuotePath(const std::wstring& s)
{
    if (s.size() >= 2 && s.front() == L'"' && s.back() == L'"')
        return s;
    return L'"' + s + L'"';
}

std::wstring GetPathDrive(const std::wstring& path)
{
    static constexpr wchar_t kLongPrefix[] = L"\\\\?\\";
    size_t start = 0;
    if (path.compare(0, 4, kLongPrefix) == 0)
        start = 4;
    if (path.size() < start + 2 || path[start + 1] != L':')
        return {};
    return path.substr(start, 2);
}

bool SplitPath(const std::wstring& path, std::wstring& directory, std::wstring& name)
{
    size_t length = path.size();
    if (length > 0 && path[length - 1] == kSeparator)
        --length;
    if (length == 0)
        return false;
    const std::wstring trimmed = path.substr(0, length);
    const size_t last = trimmed.rfind(kSeparator);
    if (last == std::wstring::npos) {
        directory.clear();
        name = trimmed;
        return true;
    }
    if (last == 0)
        return false;
    directory = trimmed.substr(0, last);
    name = trimmed.substr(last + 1);
    return true;
}

std::wstring ReplaceUserProfile(const std::wstring& path, const std::wstring& profile)
{
    std::wstring result;
    bool replaced = false;
    size_t i = 0;
    while (i < path.size()) {
        if (path[i] == L'%' && MatchesUserProfileAt(path, i)) {
            result += profile;
            i += kUserProfileLength;
            replaced = true;
        } else {
            result += path[i++];
        }
    }
    if (!replaced)
        return {};
    return result;
}

std::wstring UniqueDirectoryName(uint32_t tick, size_t attempt)
{
    return L"vm" + VmCommon::Decimal(tick) + VmCommon::Decimal(attempt) + L".tmp";
}

bool IsUniqueDirectoryPath(const std::wstring& parent, const std::wstring& path)
{
    std::wstring directory, name, parentDirectory, parentName;
    if (!SplitPath(path, directory, name) || !SplitPath(parent, parentDirectory, parentName) ||
        !VmCommon::EqualsAsciiNoCase(directory, PathCombine(parentDirectory, parentName)))
        return false;
    // "vm", the tick and the attempt (one digit at least each), ".tmp".
    const std::wstring_view text(name);
    return text.size() >= 8 && VmCommon::EqualsAsciiNoCase(text.substr(0, 2), L"vm") &&
           VmCommon::EqualsAsciiNoCase(text.substr(text.size() - 4), L".tmp") &&
           text.substr(2, text.size() - 6).find_first_not_of(L"0123456789") == std::wstring_view::npos;
}

std::wstring CreateUniqueDirectoryWith(const std::wstring& parent,
                                       const std::function<uint32_t()>& tick,
                                       const std::function<uint32_t(const std::wstring&)>& create)
{
    if (parent.empty())
        return {};
    for (size_t attempt = 0; attempt < kUniqueDirectoryAttempts; ++attempt) {
        // The tick is read anew each time so that a retry after a collision moves on in time too.
        const std::wstring path = PathCombine(parent, UniqueDirectoryName(tick(), attempt));
        const uint32_t error = create(path);
        if (error == 0)
            return path;
        if (error != VmCommon::kErrorAlreadyExists)
            return {};
    }
    return {};
}

} // namespace VmPath
