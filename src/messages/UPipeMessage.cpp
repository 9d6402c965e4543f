#include "messages/UPipeMessage.h"

#include "messages/JsonComponent.h"
#include "startup/GF_SupportFunctions.h"

#include <windows.h>

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <typeinfo>

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

// Ordinal, not locale-aware: with the user's locale a Turkish "ID" would not match
// "id", and word sorting could make different names equal.
bool SameName(std::wstring_view A, std::wstring_view B)
{
    return CompareStringOrdinal(A.data(), static_cast<int>(A.size()), B.data(), static_cast<int>(B.size()),
                                TRUE) == CSTR_EQUAL;
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
    for (std::size_t i = 0; i < AKeys.size() && i < AValues.size(); ++i)
        SetData(AKeys[i], AValues[i]);
}

std::wstring TTPPipeMessage::GetData(std::wstring_view AKey) const
{
    for (const std::wstring& entry : FDataList)
        if (SameName(NameOfEntry(entry), AKey))
            return std::wstring(ValueOfEntry(entry));
    return {};
}

void TTPPipeMessage::SetData(std::wstring_view AKey, std::wstring_view Value)
{
    auto found = std::find_if(FDataList.begin(), FDataList.end(),
                              [&](const std::wstring& entry) { return SameName(NameOfEntry(entry), AKey); });
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
            for (const auto& [name, value] : document.MemberChildren(ParametersMember))
                SetData(name, value);
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
