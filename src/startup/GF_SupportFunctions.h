// Small helpers of the start-up and common services: character filtering, the
// reading of numbers from text, and the identity of the user and the process.
#pragma once

#include <bitset>
#include <string>
#include <string_view>

// A set of 8-bit character codes (0 to 255).
using TCharSet = std::bitset<256>;

TCharSet MakeCharSet(std::wstring_view chars);

// S without every character whose code is in CharSet; characters above 255 stay.
std::wstring StripChars(std::wstring_view S, const TCharSet& CharSet);

// S without the characters of code 32 and below at both ends.
std::wstring TrimControlAndBlanks(std::wstring_view S);

// The ways a number may be written: decimal digits (the request parameters), or
// also hexadecimal digits after "$" or "0x" (the command line, the envelope's flag).
enum class TNumberForms
{
    nfDecimal,
    nfDecimalOrHex,
};

// The whole text as a 32-bit signed number in Forms, with an optional sign;
// Default for anything else (an empty text, other characters, out of range).
int IntegerFromText(std::wstring_view Text, int Default = 0, TNumberForms Forms = TNumberForms::nfDecimalOrHex);

// The name of the user the process runs as; empty on failure.
std::wstring GetLoggedUserName();

int GetOwnProcessId();
