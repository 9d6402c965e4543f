#include "base/TextConversion.h"
#include "startup/GF_SupportFunctions.h"
#include "startup/uxlink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace
{

struct TSwitchCase
{
    const wchar_t* CommandLine;
    const wchar_t* Name;
    const wchar_t* Expected;
};

// Default for every row is L"<default>", so a row can tell "absent" from "empty".
const TSwitchCase SwitchCases[] = {
    {LR"(C:\bin\uxlink.exe -name=Demo -version=1.2)", L"name", L"Demo"},
    {LR"(C:\bin\uxlink.exe -name=Demo -version=1.2)", L"version", L"1.2"},
    {LR"(C:\bin\uxlink.exe -version=1.2)", L"name", L"<default>"},
    // A blank value is empty, not the default.
    {LR"(uxlink.exe -name= -pid=4)", L"name", L""},
    // The value ends at the next hyphen-minus or equals sign.
    {LR"(uxlink.exe -hellomsg=Good-bye)", L"hellomsg", L"Good"},
    {LR"(uxlink.exe -hellomsg=a=b)", L"hellomsg", L"a"},
    // Quotes go, inner blanks stay; a quote inside a value goes too.
    {LR"(uxlink.exe -name="Remote  Desk" -pid=1)", L"name", L"Remote  Desk"},
    {LR"(uxlink.exe -name=Re"mo"te)", L"name", L"Remote"},
    // Names are case-sensitive and must stand right between "-" and "=".
    {LR"(uxlink.exe -Name=x)", L"name", L"<default>"},
    {LR"(uxlink.exe - name=x)", L"name", L"<default>"},
    {LR"(uxlink.exe -name =x)", L"name", L"<default>"},
    // The first occurrence wins.
    {LR"(uxlink.exe -pid=1 -pid=2)", L"pid", L"1"},
    // Blanks around a value are trimmed.
    {L"uxlink.exe -rebranded= 1 \t", L"rebranded", L"1"},
    // A hyphen in the program path makes extra segments that match nothing.
    {LR"(C:\my-tools\ux-link.exe -pid=7)", L"pid", L"7"},
    // Empty segments and a name without "=" neither fail nor match.
    {LR"(uxlink.exe --name -name)", L"name", L"<default>"},
    {L"-", L"name", L"<default>"},
    {L"", L"name", L"<default>"},
};

TEST(GetSwitchValue, ReadsSwitchesAsTheServiceWritesThem)
{
    for (const TSwitchCase& row : SwitchCases)
        EXPECT_EQ(GetSwitchValue(row.CommandLine, row.Name, L"<default>"), row.Expected)
            << "command line: " << WideToUtf8(row.CommandLine) << ", switch " << WideToUtf8(row.Name);
}

TEST(StripChars, RemovesOnlyEightBitMembersOfTheSet)
{
    EXPECT_EQ(StripChars(L"a\"b\"c", MakeCharSet(L"\"")), L"abc");
    EXPECT_EQ(StripChars(L"x\u0122y\u00e9", MakeCharSet(L"\u00e9")), L"x\u0122y");
    // A character above 255 is never removed, even when its low byte is in the set.
    EXPECT_EQ(StripChars(L"\u0122", MakeCharSet(L"\x22")), L"\u0122");
}

TEST(IntegerFromText, ReadsTheWholeTextInTheFormsTheCallerAllows)
{
    constexpr auto Decimal = TNumberForms::nfDecimal;
    constexpr auto DecimalOrHex = TNumberForms::nfDecimalOrHex;
    struct
    {
        const wchar_t* Text;
        TNumberForms Forms;
        int Expected; // with -1 as the default
    } rows[] = {
        {L"4242", DecimalOrHex, 4242},
        {L"$10", DecimalOrHex, 16},
        {L"0x1F", DecimalOrHex, 31},
        {L"-5", DecimalOrHex, -5},
        {L"+7", DecimalOrHex, 7},
        {L"2147483647", DecimalOrHex, 2147483647},
        {L"-2147483648", DecimalOrHex, -2147483647 - 1},
        {L"2147483648", DecimalOrHex, -1},
        {L"abc", DecimalOrHex, -1},
        {L"", DecimalOrHex, -1},
        {L"12ab", DecimalOrHex, -1},
        {L"$", DecimalOrHex, -1},
        {L"0x", DecimalOrHex, -1},
        // The request parameters ("iconindex", "status<n>") are decimal only.
        {L"3", Decimal, 3},
        {L"+3", Decimal, 3},
        {L"-2", Decimal, -2},
        {L"007", Decimal, 7},
        {L"$10", Decimal, -1},
        {L"0x1F", Decimal, -1},
        {L"2x", Decimal, -1},
        {L" 3", Decimal, -1},
        {L"+-5", Decimal, -1},
        {L"-", Decimal, -1},
        {L"\uFF13", Decimal, -1}, // a full-width digit three
        {L"2147483648", Decimal, -1},
    };
    for (const auto& row : rows)
        EXPECT_EQ(IntegerFromText(row.Text, -1, row.Forms), row.Expected)
            << WideToUtf8(row.Text) << (row.Forms == Decimal ? " (decimal)" : " (decimal or hexadecimal)");
    // The command line's and the envelope's reading: 0 for anything that is no number.
    EXPECT_EQ(IntegerFromText(L"abc"), 0);
    EXPECT_EQ(IntegerFromText(L"$1A"), 26);
}

TEST(CopyTruncated, CutsToTheBufferAndNeverInsideASurrogatePair)
{
    struct
    {
        const wchar_t* Text;
        const wchar_t* Expected; // in a buffer of 4 units: 3 and the terminating zero
    } rows[] = {
        {L"ab", L"ab"},
        {L"abcdef", L"abc"},
        // U+1F600 is the pair D83D DE00: cut before it rather than between its halves.
        {L"ab\U0001F600", L"ab"},
        {L"a\U0001F600", L"a\U0001F600"},
        {L"", L""},
    };
    for (const auto& row : rows)
    {
        wchar_t buffer[4];
        std::fill(std::begin(buffer), std::end(buffer), L'#');
        CopyTruncated(buffer, row.Text);
        EXPECT_EQ(std::wstring(buffer), row.Expected) << WideToUtf8(row.Text);
        EXPECT_EQ(buffer[3], L'\0');
    }
}

} // namespace
