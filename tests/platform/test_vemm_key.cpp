// VemmKey against the store stand-in, on each test's own store subtree.
#include <gtest/gtest.h>

#include <string>

#include "platform/vemm_key.h"
#include "suite.h"

namespace {

const HKEY kRoot = HKEY_LOCAL_MACHINE;

class VemmKeyOnStore : public ::testing::Test {
protected:
    // Reads a text value of "Values" into a buffer of `capacity` characters.
    LONG QueryText(const wchar_t* name, ULONG capacity, std::wstring* text, ULONG* chars) {
        VemmKey key;
        const LONG opened = key.OpenKey(kRoot, L"Values");
        if (opened != ERROR_SUCCESS) return opened;
        wchar_t buffer[32];
        wmemset(buffer, L'#', 32);
        *chars = capacity;
        const LONG result = key.QueryStringValue(name, buffer, chars);
        *text = std::wstring(buffer, 32);
        return result;
    }

    peltest::TestSuite suite{false};
};

TEST_F(VemmKeyOnStore, ReadsTheActiveMask) {
    suite.SetActiveMask(0x8000000Bu);
    VemmKey key;
    ASSERT_EQ(0, key.OpenKey(kRoot, L"OPTIONS\\Active"));
    DWORD mask = 0;
    EXPECT_EQ(0, key.QueryDWORDValue(L"ActiveOpt", &mask));
    EXPECT_EQ(0x8000000Bu, mask);
    key.CloseKey();
}

TEST_F(VemmKeyOnStore, ReadsTextsOfBothTextTypes) {
    suite.SetString(L"Values", L"Plain", L"C:\\Suite\\QXInstall.dll");
    suite.SetString(L"Values", L"Expand", L"%SystemRoot%\\x", REG_EXPAND_SZ);
    std::wstring text;
    ULONG chars = 0;
    EXPECT_EQ(0, QueryText(L"Plain", 32, &text, &chars));
    EXPECT_EQ(23u, chars);  // the terminator counts
    EXPECT_STREQ(L"C:\\Suite\\QXInstall.dll", text.c_str());
    EXPECT_EQ(0, QueryText(L"Expand", 32, &text, &chars));
    EXPECT_EQ(15u, chars);
    EXPECT_STREQ(L"%SystemRoot%\\x", text.c_str());  // not expanded
}

TEST_F(VemmKeyOnStore, MissingKeysAndValuesGiveTheStoresCode) {
    suite.SetDword(L"Values", L"Number", 5);
    VemmKey key;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.OpenKey(kRoot, L"No\\Such\\Key"));
    ASSERT_EQ(0, key.OpenKey(kRoot, L"Values"));
    DWORD value = 77;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.QueryDWORDValue(L"Absent", &value));
    EXPECT_EQ(77u, value);
    wchar_t text[8] = L"keep";
    ULONG chars = 8;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.QueryStringValue(L"Absent", text, &chars));
    EXPECT_EQ(0u, chars);
    EXPECT_STREQ(L"keep", text);
}

TEST_F(VemmKeyOnStore, EmptyPathAndOtherRootsAreRefused) {
    VemmKey key;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.OpenKey(kRoot, L""));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.OpenKey(kRoot, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, key.OpenKey(HKEY_CURRENT_USER, L"Values"));
}

TEST_F(VemmKeyOnStore, NumberMustHaveTheNumberType) {
    const wchar_t shortText[] = L"1";  // 4 bytes: fits the number's buffer
    suite.SetBinary(L"Values", L"Short", shortText, sizeof(shortText), REG_SZ);
    const BYTE binary[] = {1, 0, 0, 0};
    suite.SetBinary(L"Values", L"Binary", binary, sizeof(binary), REG_BINARY);
    suite.SetString(L"Values", L"Long", L"123456");
    VemmKey key;
    ASSERT_EQ(0, key.OpenKey(kRoot, L"Values"));
    DWORD value = 0;
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryDWORDValue(L"Short", &value));
    EXPECT_EQ(0x31u, value);  // what the store wrote stays
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryDWORDValue(L"Binary", &value));
    EXPECT_EQ(ERROR_MORE_DATA, key.QueryDWORDValue(L"Long", &value));
}

// Under Wine the registry terminates an unterminated text itself; the scripted store fixture
// covers that case.
TEST_F(VemmKeyOnStore, BadlyShapedTextsAreRejected) {
    const wchar_t odd[] = L"ab";
    suite.SetBinary(L"Values", L"Odd", odd, 5, REG_SZ);
    suite.SetDword(L"Values", L"Number", 3);
    suite.SetBinary(L"Values", L"Binary", L"ab", 6, REG_BINARY);
    for (const wchar_t* name : {L"Odd", L"Number", L"Binary"}) {
        std::wstring text;
        ULONG chars = 99;
        EXPECT_EQ(ERROR_INVALID_DATA, QueryText(name, 32, &text, &chars)) << name;
        EXPECT_EQ(0u, chars) << name;
    }
}

TEST_F(VemmKeyOnStore, ZeroSizeTextReadsAsEmpty) {
    suite.SetBinary(L"Values", L"Nothing", nullptr, 0, REG_SZ);
    std::wstring text;
    ULONG chars = 99;
    EXPECT_EQ(0, QueryText(L"Nothing", 32, &text, &chars));
    EXPECT_EQ(0u, chars);
    EXPECT_EQ(L'\0', text[0]);
    EXPECT_EQ(L'#', text[1]);
}

TEST_F(VemmKeyOnStore, TextLongerThanTheBufferIsNotCopied) {
    suite.SetString(L"Values", L"Long", L"abcdef");
    std::wstring text;
    ULONG chars = 0;
    EXPECT_EQ(ERROR_MORE_DATA, QueryText(L"Long", 6, &text, &chars));
    EXPECT_EQ(0u, chars);
    EXPECT_EQ(0, QueryText(L"Long", 7, &text, &chars));
    EXPECT_EQ(7u, chars);
    EXPECT_STREQ(L"abcdef", text.c_str());
    EXPECT_EQ(L'#', text[7]);
}

TEST_F(VemmKeyOnStore, ReleasedKeyCanBeUsedAgain) {
    suite.SetDword(L"First", L"N", 1);
    suite.SetDword(L"Second", L"N", 2);
    VemmKey key;
    ASSERT_EQ(0, key.OpenKey(kRoot, L"First"));
    key.Release();
    DWORD value = 0;
    // A new store object, with no key open.
    EXPECT_EQ(ERROR_INVALID_HANDLE, key.QueryDWORDValue(L"N", &value));
    ASSERT_EQ(0, key.OpenKey(kRoot, L"Second"));
    EXPECT_EQ(0, key.QueryDWORDValue(L"N", &value));
    EXPECT_EQ(2u, value);
}

TEST_F(VemmKeyOnStore, StoreLibraryStaysLoaded) {
    {
        VemmKey key;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.OpenKey(kRoot, L"Nothing"));
    }
    const HMODULE store = GetModuleHandleW(L"VemmBase.dll");
    ASSERT_NE(nullptr, store);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(store, path, MAX_PATH);
    EXPECT_EQ(0, lstrcmpiW(peltest::BinPath(L"VemmBase.dll").c_str(), path));
}

}  // namespace
