#include "common/Registry.h"

#include <gtest/gtest.h>

using namespace VmCommon;

namespace {

// HKEY_CURRENT_USER\Software\VmRegistryTest_<process>, removed with everything below it.
class RegistryTest : public ::testing::Test {
protected:
    RegistryTest() { registry_.SetRoot(HKEY_CURRENT_USER); }
    ~RegistryTest() override { RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }

    // Values of any type and shape, written around the wrapper.
    void Put(const wchar_t* name, DWORD type, const void* data, DWORD bytes)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, path(), name, type, data, bytes));
    }
    const wchar_t* path() const { return key_.c_str(); }

    const std::wstring key_ = L"Software\\VmRegistryTest_" + std::to_wstring(GetCurrentProcessId());
    Win32Registry registry_;
};

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

    const std::wstring missingKey = key_ + L"\\NoSuchKey";
    const struct {
        bool string; // else ReadDword
        const wchar_t* subkey;
        const wchar_t* name;
        RegistryResult expected;
        std::wstring text;
    } cases[] = {
        {true, path(), L"Expand", RegistrySuccess, L"%SystemRoot%\\x.dll"},
        {true, path(), L"Bare", RegistrySuccess, L"bare"},
        {true, path(), L"Odd", RegistrySuccess, L"ab"},
        {true, path(), L"Number", RegistryWrongType, L""},
        {true, path(), L"List", RegistryWrongType, L""},
        {true, path(), L"Missing", RegistryNotFound, L""},
        {true, missingKey.c_str(), L"Bare", RegistryNotFound, L""},
        {false, path(), L"Blob", RegistryWrongType, L""}, // four bytes, still binary
        {false, path(), L"None2", RegistryWrongType, L""},
        {false, path(), L"None4", RegistrySuccess, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring text;
        uint32_t value = 0;
        RegistryResult result = RegistryOtherError;
        const bool ok = c.string ? registry_.ReadString(c.subkey, c.name, text, &result)
                                 : registry_.ReadDword(c.subkey, c.name, value, &result);
        EXPECT_EQ(c.expected == RegistrySuccess, ok);
        EXPECT_EQ(c.expected, result);
        EXPECT_EQ(c.expected, registry_.LastResult());
        EXPECT_EQ(c.text, text);
    }
}

TEST_F(RegistryTest, WritesKeepTheirTypesAndNeverCreateKeys)
{
    ASSERT_TRUE(registry_.CreateKey(path()));
    EXPECT_TRUE(registry_.WriteString(path(), L"S", L"Velmora"));
    EXPECT_TRUE(registry_.WriteDword(path(), L"D", 0xFFFFFFFF));
    EXPECT_TRUE(registry_.WriteBinary(path(), L"B", {0, 255, 7}));
    EXPECT_FALSE(registry_.WriteString((key_ + L"\\Missing").c_str(), L"S", L"x"));
    EXPECT_EQ(RegistryNotFound, registry_.LastResult());

    const struct {
        const wchar_t* name;
        DWORD type;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {L"S", REG_SZ, {'V', 0, 'e', 0, 'l', 0, 'm', 0, 'o', 0, 'r', 0, 'a', 0, 0, 0}},
        {L"D", REG_DWORD, {255, 255, 255, 255}},
        {L"B", REG_BINARY, {0, 255, 7}},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> data;
        uint32_t type = 0;
        EXPECT_TRUE(registry_.ReadRaw(path(), c.name, data, type)) << c.name;
        EXPECT_EQ(c.type, type) << c.name;
        EXPECT_EQ(c.bytes, data) << c.name;
    }
    EXPECT_TRUE(registry_.DeleteValue(path(), L"S"));
    EXPECT_FALSE(registry_.ValueExists(path(), L"S"));
}

TEST_F(RegistryTest, ValuesEnumerateInOrderAndKeysDeleteOnlyWhenEmpty)
{
    const std::wstring inner = key_ + L"\\Inner";
    ASSERT_TRUE(registry_.CreateKey(inner.c_str()));
    // Wine keeps values sorted by name, Windows in the order written: write them sorted.
    EXPECT_TRUE(registry_.WriteDword(path(), L"1234", 1));
    EXPECT_TRUE(registry_.WriteDword(path(), L"6910", 1));
    std::vector<std::wstring> names;
    EXPECT_TRUE(registry_.EnumerateValueNames(path(), names));
    EXPECT_EQ((std::vector<std::wstring>{L"1234", L"6910"}), names);

    EXPECT_FALSE(registry_.DeleteKey(path())); // has a subkey
    EXPECT_TRUE(registry_.DeleteKey(inner.c_str()));
    EXPECT_FALSE(registry_.KeyExists(inner.c_str()));
    EXPECT_EQ(RegistryNotFound, registry_.LastResult());
    EXPECT_FALSE(registry_.DeleteKey(L""));
    EXPECT_EQ(RegistryInvalidParameter, registry_.LastResult());
}
