// Test fixtures for the file-system side of the path utilities: a fresh directory per test that
// is removed afterwards whatever happened, and directory links made for real.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Handles.h"

namespace PathTest {

bool UnderWine();
bool IsReparsePoint(const std::wstring& path);

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // root\relative
    std::wstring Path(const std::wstring& relative) const;
    void MakeDirectory(const std::wstring& relative);
    void MakeFile(const std::wstring& relative, DWORD attributes = FILE_ATTRIBUTE_NORMAL);
    // Opened without FILE_SHARE_DELETE: the file cannot be deleted while the handle lives.
    VmCommon::UniqueFile OpenUndeletable(const std::wstring& relative) const;
    bool Exists(const std::wstring& relative) const;
    // The names in a directory, sorted; empty when it cannot be listed.
    std::vector<std::wstring> List(const std::wstring& relative) const;

    enum class LinkKind { None, Junction, HostLink };
    // A directory link at link (relative) pointing to target (relative): a mount-point junction
    // where the file system takes one; else, under Wine (whose 8.0 rejects
    // FSCTL_SET_REPARSE_POINT), a host symbolic link, which Wine presents as a reparse point.
    // None unless the link really is a reparse point.
    LinkKind MakeDirectoryLink(const std::wstring& link, const std::wstring& target);

    std::wstring root_;

private:
    std::vector<std::wstring> hostLinks_;
};

} // namespace PathTest
