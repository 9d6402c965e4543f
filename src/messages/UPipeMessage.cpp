#include "messages/UPipeMessage.h"

#include "base/TextConversion.h"
#include "messages/JsonComponent.h"
#include "startup/GF_SupportFunctions.h"

#include <windows.h>

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>
#include <typeinfo>
#include <unordered_map>

namespace
{

constexpr std::wstring_view CommandMember = L"command";
constexpr std::wstring_view IsErrorMember = L"IsError";
constexpr std::wstring_view ErrorCodeMember = L"ErrorCode";
constexpr std::wstring_view ErrorTextMember = L"ErrorText";
constexpr std::wstring_view ParametersMember = L"parameters";

constexpr std::wstring_view DefaultErrorCode = L"Exception";
constexpr std::wstring_view DefaultErrorText = L"Unknown Internal Error (TPipeMessage)";

std::wstring_view NameOfEntry(std::wstring_view Entry) { return Entry.substr(0, Entry.find(L'=')); }

std::wstring_view ValueOfEntry(std::wstring_view Entry)
{
    std::size_t separator = Entry.find(L'=');
    return separator == std::wstring_view::npos ? std::wstring_view{} : Entry.substr(separator + 1);
}

// The form in which names that differ only in letter case are equal: the invariant
// upper case, character by character. Not the user's locale: with it a Turkish "ID"
// would not match "id", and word sorting could make different names equal.
std::wstring FoldedName(std::wstring_view Name)
{
    std::wstring folded(Name);
    bool ascii = true;
    for (wchar_t& c : folded)
    {
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
        ascii = ascii && c < 0x80;
    }
    // The table is asked only for names outside ASCII, whose upper case it alone
    // knows; it maps ASCII as above, so the two ways agree.
    if (!ascii)
        LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, Name.data(), static_cast<int>(Name.size()), folded.data(),
                     static_cast<int>(folded.size()));
    return folded;
}

// The upper case keeps the length, so most names differ before they are folded.
bool HasName(std::wstring_view Entry, const std::wstring& FoldedKey)
{
    std::wstring_view name = NameOfEntry(Entry);
    return name.size() == FoldedKey.size() && FoldedName(name) == FoldedKey;
}

// A parameter is kept as one "name=value" line, split at its first "=". A name
// holding "=" would come back as another name with another value, so it is no
// parameter name: setting it does nothing, and a peer's member named so is left
// out of the envelope.
bool CanBeParameterName(std::wstring_view Name) { return Name.find(L'=') == std::wstring_view::npos; }

// The lines that SetData would leave after taking the pairs one after the other
// (a known name replaced in place, a new one appended, an empty value removing
// its name), found through an index instead of a scan per pair, so that a peer's
// many members cost time linear in their number.
std::vector<std::wstring> ParameterLines(const std::vector<std::pair<std::wstring, std::wstring>>& AMembers)
{
    std::vector<std::optional<std::wstring>> lines; // removed lines stay as holes until the end
    std::unordered_map<std::wstring, std::size_t> positions; // folded name -> index in lines
    for (const auto& [name, value] : AMembers)
    {
        if (!CanBeParameterName(name))
            continue;
        std::wstring folded = FoldedName(name);
        auto found = positions.find(folded);
        if (value.empty())
        {
            if (found != positions.end())
            {
                lines[found->second].reset();
                positions.erase(found);
            }
            continue;
        }
        std::wstring line = name + L'=' + value;
        if (found != positions.end())
            lines[found->second] = std::move(line);
        else
        {
            positions.emplace(std::move(folded), lines.size());
            lines.push_back(std::move(line));
        }
    }
    std::vector<std::wstring> kept;
    kept.reserve(positions.size());
    for (std::optional<std::wstring>& line : lines)
        if (line)
            kept.push_back(std::move(*line));
    return kept;
}

struct TFreeDeleter { void operator()(char* p) const noexcept { std::free(p); } };

// The failure's own class as written in code ("EWin32Error", "std::runtime_error").
std::wstring ClassNameOf(const std::exception& AException)
{
    const char* mangled = typeid(AException).name();
    int status = 0;
    std::unique_ptr<char, TFreeDeleter> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status));
    return Utf8ToWide(status == 0 && demangled ? demangled.get() : mangled);
}

} // namespace

TTPPipeMessage::TTPPipeMessage(const std::exception& AException)
    : FIsError(true), FErrorCode(ClassNameOf(AException)), FErrorText(WhatOf(AException))
{
}

TTPPipeMessage::TTPPipeMessage(std::wstring_view ARequest)
{
    if (!ARequest.empty())
        SetAsString(ARequest);
}

TTPPipeMessage::TTPPipeMessage(std::wstring AName, const std::vector<std::wstring>& AKeys,
                               const std::vector<std::wstring>& AValues)
    : FName(std::move(AName))
{
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    for (std::size_t i = 0; i < AKeys.size() && i < AValues.size(); ++i)
        pairs.emplace_back(AKeys[i], AValues[i]);
    FDataList = ParameterLines(pairs);
}

std::wstring TTPPipeMessage::GetData(std::wstring_view AKey) const
{
    const std::wstring key = FoldedName(AKey);
    for (const std::wstring& entry : FDataList)
        if (HasName(entry, key))
            return std::wstring(ValueOfEntry(entry));
    return {};
}

void TTPPipeMessage::SetData(std::wstring_view AKey, std::wstring_view Value)
{
    if (!CanBeParameterName(AKey))
        return;
    const std::wstring key = FoldedName(AKey);
    auto found = std::find_if(FDataList.begin(), FDataList.end(),
                              [&](const std::wstring& entry) { return HasName(entry, key); });
    if (Value.empty())
    {
        if (found != FDataList.end())
            FDataList.erase(found);
        return;
    }
    std::wstring entry = std::wstring(AKey) + L'=' + std::wstring(Value);
    if (found != FDataList.end())
        *found = std::move(entry);
    else
        FDataList.push_back(std::move(entry));
}

std::wstring TTPPipeMessage::AsString() const
{
    try
    {
        TJsonWriter writer;
        writer.StartObject();
        writer.PutProperty(CommandMember, FName);
        if (FIsError)
        {
            writer.PutProperty(IsErrorMember, L"1");
            writer.PutProperty(ErrorCodeMember, FErrorCode);
            writer.PutProperty(ErrorTextMember, FErrorText);
        }
        writer.PutName(ParametersMember);
        writer.StartObject();
        for (const std::wstring& entry : FDataList)
            writer.PutProperty(NameOfEntry(entry), ValueOfEntry(entry));
        writer.EndObject();
        writer.EndObject();
        return writer.OutputData();
    }
    catch (const std::exception&)
    {
        // Callers send what they get; an empty text is their sign of failure.
        return {};
    }
}

void TTPPipeMessage::SetAsString(std::wstring_view Text)
{
    FName.clear();
    FIsError = false;
    FErrorCode.clear();
    FErrorText.clear();
    FDataList.clear();
    try
    {
        // Members are read in this order and a failure stops the reading, so a
        // text with "IsError" but no "ErrorCode" keeps the flag and loses the rest.
        TJsonDocument document(Text);
        if (!document.HasMember(CommandMember))
            return;
        FName = document.MemberText(CommandMember);
        if (document.HasMember(IsErrorMember))
        {
            // The integer reading of the command line: "1" or "2" is an error,
            // "0", "", "true" and "false" are not.
            FIsError = IntegerFromText(document.MemberText(IsErrorMember)) > 0;
            FErrorCode = document.MemberText(ErrorCodeMember);
            FErrorText = document.MemberText(ErrorTextMember);
        }
        if (document.HasMember(ParametersMember))
            FDataList = ParameterLines(document.MemberChildren(ParametersMember));
    }
    catch (const std::exception&)
    {
        // Not an envelope: what was read so far stays, the rest stays cleared.
    }
}

void TTPPipeMessage::RaiseIfError() const
{
    if (!FIsError)
        return;
    std::wstring_view code = FErrorCode.empty() ? DefaultErrorCode : std::wstring_view(FErrorCode);
    std::wstring_view text = FErrorText.empty() ? DefaultErrorText : std::wstring_view(FErrorText);
    throw std::runtime_error(WideToUtf8(code) + ": " + WideToUtf8(text));
}

std::wstring TTPPipeMessage::MakeMessage(std::wstring AName, const std::vector<std::wstring>& AKeys,
                                         const std::vector<std::wstring>& AValues)
{
    return TTPPipeMessage(std::move(AName), AKeys, AValues).AsString();
}

std::wstring TTPPipeMessage::MakeMessage(const std::exception& AException)
{
    return TTPPipeMessage(AException).AsString();
}
