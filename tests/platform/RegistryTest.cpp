#include "common/Registry.h"

#include <gtest/gtest.h>

#include "tests/platform/TestSupport.h"

using namespace VmCommon;
using PlatformTest::ScopedRegistryKey;

namespace {

class RegistryTest : public ::testing::Test {
protected:
    RegistryTest()
        : path_(L"Software\\Velmora\\" + PlatformTest::UniqueName(L"PlatformTest")),
          key_(HKEY_CURRENT_USER, path_)
    {
        registry_.SetRoot(HKEY_CURRENT_USER);
    }

    void SetUp() override { ASSERT_TRUE(key_.ok()); }

    // Values of any type and shape, written around the wrapper.
    void Put(const wchar_t* name, DWORD type, const void* data, DWORD bytes)
    {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key_.key(), name, 0, type, static_cast<const BYTE*>(data), bytes));
    }
    void PutDword(const wchar_t* name, DWORD value) { Put(name, REG_DWORD, &value, sizeof(value)); }
    void PutText(const wchar_t* name, DWORD type, const std::wstring& text)
    {
        Put(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }

    const wchar_t* path() const { return path_.c_str(); }

    std::wstring path_;
    ScopedRegistryKey key_;
    Win32Registry registry_;
};

} // namespace

TEST_F(RegistryTest, ReadersRejectOtherTypesAndMissingValues)
{
    PutDword(L"Number", 7);
    PutText(L"Text", REG_SZ, L"seven");
    PutText(L"List", REG_MULTI_SZ, std::wstring(L"a\0b\0", 4));
    const uint8_t bytes[] = {1, 2, 3, 4};
    Put(L"Blob", REG_BINARY, bytes, sizeof(bytes));

    std::wstring text;
    uint32_t number = 0;
    std::vector<uint8_t> blob;
    RegistryResult result = RegistrySuccess;

    EXPECT_FALSE(registry_.ReadString(path(), L"Number", text, &result));
    EXPECT_EQ(RegistryWrongType, result);
    EXPECT_EQ(RegistryWrongType, registry_.LastResult());
    EXPECT_FALSE(registry_.ReadString(path(), L"List", text, &result));
    EXPECT_EQ(RegistryWrongType, result);
    EXPECT_FALSE(registry_.ReadDword(path(), L"Text", number, &result));
    EXPECT_EQ(RegistryWrongType, result);
    EXPECT_FALSE(registry_.ReadDword(path(), L"Blob", number, &result)); // four bytes, still binary
    EXPECT_EQ(RegistryWrongType, result);
    EXPECT_FALSE(registry_.ReadBinary(path(), L"Number", blob, &result));
    EXPECT_EQ(RegistryWrongType, result);

    EXPECT_FALSE(registry_.ReadString(path(), L"Missing", text, &result));
    EXPECT_EQ(RegistryNotFound, result);
    EXPECT_FALSE(registry_.ReadDword((path_ + L"\\NoSuchKey").c_str(), L"Number", number, &result));
    EXPECT_EQ(RegistryNotFound, result);
    EXPECT_FALSE(registry_.ValueExists(path(), L"Missing"));
    EXPECT_EQ(RegistryNotFound, registry_.LastResult());

    // A success clears the last result again.
    EXPECT_TRUE(registry_.ReadDword(path(), L"Number", number));
    EXPECT_EQ(7u, number);
    EXPECT_EQ(RegistrySuccess, registry_.LastResult());
}

TEST_F(RegistryTest, StringsAreReadAsStoredWithoutExpansion)
{
    PutText(L"Expand", REG_EXPAND_SZ, L"%SystemRoot%\\x.dll");
    // Stored by other programs without a terminator, or with an odd byte count.
    const std::wstring bare = L"no terminator";
    Put(L"Bare", REG_SZ, bare.data(), static_cast<DWORD>(bare.size() * sizeof(wchar_t)));
    Put(L"Odd", REG_SZ, L"abc", 5);
    Put(L"Empty", REG_SZ, L"", 0);
    const std::wstring longText(5000, L'x');
    PutText(L"Long", REG_SZ, longText);

    const struct {
        const wchar_t* name;
        std::wstring expected;
    } cases[] = {
        {L"Expand", L"%SystemRoot%\\x.dll"},
        {L"Bare", bare},
        {L"Odd", L"ab"},
        {L"Empty", L""},
        {L"Long", longText},
    };
    for (const auto& c : cases) {
        std::wstring text = L"stale";
        EXPECT_TRUE(registry_.ReadString(path(), c.name, text)) << c.name;
        EXPECT_EQ(c.expected, text) << c.name;
    }
}

TEST_F(RegistryTest, WritesRoundTripWithTheirTypes)
{
    EXPECT_TRUE(registry_.WriteString(path(), L"S", L"Velmora"));
    EXPECT_TRUE(registry_.WriteDword(path(), L"D", 0xFFFFFFFF));
    EXPECT_TRUE(registry_.WriteBinary(path(), L"B", {0, 255, 7}));
    EXPECT_TRUE(registry_.WriteMultiString(path(), L"M", {L"one", L"two"}));
    EXPECT_TRUE(registry_.WriteString("Software\\Velmora\\NoSuchKeyHere", "S", L"x") == false);
    EXPECT_EQ(RegistryNotFound, registry_.LastResult()); // writes never create keys

    std::vector<uint8_t> data;
    uint32_t type = 0;
    ASSERT_TRUE(registry_.ReadRaw(path(), L"S", data, type));
    EXPECT_EQ(static_cast<uint32_t>(REG_SZ), type);
    EXPECT_EQ(8u * sizeof(wchar_t), data.size()); // terminator included
    ASSERT_TRUE(registry_.ReadRaw(path(), L"M", data, type));
    EXPECT_EQ(static_cast<uint32_t>(REG_MULTI_SZ), type);
    const std::wstring list(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    EXPECT_EQ(std::wstring(L"one\0two\0\0", 9), list);

    uint32_t number = 0;
    EXPECT_TRUE(registry_.ReadDword(path(), L"D", number));
    EXPECT_EQ(0xFFFFFFFFu, number);
    std::vector<uint8_t> blob;
    EXPECT_TRUE(registry_.ReadBinary(path(), L"B", blob));
    EXPECT_EQ((std::vector<uint8_t>{0, 255, 7}), blob);

    // The narrow overloads address the same values.
    std::wstring text;
    EXPECT_TRUE(registry_.ReadString(PlatformTest::ToNarrow(path_).c_str(), "S", text));
    EXPECT_EQ(L"Velmora", text);
}

TEST_F(RegistryTest, MultiStringWithAnEmptyEntryIsRejectedUnwritten)
{
    RegistryResult result = RegistrySuccess;
    EXPECT_FALSE(registry_.WriteMultiString(path(), L"M", {L"a", L"", L"c"}, &result));
    EXPECT_EQ(RegistryInvalidParameter, result);
    EXPECT_FALSE(registry_.ValueExists(path(), L"M"));
}

TEST_F(RegistryTest, DwordReaderTakesFourByteNoneValues)
{
    const DWORD value = 42;
    Put(L"None4", REG_NONE, &value, sizeof(value));
    Put(L"None2", REG_NONE, &value, 2);
    uint32_t number = 0;
    EXPECT_TRUE(registry_.ReadDword(path(), L"None4", number));
    EXPECT_EQ(42u, number);
    EXPECT_FALSE(registry_.ReadDword(path(), L"None2", number));
    EXPECT_EQ(RegistryWrongType, registry_.LastResult());
}

TEST_F(RegistryTest, CopyKeepsTheTypeAndDeleteRemoves)
{
    PutText(L"Path", REG_EXPAND_SZ, L"%TEMP%\\a");
    const std::wstring target = path_ + L"\\Target";
    ASSERT_TRUE(registry_.CreateKey(target.c_str()));
    ASSERT_TRUE(registry_.CopyValue(path(), L"Path", target.c_str(), L"Copied"));

    std::vector<uint8_t> data;
    uint32_t type = 0;
    ASSERT_TRUE(registry_.ReadRaw(target.c_str(), L"Copied", data, type));
    EXPECT_EQ(static_cast<uint32_t>(REG_EXPAND_SZ), type);
    std::wstring text;
    EXPECT_TRUE(registry_.ReadString(target.c_str(), L"Copied", text));
    EXPECT_EQ(L"%TEMP%\\a", text);

    EXPECT_FALSE(registry_.CopyValue(path(), L"Missing", target.c_str(), L"Other"));
    EXPECT_EQ(RegistryNotFound, registry_.LastResult());
    EXPECT_FALSE(registry_.ValueExists(target.c_str(), L"Other"));

    EXPECT_TRUE(registry_.DeleteValue(target.c_str(), L"Copied"));
    EXPECT_FALSE(registry_.ValueExists(target.c_str(), L"Copied"));
    EXPECT_FALSE(registry_.DeleteValue(target.c_str(), L"Copied"));
    EXPECT_EQ(RegistryNotFound, registry_.LastResult());
}

TEST_F(RegistryTest, KeysEnumerateInOrderAndDeleteOnlyWhenEmpty)
{
    for (const wchar_t* name : {L"Alpha", L"Beta", L"Gamma"})
        ASSERT_TRUE(registry_.CreateKey((path_ + L"\\Keys\\" + name).c_str()));
    const std::wstring keys = path_ + L"\\Keys";
    // Wine keeps values sorted by name, Windows in the order written: write them sorted.
    EXPECT_TRUE(registry_.WriteDword(keys.c_str(), L"1234", 1));
    EXPECT_TRUE(registry_.WriteDword(keys.c_str(), L"6910", 1));

    std::vector<std::wstring> names;
    EXPECT_TRUE(registry_.EnumerateSubkeys(keys.c_str(), names));
    EXPECT_EQ((std::vector<std::wstring>{L"Alpha", L"Beta", L"Gamma"}), names);
    EXPECT_TRUE(registry_.EnumerateValueNames(keys.c_str(), names));
    EXPECT_EQ((std::vector<std::wstring>{L"1234", L"6910"}), names);
    EXPECT_FALSE(registry_.EnumerateValueNames((keys + L"\\Missing").c_str(), names));
    EXPECT_EQ(RegistryNotFound, registry_.LastResult());
    EXPECT_TRUE(names.empty());

    EXPECT_TRUE(registry_.KeyExists(keys.c_str()));
    EXPECT_FALSE(registry_.DeleteKey(keys.c_str())); // has subkeys
    EXPECT_TRUE(registry_.KeyExists(keys.c_str()));
    EXPECT_TRUE(registry_.DeleteKey((keys + L"\\Beta").c_str()));
    EXPECT_FALSE(registry_.KeyExists((keys + L"\\Beta").c_str()));
    EXPECT_EQ(RegistryNotFound, registry_.LastResult());
    EXPECT_FALSE(registry_.DeleteKey(L""));
    EXPECT_EQ(RegistryInvalidParameter, registry_.LastResult());
}

TEST(RegistryViews, SixtyFourAndThirtyTwoBitViewsAreDistinct)
{
    const std::wstring path = L"Software\\" + PlatformTest::UniqueName(L"VelmoraViewTest");
    const struct {
        REGSAM written;
        REGSAM other;
    } cases[] = {{KEY_WOW64_64KEY, KEY_WOW64_32KEY}, {KEY_WOW64_32KEY, KEY_WOW64_64KEY}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written == KEY_WOW64_64KEY ? "64-bit view" : "32-bit view");
        ScopedRegistryKey cleanupWritten(HKEY_LOCAL_MACHINE, path, c.written);
        ASSERT_TRUE(cleanupWritten.ok());
        Win32Registry writer;
        writer.SetAccessFlags(c.written);
        ASSERT_TRUE(writer.WriteString(path.c_str(), L"Marker", L"here"));

        Win32Registry other;
        other.SetAccessFlags(c.other);
        std::wstring text;
        EXPECT_FALSE(other.KeyExists(path.c_str()));
        EXPECT_FALSE(other.ReadString(path.c_str(), L"Marker", text));
        EXPECT_EQ(RegistryNotFound, other.LastResult());

        // The same key in the other view is a key of its own: deleting it leaves this one.
        {
            ScopedRegistryKey cleanupOther(HKEY_LOCAL_MACHINE, path, c.other);
            ASSERT_TRUE(other.KeyExists(path.c_str()));
            EXPECT_TRUE(other.DeleteKey(path.c_str()));
            EXPECT_FALSE(other.KeyExists(path.c_str()));
        }
        EXPECT_TRUE(writer.ReadString(path.c_str(), L"Marker", text));
        EXPECT_EQ(L"here", text);
        EXPECT_TRUE(writer.DeleteKey(path.c_str()));
        EXPECT_FALSE(writer.KeyExists(path.c_str()));
    }
}
