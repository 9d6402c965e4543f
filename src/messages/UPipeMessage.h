// TTPPipeMessage: one envelope of either pipe (command name, ordered named text
// parameters, optional error triple) and its JSON text. Used by one thread at a time.
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TTPPipeMessage
{
public:
    TTPPipeMessage() = default;
    // An error envelope made from a caught failure: no name, no parameters.
    explicit TTPPipeMessage(const std::exception& AException);
    // The envelope read from ARequest (see SetAsString); empty text gives an empty envelope.
    explicit TTPPipeMessage(std::wstring_view ARequest);
    // SetData for each key in order. AValues must hold at least as many entries as
    // AKeys; extra values are ignored.
    TTPPipeMessage(std::wstring AName, const std::vector<std::wstring>& AKeys,
                   const std::vector<std::wstring>& AValues);

    [[nodiscard]] const std::wstring& Name() const noexcept { return FName; }
    void SetName(std::wstring Value) { FName = std::move(Value); }
    [[nodiscard]] bool IsError() const noexcept { return FIsError; }
    void SetIsError(bool Value) noexcept { FIsError = Value; }
    [[nodiscard]] const std::wstring& ErrorCode() const noexcept { return FErrorCode; }
    void SetErrorCode(std::wstring Value) { FErrorCode = std::move(Value); }
    [[nodiscard]] const std::wstring& ErrorText() const noexcept { return FErrorText; }
    void SetErrorText(std::wstring Value) { FErrorText = std::move(Value); }

    // Case-insensitive lookup; empty when absent.
    [[nodiscard]] std::wstring GetData(std::wstring_view AKey) const;
    // Replaces in place (taking the given letter case), appends when absent,
    // removes when Value is empty. A key holding "=" is no parameter name (its
    // line would be split there) and is ignored.
    void SetData(std::wstring_view AKey, std::wstring_view Value);
    // The parameters as "name=value" lines, in order.
    [[nodiscard]] const std::vector<std::wstring>& DataList() const noexcept { return FDataList; }

    // The JSON text; empty if the conversion failed. Never raises.
    [[nodiscard]] std::wstring AsString() const;
    // Reads the JSON text; a text that is not an envelope leaves what was read so far.
    // Never raises.
    void SetAsString(std::wstring_view Text);

    // Raises "code: text" when this is an error envelope.
    void RaiseIfError() const;

    static std::wstring MakeMessage(std::wstring AName, const std::vector<std::wstring>& AKeys,
                                    const std::vector<std::wstring>& AValues);
    static std::wstring MakeMessage(const std::exception& AException);

private:
    std::wstring FName;
    std::vector<std::wstring> FDataList;
    bool FIsError = false;
    std::wstring FErrorCode;
    std::wstring FErrorText;
};
