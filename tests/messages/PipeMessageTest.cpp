#include "base/WinError.h"
#include "messages/JsonComponent.h"
#include "messages/PipeFrame.h"
#include "messages/UPipeMessage.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace
{

using TLines = std::vector<std::wstring>;

// ---------------------------------------------------------------- reading

struct TReadCase
{
    const char* Why;
    const wchar_t* Text;
    const wchar_t* Name;
    bool IsError;
    const wchar_t* ErrorCode;
    const wchar_t* ErrorText;
    TLines Data;
};

const TReadCase ReadCases[] = {
    {"members in order", LR"({"command":"SUINFO","parameters":{"a":"1","b":"2"}})", L"SUINFO", false, L"", L"",
     {L"a=1", L"b=2"}},
    {"a later name of other case replaces at the first position, taking its case",
     LR"({"command":"X","parameters":{"A":"1","b":"2","a":"3"}})", L"X", false, L"", L"", {L"a=3", L"b=2"}},
    {"an empty value is no parameter", LR"({"command":"X","parameters":{"x":"","y":"1"}})", L"X", false, L"", L"",
     {L"y=1"}},
    {"empty parameters object", LR"({"command":"","parameters":{}})", L"", false, L"", L"", {}},
    {"without command nothing is read",
     LR"({"IsError":"1","ErrorCode":"c","ErrorText":"t","parameters":{"x":"1"}})", L"", false, L"", L"", {}},
    {"IsError 1", LR"({"command":"C","IsError":"1","ErrorCode":"E","ErrorText":"T","parameters":{}})", L"C", true,
     L"E", L"T", {}},
    {"IsError 2", LR"({"command":"C","IsError":"2","ErrorCode":"E","ErrorText":"T"})", L"C", true, L"E", L"T", {}},
    {"IsError 0", LR"({"command":"C","IsError":"0","ErrorCode":"E","ErrorText":"T"})", L"C", false, L"E", L"T", {}},
    {"IsError empty", LR"({"command":"C","IsError":"","ErrorCode":"E","ErrorText":"T"})", L"C", false, L"E", L"T",
     {}},
    {"IsError true", LR"({"command":"C","IsError":"true","ErrorCode":"E","ErrorText":"T"})", L"C", false, L"E",
     L"T", {}},
    {"IsError false", LR"({"command":"C","IsError":"false","ErrorCode":"E","ErrorText":"T"})", L"C", false, L"E",
     L"T", {}},
    {"IsError as a JSON number reads as its text", LR"({"command":"C","IsError":1,"ErrorCode":"E","ErrorText":"T"})",
     L"C", true, L"E", L"T", {}},
    {"ErrorCode missing: flag kept, the rest not read",
     LR"({"command":"C","IsError":"1","ErrorText":"T","parameters":{"x":"1"}})", L"C", true, L"", L"", {}},
    {"ErrorText missing: code kept, parameters not read",
     LR"({"command":"C","IsError":"1","ErrorCode":"E","parameters":{"x":"1"}})", L"C", true, L"E", L"", {}},
    {"empty text", L"", L"", false, L"", L"", {}},
    {"truncated text", LR"({"command":"X","parameters":{"a":"1")", L"", false, L"", L"", {}},
    {"not JSON", L"SUINFO a=1", L"", false, L"", L"", {}},
    {"not an object", LR"(["command","X"])", L"", false, L"", L"", {}},
    {"doubled backslashes of a path", LR"({"command":"X","parameters":{"p":"C:\\Users\\x"}})", L"X", false, L"",
     L"", {LR"(p=C:\Users\x)"}},
    {"three backslashes in the text decode as JSON", LR"({"command":"X","parameters":{"p":"a\\\"b"}})", L"X",
     false, L"", L"", {LR"(p=a\"b)"}},
    {"escaped quote, line feed and \\u00e9 are decoded everywhere",
     LR"({"command":"a\"b","IsError":"1","ErrorCode":"c\nd","ErrorText":"\u00e9","parameters":{"n\tm":"x\u00E9\/"}})",
     L"a\"b", true, L"c\nd", L"\u00e9", {L"n\tm=x\u00e9/"}},
    {"a surrogate pair escaped", LR"({"command":"\uD83D\uDE00"})", L"\U0001F600", false, L"", L"", {}},
    {"non-string parameter values read as their JSON text",
     LR"({"command":"X","parameters":{"n":5,"t":true,"z":null,"o":{"k":"v"},"a":[1,"2"]}})", L"X", false, L"", L"",
     {L"n=5", L"t=true", L"z=null", LR"(o={"k":"v"})", LR"(a=[1,"2"])"}},
    {"parameters that are not an object give none", LR"({"command":"X","parameters":"a=1"})", L"X", false, L"",
     L"", {}},
    {"a name holding \"=\" is left out and changes no other parameter",
     LR"({"command":"X","parameters":{"a":"1","a=b":"c","=":"d","b=":"e","c":"2"}})", L"X", false, L"", L"",
     {L"a=1", L"c=2"}},
    {"a later member removes an earlier one by an empty value, a new one is appended",
     LR"({"command":"X","parameters":{"a":"1","b":"2","A":"","c":"3","a":"4"}})", L"X", false, L"", L"",
     {L"b=2", L"c=3", L"a=4"}},
    {"a top-level name given twice counts with its last value",
     LR"({"command":"A","parameters":{"x":"1"},"command":"B","parameters":{"y":"2"}})", L"B", false, L"", L"",
     {L"y=2"}},
    {"an empty name is a name", LR"({"command":"X","parameters":{"":"v"}})", L"X", false, L"", L"", {L"=v"}},
    {"nested values keep their order and duplicates in their text",
     LR"({"command":"X","parameters":{"o":{"b":[1.50,{"c":[]}],"a":{},"b":-2}}})", L"X", false, L"", L"",
     {LR"(o={"b":[1.5,{"c":[]}],"a":{},"b":-2})"}},
    {"whitespace between tokens", L" {\r\n \"command\" : \"X\" ,\t\"parameters\" : { \"a\" : \"1\" } } ", L"X",
     false, L"", L"", {L"a=1"}},
};

TEST(PipeMessageRead, TableOfEnvelopes)
{
    for (const TReadCase& c : ReadCases)
    {
        SCOPED_TRACE(c.Why);
        TTPPipeMessage message{std::wstring_view(c.Text)};
        EXPECT_EQ(message.Name(), c.Name);
        EXPECT_EQ(message.IsError(), c.IsError);
        EXPECT_EQ(message.ErrorCode(), c.ErrorCode);
        EXPECT_EQ(message.ErrorText(), c.ErrorText);
        EXPECT_EQ(message.DataList(), c.Data);
    }
}

std::wstring Nested(std::size_t Levels, wchar_t Open, wchar_t Close)
{
    return std::wstring(Levels, Open) + std::wstring(Levels, Close);
}

std::wstring NestedObjects(std::size_t Levels)
{
    std::wstring text;
    for (std::size_t i = 0; i < Levels; ++i)
        text += L"{\"k\":";
    return text + L"\"v\"" + std::wstring(Levels, L'}');
}

// A peer's nesting is bounded while parsing: the top-level object counts as the
// first of TJsonDocument::MaxDepth levels, "parameters" as the second.
TEST(PipeMessageRead, NestingDeeperThanTheLimitIsNoEnvelope)
{
    constexpr std::size_t Limit = TJsonDocument::MaxDepth;
    struct TCase
    {
        const char* Why;
        std::wstring Text;
        bool IsEnvelope;
    };
    const TCase cases[] = {
        {"a parameter value 100,000 arrays deep",
         L"{\"command\":\"SUINFO\",\"parameters\":{\"a\":" + Nested(100000, L'[', L']') + L"}}", false},
        {"a parameter value 100,000 objects deep",
         L"{\"command\":\"SUINFO\",\"parameters\":{\"a\":" + NestedObjects(100000) + L"}}", false},
        {"the command 100,000 arrays deep", L"{\"command\":" + Nested(100000, L'[', L']') + L",\"parameters\":{}}",
         false},
        {"the command 100,000 objects deep", L"{\"command\":" + NestedObjects(100000) + L"}", false},
        {"IsError deep", L"{\"command\":\"X\",\"IsError\":" + Nested(100000, L'[', L']') + L"}", false},
        {"a whole text of arrays, never closed", Nested(100000, L'[', L'[') , false},
        {"a member after the envelope's members, deep",
         L"{\"command\":\"X\",\"parameters\":{\"a\":\"1\"},\"z\":" + Nested(Limit, L'[', L']') + L"}", false},
        {"a parameter value just at the limit",
         L"{\"command\":\"X\",\"parameters\":{\"a\":" + Nested(Limit - 2, L'[', L']') + L"}}", true},
        {"a parameter value one level beyond",
         L"{\"command\":\"X\",\"parameters\":{\"a\":" + Nested(Limit - 1, L'[', L']') + L"}}", false},
    };
    for (const TCase& c : cases)
    {
        SCOPED_TRACE(c.Why);
        TTPPipeMessage message{std::wstring_view(c.Text)};
        if (!c.IsEnvelope)
        {
            EXPECT_EQ(message.Name(), L"");
            EXPECT_TRUE(message.DataList().empty());
            continue;
        }
        EXPECT_EQ(message.Name(), L"X");
        EXPECT_EQ(message.DataList(), TLines{L"a=" + Nested(Limit - 2, L'[', L']')});
        // What was read writes back without meeting the nesting again.
        EXPECT_EQ(TTPPipeMessage(std::wstring_view(message.AsString())).DataList(), message.DataList());
    }
}

// The reading of a peer's members against SetData, member by member, which
// defines the rules: many members with names that collide in letter case, empty
// values removing and later members bringing names back.
TEST(PipeMessageRead, ManyMembersReadAsSetDataWouldLeaveThem)
{
    // SetData scans per member: enough members to collide often, few enough for it.
    constexpr int Members = 6000;
    std::wstring text = L"{\"command\":\"X\",\"parameters\":{";
    TTPPipeMessage expected(L"X", {}, {});
    for (int i = 0; i < Members; ++i)
    {
        const int slot = (i * 7919) % 1009;
        std::wstring name = (i % 3 == 0 ? L"Name" : L"nAME") + std::to_wstring(slot);
        std::wstring value = i % 11 == 0 ? L"" : std::to_wstring(i);
        text += (i ? L"," : L"") + (L"\"" + name + L"\":\"" + value + L"\"");
        expected.SetData(name, value);
    }
    text += L"}}";
    TTPPipeMessage message{std::wstring_view(text)};
    EXPECT_EQ(message.DataList().size(), expected.DataList().size());
    EXPECT_EQ(message.DataList(), expected.DataList());
}

TEST(PipeMessageRead, ReadingClearsWhatWasThere)
{
    TTPPipeMessage message(L"OLD", {L"a"}, {L"1"});
    message.SetIsError(true);
    message.SetErrorCode(L"E");
    message.SetAsString(L"not json");
    EXPECT_EQ(message.Name(), L"");
    EXPECT_FALSE(message.IsError());
    EXPECT_EQ(message.ErrorCode(), L"");
    EXPECT_TRUE(message.DataList().empty());
}

// ---------------------------------------------------------------- parameter list

TEST(PipeMessageData, LookupReplaceAndRemove)
{
    TTPPipeMessage message(L"X", {L"First", L"Second", L"Third"}, {L"1", L"2", L"3", L"ignored"});
    EXPECT_EQ(message.GetData(L"second"), L"2");
    EXPECT_EQ(message.GetData(L"absent"), L"");

    message.SetData(L"SECOND", L"two=2");
    EXPECT_EQ(message.DataList(), (TLines{L"First=1", L"SECOND=two=2", L"Third=3"}));
    EXPECT_EQ(message.GetData(L"Second"), L"two=2");

    message.SetData(L"first", L"");
    message.SetData(L"Fourth", L"4");
    message.SetData(L"nothing", L"");
    EXPECT_EQ(message.DataList(), (TLines{L"SECOND=two=2", L"Third=3", L"Fourth=4"}));

    // Its line would read back as "Third" with the value "x=y".
    message.SetData(L"Third=x", L"y");
    EXPECT_EQ(message.DataList(), (TLines{L"SECOND=two=2", L"Third=3", L"Fourth=4"}));
    EXPECT_EQ(message.GetData(L"Third=x"), L"");
    EXPECT_EQ(TTPPipeMessage(L"X", {L"a=b", L"c"}, {L"1", L"2"}).DataList(), TLines{L"c=2"});
}

TEST(PipeMessageData, NonAsciiNamesIgnoreCase)
{
    TTPPipeMessage message;
    message.SetData(L"\u00c9t\u00e9", L"1");
    EXPECT_EQ(message.GetData(L"\u00e9T\u00c9"), L"1");
}

// ---------------------------------------------------------------- writing

struct TWriteCase
{
    const char* Why;
    TTPPipeMessage Message;
    const wchar_t* Expected;
};

TTPPipeMessage ErrorEnvelope(std::wstring Name, std::wstring Code, std::wstring Text, bool IsError)
{
    TTPPipeMessage message(std::move(Name), {L"p"}, {L"v"});
    message.SetIsError(IsError);
    message.SetErrorCode(std::move(Code));
    message.SetErrorText(std::move(Text));
    return message;
}

TEST(PipeMessageWrite, TableOfEnvelopes)
{
    const TWriteCase cases[] = {
        {"empty envelope", TTPPipeMessage(), LR"({"command":"","parameters":{}})"},
        {"user information in order",
         TTPPipeMessage(L"SUINFO", {L"nome_utente", L"desktop_utente", L"tempdir_utente", L"local_appdata"},
                        {L"user1", LR"(C:\Users\user1\Desktop)", LR"(C:\Users\user1\AppData\Local\Temp)",
                         LR"(C:\Users\user1\AppData\Local)"}),
         LR"({"command":"SUINFO","parameters":{"nome_utente":"user1","desktop_utente":"C:\\Users\\user1\\Desktop",)"
         LR"("tempdir_utente":"C:\\Users\\user1\\AppData\\Local\\Temp","local_appdata":"C:\\Users\\user1\\AppData\\Local"}})"},
        {"empty values are not written", TTPPipeMessage(L"X", {L"a", L"b"}, {L"", L"2"}),
         LR"({"command":"X","parameters":{"b":"2"}})"},
        {"error members only on an error envelope", ErrorEnvelope(L"X", L"C", L"T", false),
         LR"({"command":"X","parameters":{"p":"v"}})"},
        {"error members in order, empty ones too", ErrorEnvelope(L"X", L"", L"", true),
         LR"({"command":"X","IsError":"1","ErrorCode":"","ErrorText":"","parameters":{"p":"v"}})"},
        {"escapes, upper-case hex, slash and non-ASCII as they are",
         TTPPipeMessage(L"q\"b\\", {L"v"}, {L"\x01\x1f\b\f\n\r\t/\u00e9\u20ac\U0001F600\x7f"}),
         L"{\"command\":\"q\\\"b\\\\\",\"parameters\":{\"v\":\"\\u0001\\u001F\\b\\f\\n\\r\\t/\u00e9\u20ac\U0001F600\x7f\"}}"},
        {"a lone surrogate becomes U+FFFD, the rest survives",
         TTPPipeMessage(L"X", {L"a", L"b"}, {std::wstring(L"x\xD800y"), std::wstring(L"\xDC00")}),
         L"{\"command\":\"X\",\"parameters\":{\"a\":\"x\uFFFDy\",\"b\":\"\uFFFD\"}}"},
    };
    for (const TWriteCase& c : cases)
    {
        SCOPED_TRACE(c.Why);
        EXPECT_EQ(c.Message.AsString(), c.Expected);
    }
}

TEST(PipeMessageWrite, MakeMessageForms)
{
    EXPECT_EQ(TTPPipeMessage::MakeMessage(L"Result", {L"Result"}, {L"OK"}),
              LR"({"command":"Result","parameters":{"Result":"OK"}})");

    EXPECT_EQ(TTPPipeMessage::MakeMessage(std::runtime_error("disk \"C\" gone")),
              LR"({"command":"","IsError":"1","ErrorCode":"std::runtime_error","ErrorText":"disk \"C\" gone","parameters":{}})");

    TTPPipeMessage fromWin32{std::wstring_view(TTPPipeMessage::MakeMessage(
        EWin32Error(ERROR_PIPE_BUSY, std::system_category(), "CreateNamedPipeW")))};
    EXPECT_TRUE(fromWin32.IsError());
    EXPECT_EQ(fromWin32.ErrorCode(), L"EWin32Error");
    EXPECT_EQ(fromWin32.ErrorText().rfind(L"CreateNamedPipeW: ", 0), 0u) << fromWin32.ErrorText();
    EXPECT_EQ(fromWin32.Name(), L"");
    EXPECT_TRUE(fromWin32.DataList().empty());
}

// ---------------------------------------------------------------- round trips

TEST(PipeMessageRoundTrip, AwkwardValuesComeBackUnchanged)
{
    const std::wstring values[] = {
        L"plain",
        L"say \"hi\"",
        LR"(C:\Users\x\)",
        LR"(\\server\share\\)",
        L"\\\"",
        L"line1\r\nline2\n",
        std::wstring(L"nul\0in the middle", 17),
        L"\x01\x02\x1b\x1f\x7f",
        L"\\u00e9 is not an escape here",
        L"caf\u00e9 \u00fc\u00f1\u00ee\u00e7\u00f8d\u00e9 \u65e5\u672c",
        L"emoji \U0001F600 and \U00010348",
        L"a=b=c",
        L"</script> / \\/",
        std::wstring(70000, L'x') + L"\u00e9",
    };
    for (const std::wstring& value : values)
    {
        SCOPED_TRACE(testing::PrintToString(value.substr(0, 40)));
        TTPPipeMessage original(value, {L"name with \"quote\"", L"v"}, {value, value});
        original.SetIsError(true);
        original.SetErrorCode(value);
        original.SetErrorText(value);

        TTPPipeMessage copy{std::wstring_view(original.AsString())};
        EXPECT_EQ(copy.Name(), value);
        EXPECT_TRUE(copy.IsError());
        EXPECT_EQ(copy.ErrorCode(), value);
        EXPECT_EQ(copy.ErrorText(), value);
        EXPECT_EQ(copy.DataList(), original.DataList());
    }
}

// The strict parser is the library behind the adapter; this checks the writer
// against it member by member, not through the envelope's own reader.
TEST(PipeMessageRoundTrip, StrictParserAcceptsWriterOutput)
{
    TTPPipeMessage message(L"X\x01", {L"a", L"b\n"}, {L"\"\\\b\f\n\r\t\x1f\U0001F600", L"\u00e9"});
    message.SetIsError(true);
    TJsonDocument document(message.AsString());
    EXPECT_EQ(document.MemberText(L"command"), L"X\x01");
    EXPECT_EQ(document.MemberText(L"IsError"), L"1");
    auto parameters = document.MemberChildren(L"parameters");
    ASSERT_EQ(parameters.size(), 2u);
    EXPECT_EQ(parameters[0].first, L"a");
    EXPECT_EQ(parameters[0].second, L"\"\\\b\f\n\r\t\x1f\U0001F600");
    EXPECT_EQ(parameters[1].first, L"b\n");
    EXPECT_EQ(parameters[1].second, L"\u00e9");
}

TEST(JsonComponent, RefusesWhatIsNotStrictJson)
{
    const wchar_t* texts[] = {
        L"{'command':'X'}",         // single quotes
        L"{\"command\":\"X\",}",    // trailing comma
        L"{\"command\":\"a\x01\"}", // raw control character
        L"{\"command\":\"\\x41\"}", // unknown escape
        L"{\"command\":\"\\uD800\"}", // escaped lone surrogate
        L"{} {}",                    // two texts
    };
    for (const wchar_t* text : texts)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(text)));
        EXPECT_THROW(TJsonDocument{text}, EJsonComponent);
    }
}

// ---------------------------------------------------------------- RaiseIfError

TEST(PipeMessageRaise, MessageOfCodeAndText)
{
    struct TCase
    {
        bool IsError;
        const wchar_t* Code;
        const wchar_t* Text;
        const char* Expected; // nullptr: nothing raised
    };
    const TCase cases[] = {
        {false, L"E", L"T", nullptr},
        {true, L"", L"", "Exception: Unknown Internal Error (TPipeMessage)"},
        {true, L"EWin32Error", L"", "EWin32Error: Unknown Internal Error (TPipeMessage)"},
        {true, L"", L"gone", "Exception: gone"},
        {true, L"E", L"caf\u00e9", "E: caf\xc3\xa9"},
    };
    for (const TCase& c : cases)
    {
        TTPPipeMessage message;
        message.SetIsError(c.IsError);
        message.SetErrorCode(c.Code);
        message.SetErrorText(c.Text);
        if (!c.Expected)
        {
            EXPECT_NO_THROW(message.RaiseIfError());
            continue;
        }
        try
        {
            message.RaiseIfError();
            ADD_FAILURE() << "nothing raised for " << c.Expected;
        }
        catch (const std::runtime_error& e)
        {
            EXPECT_STREQ(e.what(), c.Expected);
        }
    }
}

// ---------------------------------------------------------------- frame

TEST(PipeFrame, LengthCountsBytesAndSurrogatePairsPassWhole)
{
    const std::wstring text = L"{\"command\":\"\u00e9\U0001F600\"}";
    const std::string frame = PipeFrame::EncodeFrame(text);
    ASSERT_EQ(frame.size(), PipeFrame::LengthSize + text.size() * 2);
    EXPECT_EQ(PipeFrame::DecodeLength(reinterpret_cast<const unsigned char*>(frame.data())), text.size() * 2);
    // Little-endian UTF-16 without byte-order mark: the first character is '{' 0x00.
    EXPECT_EQ(frame.substr(4, 2), std::string("{\0", 2));
    // The pair D83D DE00 travels as 3D D8 00 DE.
    EXPECT_NE(frame.find(std::string("\x3D\xD8\x00\xDE", 4)), std::string::npos);
    EXPECT_EQ(PipeFrame::DecodeText(frame.substr(PipeFrame::LengthSize)), text);
    EXPECT_EQ(PipeFrame::DecodeLength(PipeFrame::EncodeLength(0x01020304).data()), 0x01020304u);
}

} // namespace
