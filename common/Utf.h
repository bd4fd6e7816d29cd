// The one conversion between UTF-8 (files, resources, network documents) and the program's wide
// strings. Invalid input never fails: each bad sequence becomes U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace VmCommon {

std::wstring Utf8ToWide(std::string_view text);
// For input that must be exactly right (embedded resources): false at the first truncated,
// overlong, surrogate or out-of-range sequence, and out is then left empty.
bool Utf8ToWideStrict(std::string_view text, std::wstring& out);
std::string WideToUtf8(std::wstring_view text);

} // namespace VmCommon
