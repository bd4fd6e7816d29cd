// The one conversion between UTF-8 (files, resources, network documents) and the program's wide
// strings. Invalid input never fails: each bad sequence becomes U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace VmCommon {

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

} // namespace VmCommon
