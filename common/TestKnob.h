// Switches that only the test build reads, so that tests can stage what a real machine would do
// (a restart that must not end Wine's prefix, a short wait, a failing installer). The shipping
// build reads none: nothing left in a user's registry can change what it does.
#pragma once

#include <cstdint>
#include <string>

namespace VmCommon {

// The DWORD value name of "Software\Velmora\Test\<program>" in the current user's hive, or in the
// hive of userSid under HKEY_USERS; value is left alone unless it is read. Always false in the
// shipping build.
bool ReadTestKnob(const wchar_t* program, const wchar_t* name, uint32_t& value,
                  const std::wstring& userSid = std::wstring());

} // namespace VmCommon
