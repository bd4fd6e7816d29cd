#include "common/Registry.h"

#include <gtest/gtest.h>

#include "tests/platform/PlatformTestSupport.h"

using namespace VmCommon;

namespace {

class RegistryTest : public ::testing::Test {
protected:
    RegistryTest() { registry_.SetRoot(HKEY_CURRENT_USER); }
    void SetUp() override { ASSERT_TRUE(key_.key()); }

    // Values of any type and shape, written around the wrapper.
    void Put(const wchar_t* name, DWORD type, const void* data, DWORD bytes)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key_.key(), name, 0, type, static_cast<const BYTE*>(data), bytes));
    }
    const wchar_t* path() const { return key_.path().c_str(); }

    PlatformTest::ScratchKey key_{HKEY_CURRENT_USER};
    Win32Registry registry_;
};

std::vector<uint8_t> BytesOf(const std::wstring& text)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    return std::vector<uint8_t>(bytes, bytes + text.size() * sizeof(wchar_t));
}

} // namespace

TEST_F(RegistryTest, ReadersCheckTypesAndTakeStringsAsStored)
{
    const DWORD number = 7;
    Put(L"Number", REG_DWORD, &number, sizeof(number));
    Put(L"None4", REG_NONE, &number, sizeof(number));
    Put(L"None2", REG_NONE, &number, 2);
    Put(L"Blob", REG_BINARY, &number, sizeof(number));
    Put(L"List", REG_MULTI_SZ, L"a\0b\0", 10);
    Put(L"Expand", REG_EXPAND_SZ, L"%SystemRoot%\\x.dll", 38);
    // Other programs store strings without a terminator, or with an odd byte count.
    Put(L"Bare", REG_SZ, L"bare", 8);
    Put(L"Odd", REG_SZ, L"abc", 5);

    enum Reader { String, Dword, Binary };
    const std::wstring missingKey = key_.path() + L"\\NoSuchKey";
    const struct {
        Reader reader;
        const wchar_t* subkey;
        const wchar_t* name;
        RegistryResult expected;
        std::wstring text; // what a string reader gives
    } cases[] = {
        {String, path(), L"Expand", RegistrySuccess, L"%SystemRoot%\\x.dll"},
        {String, path(), L"Bare", RegistrySuccess, L"bare"},
        {String, path(), L"Odd", RegistrySuccess, L"ab"},
        {String, path(), L"Number", RegistryWrongType, L""},
        {String, path(), L"List", RegistryWrongType, L""},
        {String, path(), L"Missing", RegistryNotFound, L""},
        {String, missingKey.c_str(), L"Bare", RegistryNotFound, L""},
        {Dword, path(), L"Bare", RegistryWrongType, L""},
        {Dword, path(), L"Blob", RegistryWrongType, L""}, // four bytes, still binary
        {Dword, path(), L"None2", RegistryWrongType, L""},
        {Dword, path(), L"None4", RegistrySuccess, L""},
        {Binary, path(), L"Number", RegistryWrongType, L""},
        {Binary, path(), L"Blob", RegistrySuccess, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring text;
        uint32_t value = 0;
        std::vector<uint8_t> bytes;
        RegistryResult result = RegistryOtherError;
        const bool ok = c.reader == String  ? registry_.ReadString(c.subkey, c.name, text, &result)
                        : c.reader == Dword ? registry_.ReadDword(c.subkey, c.name, value, &result)
                                            : registry_.ReadBinary(c.subkey, c.name, bytes, &result);
        EXPECT_EQ(c.expected == RegistrySuccess, ok);
        EXPECT_EQ(c.expected, result);
        EXPECT_EQ(c.expected, registry_.LastResult());
        EXPECT_EQ(c.text, text);
    }
}

TEST_F(RegistryTest, WritesAndCopiesKeepTheirTypes)
{
    const std::wstring target = key_.path() + L"\\Target";
    ASSERT_TRUE(registry_.CreateKey(target.c_str()));
    EXPECT_TRUE(registry_.WriteString(path(), L"S", L"Velmora"));
    EXPECT_TRUE(registry_.WriteDword(path(), L"D", 0xFFFFFFFF));
    EXPECT_TRUE(registry_.WriteBinary(path(), L"B", {0, 255, 7}));
    EXPECT_TRUE(registry_.WriteMultiString(path(), L"M", {L"one", L"two"}));
    EXPECT_FALSE(registry_.WriteString((key_.path() + L"\\Missing").c_str(), L"S", L"x"));
    EXPECT_EQ(RegistryNotFound, registry_.LastResult()); // writes never create keys
    // An empty entry would end the list early for every reader.
    EXPECT_FALSE(registry_.WriteMultiString(path(), L"Bad", {L"a", L"", L"c"}));
    EXPECT_EQ(RegistryInvalidParameter, registry_.LastResult());
    EXPECT_FALSE(registry_.ValueExists(path(), L"Bad"));

    const struct {
        const wchar_t* name;
        DWORD type;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {L"S", REG_SZ, BytesOf(std::wstring(L"Velmora\0", 8))},
        {L"D", REG_DWORD, {255, 255, 255, 255}},
        {L"B", REG_BINARY, {0, 255, 7}},
        {L"M", REG_MULTI_SZ, BytesOf(std::wstring(L"one\0two\0\0", 9))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(registry_.CopyValue(path(), c.name, target.c_str(), c.name));
        std::vector<uint8_t> data;
        uint32_t type = 0;
        EXPECT_TRUE(registry_.ReadRaw(target.c_str(), c.name, data, type));
        EXPECT_EQ(c.type, type);
        EXPECT_EQ(c.bytes, data);
    }
    EXPECT_FALSE(registry_.CopyValue(path(), L"Missing", target.c_str(), L"Other"));
    EXPECT_EQ(RegistryNotFound, registry_.LastResult());
    EXPECT_TRUE(registry_.DeleteValue(path(), L"S"));
    EXPECT_FALSE(registry_.ValueExists(path(), L"S"));
}

TEST_F(RegistryTest, KeysEnumerateInOrderAndDeleteOnlyWhenEmpty)
{
    const std::wstring keys = key_.path() + L"\\Keys";
    for (const wchar_t* name : {L"Alpha", L"Beta", L"Gamma"})
        ASSERT_TRUE(registry_.CreateKey((keys + L"\\" + name).c_str()));
    // Wine keeps values sorted by name, Windows in the order written: write them sorted.
    EXPECT_TRUE(registry_.WriteDword(keys.c_str(), L"1234", 1));
    EXPECT_TRUE(registry_.WriteDword(keys.c_str(), L"6910", 1));

    std::vector<std::wstring> names;
    EXPECT_TRUE(registry_.EnumerateSubkeys(keys.c_str(), names));
    EXPECT_EQ((std::vector<std::wstring>{L"Alpha", L"Beta", L"Gamma"}), names);
    EXPECT_TRUE(registry_.EnumerateValueNames(keys.c_str(), names));
    EXPECT_EQ((std::vector<std::wstring>{L"1234", L"6910"}), names);

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
    for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        const REGSAM otherView = view ^ (KEY_WOW64_64KEY | KEY_WOW64_32KEY);
        PlatformTest::ScratchKey key(HKEY_LOCAL_MACHINE, view);
        ASSERT_TRUE(key.key());
        Win32Registry writer, other;
        writer.SetAccessFlags(view);
        other.SetAccessFlags(otherView);
        ASSERT_TRUE(writer.WriteString(key.path().c_str(), L"Marker", L"here"));
        std::wstring text;
        EXPECT_FALSE(other.ReadString(key.path().c_str(), L"Marker", text)) << view;
        EXPECT_EQ(RegistryNotFound, other.LastResult());

        // The same name in the other view is a key of its own: deleting it leaves this one.
        PlatformTest::ScratchKey otherKey(HKEY_LOCAL_MACHINE, otherView);
        EXPECT_TRUE(other.DeleteKey(key.path().c_str()));
        EXPECT_TRUE(writer.ReadString(key.path().c_str(), L"Marker", text)) << view;
    }
}
