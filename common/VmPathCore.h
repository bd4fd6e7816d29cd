// Path text operations that need no file system: building, quoting and splitting paths with "\"
// as separator, and the naming and retry decisions of fresh temporary directories.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// <shlwapi.h> defines PathCombine as a macro; ours is a function of this namespace.
#ifdef PathCombine
#undef PathCombine
#endif

namespace VmPath {

// a empty: b; b empty: a; else a, one "\" (unless a ends in one) and b.
std::wstring PathCombine(const std::wstring& a, const std::wstring& b);

// s as it is when it is already enclosed in double quotes (at least 2 characters), else quoted.
std::wstring QuotePath(const std::wstring& s);

// "X:" of "X:\..." or "\\?\X:\...", empty when the path does not start with a drive.
std::wstring GetPathDrive(const std::wstring& path);

// Splits at the last "\" (one trailing "\" ignored). A path without "\" has an empty directory.
// Fails for an empty path and for one whose only "\" is its first character.
bool SplitPath(const std::wstring& path, std::wstring& directory, std::wstring& name);

// Replaces every "%USERPROFILE%" (case-insensitive, as environment names are) by profile.
// Empty when the path has none, so that a folder of another user is never taken for ours.
std::wstring ReplaceUserProfile(const std::wstring& path, const std::wstring& profile);

// "vm<tick><attempt>.tmp".
std::wstring UniqueDirectoryName(uint32_t tick, size_t attempt);

// Whether the full path names a directory right below parent that UniqueDirectoryName could have
// named (ASCII case ignored, one trailing "\" on either allowed).
bool IsUniqueDirectoryPath(const std::wstring& parent, const std::wstring& path);

constexpr size_t kUniqueDirectoryAttempts = 10000;

// The retry loop of CreateUniqueDirectory: tries UniqueDirectoryName(tick(), n) below parent for
// n = 0, 1, ...; create returns 0 on success or a Win32 error code. A taken name
// (VmCommon::kErrorAlreadyExists) tries the next number, any other error ends the search. Empty
// when no directory was created.
std::wstring CreateUniqueDirectoryWith(const std::wstring& parent,
                                       const std::function<uint32_t()>& tick,
                                       const std::function<uint32_t(const std::wstring&)>& create);

} // namespace VmPath
