// Shell folders without depending on a shell version, and the file-system side of the path
// utilities. Failures give an empty string or false and leave the failing call's last error.
#pragma once

#include <windows.h>

#include <string>

#include "common/VmPathCore.h"

namespace VmPath {

// Folders are read from the registry first (so that they resolve for another user too), then
// from the shell. 0 to 7 are machine-wide, 8 and above belong to a user.
enum KnownFolderId : int {
    KnownFolderCommonAppData = 0,
    KnownFolderCommonDesktop = 1,
    KnownFolderCommonStartMenu = 2,
    KnownFolderCommonPrograms = 3,
    KnownFolderCommonStartup = 4,
    KnownFolderProgramFiles = 5,
    KnownFolderProgramFilesX86 = 6,
    KnownFolderNone = 7, // reserved: always empty
    KnownFolderAppData = 8,
    KnownFolderLocalAppData = 9,
    KnownFolderDesktop = 10,
    KnownFolderPersonal = 11,
    KnownFolderMyPictures = 12,
    KnownFolderMyMusic = 13,
    KnownFolderMyVideo = 14,
    KnownFolderFavorites = 15,
    KnownFolderStartMenu = 16,
    KnownFolderPrograms = 17,
    KnownFolderStartup = 18,
    KnownFolderCache = 19,
    KnownFolderProfile = 20,
};

// userSid empty: the current user (with the shell as fallback). Otherwise the folders of 8 and
// above come from that user's registry and profile only; a folder that cannot be placed in that
// user's profile is empty rather than ours.
std::wstring GetKnownFolder(KnownFolderId id, const std::wstring& userSid = std::wstring());

// ExpandEnvironmentStringsW with a buffer that grows to the size it asks for; empty on failure.
std::wstring ExpandEnvironment(const std::wstring& text);

// Every "%USERPROFILE%" in path replaced by the ProfileImagePath of userSid; empty when the
// profile is unknown or path has no "%USERPROFILE%".
std::wstring ExpandUserProfile(const std::wstring& path, const std::wstring& userSid);

// A new directory "vm<tick><n>.tmp" below parent; a taken name tries the next n, any other error
// gives up. Empty on failure.
std::wstring CreateUniqueDirectory(const std::wstring& parent,
                                   SECURITY_ATTRIBUTES* security = nullptr);

// The full form of directory (relative, with "." or ".." or not) when it is an existing directory
// that CreateUniqueDirectory could have made below parent and no reparse point; empty otherwise.
std::wstring FindUniqueDirectory(const std::wstring& parent, const std::wstring& directory);

// Deletes directory and everything below it. Reparse points are removed without being entered.
// The walk never stops early; with deleteAtRestartOnFailure, what cannot be removed now is
// scheduled for removal at the next restart. True when every removal (or scheduling) succeeded.
bool DeleteTree(const std::wstring& directory, bool deleteAtRestartOnFailure);

// The full path of the program file, and the same split into directory and file name.
std::wstring GetModulePath();
bool GetModulePath(std::wstring& directory, std::wstring& name);

std::wstring GetSystemDirectoryPath();
// With the trailing "\" GetTempPathW gives.
std::wstring GetTempDirectoryPath();

// True for an existing path that is not a directory.
bool FileExistsPath(const std::wstring& path);

} // namespace VmPath
