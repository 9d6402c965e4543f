#include "messages/JsonComponent.h"

#include "startup/GF_SupportFunctions.h"

#include <nlohmann/json.hpp>

#include <cctype>

namespace
{

// Keeps members in the order they were put or parsed, which the envelope relies on.
using TJson = nlohmann::ordered_json;

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// UTF-8 has no form for half a surrogate pair; the replacement character keeps the
// rest of the text intact whatever the system converter would do with it.
std::wstring WithLoneSurrogatesReplaced(std::wstring_view Text)
{
    std::wstring result(Text);
    for (std::size_t i = 0; i < result.size(); ++i)
    {
        if (IsHighSurrogate(result[i]) && i + 1 < result.size() && IsLowSurrogate(result[i + 1]))
            ++i;
        else if (IsHighSurrogate(result[i]) || IsLowSurrogate(result[i]))
            result[i] = 0xFFFD;
    }
    return result;
}

std::string ToUtf8(std::wstring_view Text) { return WideToUtf8(WithLoneSurrogatesReplaced(Text)); }

// The library writes \u00xx with lower-case digits; peers expect upper case. A
// backslash in its output always starts an escape, so no string tracking is needed.
void UpperCaseHexEscapes(std::string& Text)
{
    for (std::size_t i = 0; i + 1 < Text.size(); ++i)
    {
        if (Text[i] != '\\')
            continue;
        if (Text[i + 1] == 'u')
            for (std::size_t k = i + 2; k < i + 6 && k < Text.size(); ++k)
                Text[k] = static_cast<char>(std::toupper(static_cast<unsigned char>(Text[k])));
        ++i; // the escaped character is never the start of another escape
    }
}

std::wstring TextOf(const TJson& Value)
{
    if (Value.is_string())
        return Utf8ToWide(Value.get_ref<const std::string&>());
    return Utf8ToWide(Value.dump());
}

} // namespace

struct TJsonWriter::TState
{
    TJson Root;
    std::vector<TJson*> Open; // the objects not yet closed, innermost last
    std::string PendingName;
    bool HasPendingName = false;

    TJson& NextSlot()
    {
        if (Open.empty())
            throw EJsonComponent("JSON writer: a value outside any object");
        if (!HasPendingName)
            throw EJsonComponent("JSON writer: a value without a member name");
        HasPendingName = false;
        return (*Open.back())[PendingName];
    }
};

TJsonWriter::TJsonWriter() : FState(std::make_unique<TState>()) {}

TJsonWriter::~TJsonWriter() = default;

void TJsonWriter::StartObject()
{
    if (FState->Open.empty() && FState->Root.is_null())
    {
        FState->Root = TJson::object();
        FState->Open.push_back(&FState->Root);
        return;
    }
    TJson& slot = FState->NextSlot();
    slot = TJson::object();
    FState->Open.push_back(&slot);
}

void TJsonWriter::EndObject()
{
    if (FState->Open.empty())
        throw EJsonComponent("JSON writer: no object to close");
    FState->Open.pop_back();
}

void TJsonWriter::PutName(std::wstring_view Name)
{
    FState->PendingName = ToUtf8(Name);
    FState->HasPendingName = true;
}

void TJsonWriter::PutValue(std::wstring_view Value) { FState->NextSlot() = ToUtf8(Value); }

void TJsonWriter::PutProperty(std::wstring_view Name, std::wstring_view Value)
{
    PutName(Name);
    PutValue(Value);
}

std::wstring TJsonWriter::OutputData() const
{
    if (!FState->Open.empty() || FState->Root.is_null())
        throw EJsonComponent("JSON writer: the text is not complete");
    try
    {
        std::string text = FState->Root.dump();
        UpperCaseHexEscapes(text);
        return Utf8ToWide(text);
    }
    catch (const nlohmann::json::exception& e)
    {
        throw EJsonComponent(e.what());
    }
}

struct TJsonDocument::TState
{
    TJson Root;

    const TJson& Member(std::wstring_view Name) const
    {
        if (Root.is_object())
        {
            auto found = Root.find(ToUtf8(Name));
            if (found != Root.end())
                return *found;
        }
        throw EJsonComponent("JSON document: no member \"" + ToUtf8(Name) + "\"");
    }
};

TJsonDocument::TJsonDocument(std::wstring_view Text) : FState(std::make_unique<TState>())
{
    try
    {
        FState->Root = TJson::parse(ToUtf8(Text));
    }
    catch (const nlohmann::json::exception& e)
    {
        throw EJsonComponent(e.what());
    }
}

TJsonDocument::~TJsonDocument() = default;

bool TJsonDocument::HasMember(std::wstring_view Name) const
{
    return FState->Root.is_object() && FState->Root.contains(ToUtf8(Name));
}

std::wstring TJsonDocument::MemberText(std::wstring_view Name) const { return TextOf(FState->Member(Name)); }

std::vector<std::pair<std::wstring, std::wstring>> TJsonDocument::MemberChildren(std::wstring_view Name) const
{
    const TJson& member = FState->Member(Name);
    std::vector<std::pair<std::wstring, std::wstring>> children;
    if (!member.is_object())
        return children;
    for (const auto& [key, value] : member.items())
        children.emplace_back(Utf8ToWide(key), TextOf(value));
    return children;
}
