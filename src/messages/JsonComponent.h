// The program's JSON facility: a writer and a parsed document with UTF-16 texts on
// their surface. Only this unit sees the JSON library; it converts to and from
// UTF-8 at its edge.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A text the component cannot parse, or a request it cannot carry out.
class EJsonComponent : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Writes one JSON text token by token, in time linear in its length. Every value
// is a string; members keep the order in which they are put, and a name put twice
// is written twice. Strings are escaped as \" \\ \b \f \n \r \t, other
// characters below 0x20 as \u00XX with upper-case hex digits, everything else is
// written as it is (the forward slash too). A lone surrogate cannot travel in
// UTF-8 and becomes U+FFFD, so one bad character never costs the whole text.
class TJsonWriter
{
public:
    TJsonWriter();
    TJsonWriter(const TJsonWriter&) = delete;
    TJsonWriter& operator=(const TJsonWriter&) = delete;
    ~TJsonWriter();

    void StartObject();
    void EndObject();
    // Names the member that the next value or object belongs to.
    void PutName(std::wstring_view Name);
    void PutValue(std::wstring_view Value);
    void PutProperty(std::wstring_view Name, std::wstring_view Value);
    // The whole text; every object must be closed.
    [[nodiscard]] std::wstring OutputData() const;

private:
    struct TState;
    std::unique_ptr<TState> FState;
};

// One parsed JSON text, read member by member from its top-level object. A string
// value reads as its decoded text; any other value (number, true, false, null,
// object, array) reads as its compact JSON text, so that "IsError": 1 still reads
// as "1". A name given twice reads with its last value. Parsing takes time linear
// in the text and never recurses on its nesting.
class TJsonDocument
{
public:
    // Objects and arrays open at once, the top-level object included. No envelope
    // needs more than two; the bound keeps a peer's nesting from costing stack.
    static constexpr std::size_t MaxDepth = 64;

    // Raises EJsonComponent when Text is not JSON or nests deeper than MaxDepth.
    explicit TJsonDocument(std::wstring_view Text);
    TJsonDocument(const TJsonDocument&) = delete;
    TJsonDocument& operator=(const TJsonDocument&) = delete;
    ~TJsonDocument();

    // False also when the text is not an object.
    [[nodiscard]] bool HasMember(std::wstring_view Name) const;
    // Raises EJsonComponent when the member is missing.
    [[nodiscard]] std::wstring MemberText(std::wstring_view Name) const;
    // The members of an object member as (name, text) in document order; empty
    // when the member is not an object. Raises EJsonComponent when it is missing.
    [[nodiscard]] std::vector<std::pair<std::wstring, std::wstring>> MemberChildren(
        std::wstring_view Name) const;

private:
    struct TState;
    std::unique_ptr<TState> FState;
};
