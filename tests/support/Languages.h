// The languages this build offers, in the order the settings list them (UTF-16 order of the
// tags); the same list as tools/check_properties.py's LANGUAGES.
#pragma once

#include <string>
#include <vector>

namespace VmTest {

inline const std::vector<std::wstring> kBuildLanguages = {
    L"bg", L"cs", L"da", L"de", L"el", L"en", L"es", L"es-MX", L"et", L"fi", L"fr", L"fr-CA",
    L"hu", L"it", L"ja", L"lt", L"nl", L"no", L"pl", L"pt", L"pt-BR", L"ro", L"ru", L"sl",
    L"sv", L"tr", L"vi", L"zh", L"zh-HK", L"zh-TW"};

} // namespace VmTest
