#include "messages/JsonComponent.h"

#include "base/TextConversion.h"

#include <nlohmann/json.hpp>


namespace
{

using TJson = nlohmann::json;

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

// A string in JSON syntax, quoted and escaped: \" \\ \b \f \n \r \t, other
// characters below 0x20 as \u00XX with upper-case digits (which peers expect),
// everything else as it is. Utf8 is valid UTF-8 (ToUtf8 and the parser see to it),
// so its bytes from 0x80 up pass unchanged.
void AppendQuoted(std::string& Out, std::string_view Utf8)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    Out += '"';
    for (char c : Utf8)
    {
        switch (c)
        {
        case '"': Out += "\\\""; break;
        case '\\': Out += "\\\\"; break;
        case '\b': Out += "\\b"; break;
        case '\f': Out += "\\f"; break;
        case '\n': Out += "\\n"; break;
        case '\r': Out += "\\r"; break;
        case '\t': Out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
            {
                Out += "\\u00";
                Out += Hex[(c >> 4) & 0xF];
                Out += Hex[c & 0xF];
            }
            else
                Out += c;
        }
    }
    Out += '"';
}

std::string Quoted(std::string_view Utf8)
{
    std::string quoted;
    AppendQuoted(quoted, Utf8);
    return quoted;
}

// One member of the top-level object as the parser reported it.
struct TMember
{
    std::string Name;
    // A string's decoded text; any other value's compact JSON text.
    std::string Text;
    // When the value is an object: its members as (name, text of the value as above).
    std::vector<std::pair<std::string, std::string>> Children;
};

// Collects the top-level members from the parser's events, without building a
// tree: nothing that a peer nests is walked recursively, neither here nor when
// the result is freed. A text nested deeper than TJsonDocument::MaxDepth ends the
// parse. Values below the top level are kept as their compact JSON text,
// written as the events come.
class TMemberCollector final : public nlohmann::json_sax<TJson>
{
public:
    explicit TMemberCollector(std::vector<TMember>& AMembers) : FMembers(AMembers) {}

    [[nodiscard]] const std::string& Error() const noexcept { return FError; }

    bool null() override { return Scalar("null"); }
    bool boolean(bool AValue) override { return Scalar(AValue ? "true" : "false"); }
    bool number_integer(number_integer_t AValue) override { return Scalar(std::to_string(AValue)); }
    bool number_unsigned(number_unsigned_t AValue) override { return Scalar(std::to_string(AValue)); }
    // Written as the library writes a parsed number, so that 1.50 reads as "1.5".
    bool number_float(number_float_t AValue, const string_t&) override { return Scalar(TJson(AValue).dump()); }
    bool string(string_t& AValue) override
    {
        if (!InMembers())
            return true;
        if (Depth() == 1)
            FMembers.back().Text = std::move(AValue);
        else
        {
            AppendValueText(Quoted(AValue));
            if (IsChildValue())
                FMembers.back().Children.back().second = std::move(AValue);
        }
        return true;
    }
    bool binary(binary_t&) override { return false; } // JSON text has no binary values

    bool start_object(std::size_t) override { return Open(true); }
    bool start_array(std::size_t) override { return Open(false); }
    bool end_object() override { return Close('}'); }
    bool end_array() override { return Close(']'); }

    bool key(string_t& AName) override
    {
        if (!InMembers())
            return true;
        if (Depth() == 1)
        {
            FMembers.push_back({std::move(AName), {}, {}});
            return true;
        }
        TLevel& level = FOpen.back();
        std::string& text = FMembers.back().Text;
        if (level.HasElements)
            text += ',';
        level.HasElements = true;
        AppendQuoted(text, AName);
        text += ':';
        if (Depth() == 2 && FOpen[1].IsObject)
            FMembers.back().Children.emplace_back(std::move(AName), std::string());
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& AError) override
    {
        FError = AError.what();
        return false;
    }

private:
    struct TLevel
    {
        bool IsObject;
        bool HasElements;
        // Where the text of the child being read starts in its member's text.
        std::size_t ChildStart;
    };

    [[nodiscard]] std::size_t Depth() const noexcept { return FOpen.size(); }
    // Inside the top-level object, where values belong to a member.
    [[nodiscard]] bool InMembers() const noexcept { return Depth() >= 1 && FOpen[0].IsObject; }
    // The value being read is that of a member of a top-level member's object.
    [[nodiscard]] bool IsChildValue() const noexcept { return Depth() == 2 && FOpen[1].IsObject; }

    // Writes the separator an array element needs; an object's member has its
    // separator written with its name.
    void AppendValueText(const std::string& AText)
    {
        TLevel& level = FOpen.back();
        std::string& text = FMembers.back().Text;
        if (!level.IsObject && level.HasElements)
            text += ',';
        level.HasElements = true;
        text += AText;
    }

    bool Scalar(const std::string& AText)
    {
        if (!InMembers())
            return true;
        if (Depth() == 1)
            FMembers.back().Text = AText;
        else
        {
            AppendValueText(AText);
            if (IsChildValue())
                FMembers.back().Children.back().second = AText;
        }
        return true;
    }

    bool Open(bool AIsObject)
    {
        if (Depth() >= TJsonDocument::MaxDepth)
        {
            FError = "JSON document: nested deeper than " + std::to_string(TJsonDocument::MaxDepth) + " levels";
            return false;
        }
        std::size_t childStart = 0;
        if (InMembers())
        {
            std::string& text = FMembers.back().Text;
            if (Depth() > 1)
                AppendValueText({});
            childStart = text.size();
            text += AIsObject ? '{' : '[';
        }
        FOpen.push_back({AIsObject, false, childStart});
        return true;
    }

    bool Close(char AClosing)
    {
        std::size_t childStart = FOpen.back().ChildStart;
        FOpen.pop_back();
        if (!InMembers())
            return true;
        std::string& text = FMembers.back().Text;
        text += AClosing;
        if (IsChildValue())
            FMembers.back().Children.back().second = text.substr(childStart);
        return true;
    }

    std::vector<TMember>& FMembers;
    std::vector<TLevel> FOpen; // the containers not yet closed, innermost last
    std::string FError;
};

} // namespace

// The text is written as the calls come, so each call costs only what it writes.
struct TJsonWriter::TState
{
    std::string Text;
    // Per open object: whether a member was written into it yet.
    std::vector<bool> OpenHasMembers;
    bool HasPendingName = false;
    bool Complete = false;

    void BeginValue()
    {
        if (Complete)
            throw EJsonComponent("JSON writer: a value after the text was complete");
        if (OpenHasMembers.empty())
            return; // the top-level object itself
        if (!HasPendingName)
            throw EJsonComponent("JSON writer: a value without a member name");
        HasPendingName = false;
    }
};

TJsonWriter::TJsonWriter() : FState(std::make_unique<TState>()) {}

TJsonWriter::~TJsonWriter() = default;

void TJsonWriter::StartObject()
{
    FState->BeginValue();
    FState->Text += '{';
    FState->OpenHasMembers.push_back(false);
}

void TJsonWriter::EndObject()
{
    if (FState->OpenHasMembers.empty())
        throw EJsonComponent("JSON writer: no object to close");
    if (FState->HasPendingName)
        throw EJsonComponent("JSON writer: a member name without a value");
    FState->Text += '}';
    FState->OpenHasMembers.pop_back();
    FState->Complete = FState->OpenHasMembers.empty();
}

void TJsonWriter::PutName(std::wstring_view Name)
{
    if (FState->OpenHasMembers.empty())
        throw EJsonComponent("JSON writer: a value outside any object");
    if (FState->HasPendingName)
        throw EJsonComponent("JSON writer: a member name without a value");
    if (FState->OpenHasMembers.back())
        FState->Text += ',';
    FState->OpenHasMembers.back() = true;
    AppendQuoted(FState->Text, ToUtf8(Name));
    FState->Text += ':';
    FState->HasPendingName = true;
}

void TJsonWriter::PutValue(std::wstring_view Value)
{
    if (FState->OpenHasMembers.empty())
        throw EJsonComponent("JSON writer: a value outside any object");
    FState->BeginValue();
    AppendQuoted(FState->Text, ToUtf8(Value));
}

void TJsonWriter::PutProperty(std::wstring_view Name, std::wstring_view Value)
{
    PutName(Name);
    PutValue(Value);
}

std::wstring TJsonWriter::OutputData() const
{
    if (!FState->Complete)
        throw EJsonComponent("JSON writer: the text is not complete");
    return Utf8ToWide(FState->Text);
}

struct TJsonDocument::TState
{
    std::vector<TMember> Members;

    // A name given twice counts with its last value, as a JSON object keeps it.
    const TMember* Find(std::wstring_view Name) const
    {
        std::string name = ToUtf8(Name);
        for (auto member = Members.rbegin(); member != Members.rend(); ++member)
            if (member->Name == name)
                return &*member;
        return nullptr;
    }

    const TMember& Member(std::wstring_view Name) const
    {
        if (const TMember* member = Find(Name))
            return *member;
        throw EJsonComponent("JSON document: no member \"" + ToUtf8(Name) + "\"");
    }
};

TJsonDocument::TJsonDocument(std::wstring_view Text) : FState(std::make_unique<TState>())
{
    TMemberCollector collector(FState->Members);
    if (!TJson::sax_parse(ToUtf8(Text), &collector))
        throw EJsonComponent(collector.Error().empty() ? "JSON document: not JSON" : collector.Error());
}

TJsonDocument::~TJsonDocument() = default;

bool TJsonDocument::HasMember(std::wstring_view Name) const { return FState->Find(Name) != nullptr; }

std::wstring TJsonDocument::MemberText(std::wstring_view Name) const { return Utf8ToWide(FState->Member(Name).Text); }

std::vector<std::pair<std::wstring, std::wstring>> TJsonDocument::MemberChildren(std::wstring_view Name) const
{
    const TMember& member = FState->Member(Name);
    std::vector<std::pair<std::wstring, std::wstring>> children;
    children.reserve(member.Children.size());
    for (const auto& [name, text] : member.Children)
        children.emplace_back(Utf8ToWide(name), Utf8ToWide(text));
    return children;
}
