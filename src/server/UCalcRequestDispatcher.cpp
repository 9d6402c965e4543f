#include "server/UCalcRequestDispatcher.h"

#include "base/SlimLock.h"
#include "base/TextConversion.h"
#include "base/WinError.h"
#include "shell/DroppedFiles.h"
#include "shell/UN_DetectFile.h"
#include "startup/GF_SupportFunctions.h"
#include "startup/UN_GlobalVars.h"
#include "startup/UN_SystemFolders.h"
#include "tray/UN_MAINFORM.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace
{

// One lock for the whole process, not one per dispatcher.
TSlimLock RequestLock;

// Every line of the dispatcher starts with the class and method it comes from.
const std::wstring ClassTag = L"[TCalcRequestDispatcher.";
const std::wstring Tag = ClassTag + L"InternalProcessRequest]";
// The desktop line of "SUINFO" has always named the class with a doubled "T";
// readers of the log look for it that way.
const std::wstring DesktopLineTag = L"[T" + Tag.substr(1);

std::wstring OkAnswer()
{
    return TTPPipeMessage::MakeMessage(L"Result", {L"Result"}, {L"OK"});
}

void ShellOpenUrl(HWND AOwner, const std::wstring& AUrl)
{
    // A URL that cannot be opened is not reported: the answer is OK all the same.
    ShellExecuteW(AOwner, L"open", AUrl.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// Keeps the clipboard open for one scope. Another program may hold it for a
// moment, so opening is tried a few times before it counts as a failure.
class TClipboard
{
public:
    TClipboard()
    {
        for (int attempt = 0; attempt < 10; ++attempt)
        {
            if (OpenClipboard(nullptr))
                return;
            Sleep(10);
        }
        ThrowLastError("OpenClipboard");
    }
    TClipboard(const TClipboard&) = delete;
    TClipboard& operator=(const TClipboard&) = delete;
    ~TClipboard() { CloseClipboard(); }
};

std::wstring ReplaceAll(std::wstring AText, std::wstring_view AFrom, std::wstring_view ATo)
{
    for (std::size_t at = AText.find(AFrom); at != std::wstring::npos; at = AText.find(AFrom, at + ATo.size()))
        AText.replace(at, AFrom.size(), ATo);
    return AText;
}

// "REQMOTCB": the report of one detection. OnData holds it, not the dispatcher, so a
// report that comes after its request stopped waiting lands in an object nobody
// reads any more and can never be taken for the report of a later request.
class TDropReport
{
public:
    // On the detection thread. The detector reports one path per selected item;
    // the first one decides the drop folder, as running them together would name
    // no existing file.
    void HandleDetectorData(TDetectM& Sender)
    {
        _LastClipPath = Sender.Path().front();
        _PathDrapped.store(true, std::memory_order_release);
    }

    // Polls every 5 ms until the report is there or more than Limit has passed.
    bool WaitForReport(std::chrono::milliseconds Limit) const
    {
        auto start = std::chrono::steady_clock::now();
        do
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        while (!_PathDrapped.load(std::memory_order_acquire) && std::chrono::steady_clock::now() - start <= Limit);
        return _PathDrapped.load(std::memory_order_acquire);
    }

    // Read only after WaitForReport has seen the report.
    [[nodiscard]] const std::wstring& LastClipPath() const noexcept { return _LastClipPath; }

private:
    std::wstring _LastClipPath;
    std::atomic<bool> _PathDrapped{false};
};

// The detector is ActiveDetector for the request's duration and let go of at its
// end; its thread keeps it alive for as long as it still runs.
class TActiveDetectorScope
{
public:
    explicit TActiveDetectorScope(std::shared_ptr<TDetectM> ADetector) { ActiveDetector = std::move(ADetector); }
    TActiveDetectorScope(const TActiveDetectorScope&) = delete;
    TActiveDetectorScope& operator=(const TActiveDetectorScope&) = delete;
    ~TActiveDetectorScope() { ActiveDetector.reset(); }
};

// A file's folder up to and including its last "\" or ":"; a folder stays as it is;
// empty when nothing exists at APath.
std::wstring DropFolderOf(const std::wstring& APath)
{
    DWORD attributes = GetFileAttributesW(APath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
    {
        Log(Tag + L" REQMOTCB - INVALID_FILE_ATTRIBUTES: " + APath);
        return {};
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return APath;
    std::size_t end = APath.find_last_of(L"\\:");
    return end == std::wstring::npos ? std::wstring() : APath.substr(0, end + 1);
}

} // namespace

TCalcRequestDispatcher::TCalcRequestDispatcher(std::chrono::milliseconds ADetectorWaitLimit)
    : TCalcRequestDispatcher(ShellOpenUrl, ADetectorWaitLimit)
{
}

TCalcRequestDispatcher::TCalcRequestDispatcher(TShellOpen AShellOpen, std::chrono::milliseconds ADetectorWaitLimit)
    : FShellOpen(std::move(AShellOpen)), FDetectorWaitLimit(ADetectorWaitLimit)
{
}

std::wstring TCalcRequestDispatcher::ProcessRequest(const std::wstring& ARequest)
{
    std::lock_guard lock(RequestLock);
    try
    {
        return InternalProcessRequest(ARequest);
    }
    catch (const std::exception& e)
    {
        Log(ClassTag + L"ProcessRequest]  EX  " + WhatOf(e));
        return TTPPipeMessage::MakeMessage(e);
    }
}

std::wstring TCalcRequestDispatcher::InternalProcessRequest(const std::wstring& ARequest)
{
    using TCommand = void (TCalcRequestDispatcher::*)(const TTPPipeMessage&, std::wstring&);
    // Names match exactly, letter case included; any other name gets no answer.
    static const std::pair<std::wstring_view, TCommand> Commands[] = {
        {L"OPENURL", &TCalcRequestDispatcher::OpenUrl},
        {L"SUINFO", &TCalcRequestDispatcher::SendUserInfo},
        {L"REQCLBRH", &TCalcRequestDispatcher::ReadClipboardFiles},
        {L"REQMOTCB", &TCalcRequestDispatcher::FindDropFolder},
        {L"REQCPIPE", &TCalcRequestDispatcher::CloseBridge},
        {L"REQTISHOW", &TCalcRequestDispatcher::ShowTrayBalloon},
        {L"RESTICHICON", &TCalcRequestDispatcher::SetTrayMenuTexts},
    };

    std::wstring answer;
    TTPPipeMessage request(ARequest);
    Log(Tag + L" BEGIN: " + ARequest);
    try
    {
        for (const auto& [name, command] : Commands)
            if (request.Name() == name)
            {
                (this->*command)(request, answer);
                break;
            }
    }
    catch (const std::exception& e)
    {
        Log(Tag + L" EX" + WhatOf(e));
    }
    return answer;
}

void TCalcRequestDispatcher::OpenUrl(const TTPPipeMessage& ARequest, std::wstring& AAnswer)
{
    // The foreground window, if any, owns whatever the shell shows.
    FShellOpen(GetForegroundWindow(), ARequest.GetData(L"URL"));
    AAnswer = OkAnswer();
}

void TCalcRequestDispatcher::SendUserInfo(const TTPPipeMessage&, std::wstring& AAnswer)
{
    std::wstring userName = GetLoggedUserName();
    std::wstring desktop = GetDesktopFolder();
    std::wstring temp = GetTempFolder();
    std::wstring localAppData = GetLocalAppDataFolder();
    Log(Tag + L" - nome_utente: " + userName);
    Log(DesktopLineTag + L" - desktop_utente: " + desktop);
    Log(Tag + L" - tempdir_utente: " + temp);
    Log(Tag + L" - local_appdata: " + localAppData);
    AAnswer = TTPPipeMessage::MakeMessage(L"Result", {L"nome_utente", L"desktop_utente", L"tempdir_utente", L"local_appdata"},
                                          {userName, desktop, temp, localAppData});
}

void TCalcRequestDispatcher::ReadClipboardFiles(const TTPPipeMessage&, std::wstring& AAnswer)
{
    Log(Tag + L" REQCLBRH - BEFORE  Clipboard.HasFormat(CF_HDROP)");
    if (!IsClipboardFormatAvailable(CF_HDROP))
        return;
    Log(Tag + L" REQCLBRH - INSIDE  Clipboard.HasFormat(CF_HDROP)");

    std::vector<std::wstring> keys;
    std::vector<std::wstring> values;
    {
        TClipboard clipboard;
        auto drop = static_cast<HDROP>(GetClipboardData(CF_HDROP));
        if (drop == nullptr)
            return;
        UINT count = DroppedFileCount(drop);
        for (UINT i = 0; i < count; ++i)
        {
            // Wine 8 counts an empty list as one empty name; no file has that name.
            std::wstring name = DroppedFileName(drop, i);
            if (name.empty())
                continue;
            keys.push_back(std::to_wstring(i));
            values.push_back(std::move(name));
            Log(Tag + L" REQCLBRH -  CF_HDROP - path file find : " + keys.back() + L". " +
                values.back() + L"  ");
        }
    }
    AAnswer = TTPPipeMessage::MakeMessage(L"Result", keys, values);
    Log(Tag + L" REQCLBRH -  xmlmessage message back to client: " + AAnswer);
}

void TCalcRequestDispatcher::FindDropFolder(const TTPPipeMessage& ARequest, std::wstring& AAnswer)
{
    std::shared_ptr<TDetectM> detector = TDetectM::Create();
    TActiveDetectorScope active(detector);
    auto report = std::make_shared<TDropReport>();
    detector->SetOnData([report](TDetectM& Sender) { report->HandleDetectorData(Sender); });

    std::wstring path;
    try
    {
        detector->MouseTrapCB();
        if (!report->WaitForReport(FDetectorWaitLimit))
            return;
        path = TrimControlAndBlanks(
            StripChars(StripChars(report->LastClipPath(), MakeCharSet(L"\n")), MakeCharSet(L"\r")));
        Log(Tag + L" REQMOTCB -  droppath: " + path);
        try
        {
            path = DropFolderOf(path);
        }
        catch (const std::exception& e)
        {
            Log(Tag + L" REQMOTCB -  " + path + L" EX: " + WhatOf(e));
            path.clear();
        }
        if (!path.empty())
            AAnswer = TTPPipeMessage::MakeMessage(L"Result", {L"peer", L"droppath"}, {ARequest.GetData(L"PEER"), path});
    }
    catch (const std::exception& e)
    {
        Log(Tag + L" REQMOTCB - " + path + L" EX: " + WhatOf(e));
    }
}

void TCalcRequestDispatcher::CloseBridge(const TTPPipeMessage&, std::wstring& AAnswer)
{
    AAnswer = OkAnswer();
    Log(Tag + L" REQCPIPE ");
    WithMainForm([](TFmain& AForm) {
        AForm.RunOnMainThread([&AForm] {
            if (AForm.TrayIcon)
                AForm.TrayIcon->SetIconVisible(false);
        });
    });
    // Closing the form ends the process; it waits until this answer is written.
    FAfterAnswer = [] { WithMainForm([](TFmain& AForm) { AForm.RunOnMainThread([&AForm] { AForm.Close(); }); }); };
}

void TCalcRequestDispatcher::ShowTrayBalloon(const TTPPipeMessage& ARequest, std::wstring& AAnswer)
{
    AAnswer = OkAnswer();
    const std::wstring text = ARequest.GetData(L"text");
    Log(Tag + L" REQTISHOW " + text);
    const std::wstring title = ARequest.GetData(L"title");
    const std::wstring balloonText = ReplaceAll(text, L"*", L"\r\n");
    const int index = IntegerFromText(ARequest.GetData(L"iconindex"), -1, TNumberForms::nfDecimal);
    Log(Tag + L" REQTISHOW -Fmain.ShowBalloonHint ");
    if (!WithMainForm([&](TFmain& AForm) {
            AForm.ShowBallonHint(title, balloonText, TQXBalloonHintIcon::bsbitNone, index);
        }))
        throw std::runtime_error("Fmain nil");
    Log(Tag + L" REQTISHOW RESULT ");
    Log(Tag + L" REQTISHOW " + AAnswer);
}

void TCalcRequestDispatcher::SetTrayMenuTexts(const TTPPipeMessage& ARequest, std::wstring& AAnswer)
{
    AAnswer = OkAnswer();
    Log(Tag + L" RESTICHICON ");
    const bool formExists = WithMainForm([&](TFmain& AForm) {
        std::vector<int> tags;
        AForm.RunOnMainThread([&] {
            for (const TqxMenuItem& item : AForm.TrayMenu.Items)
                tags.push_back(item.Tag);
        });
        // Packed: an item without a label adds nothing, so list positions are
        // not menu positions.
        std::vector<std::wstring> menuTrad;
        std::vector<int> menuStatus;
        for (int tag : tags)
        {
            try
            {
                std::wstring label = ARequest.GetData(L"label" + std::to_wstring(tag));
                if (label.empty())
                    continue;
                const int status =
                    IntegerFromText(ARequest.GetData(L"status" + std::to_wstring(tag)), 0, TNumberForms::nfDecimal);
                menuTrad.push_back(std::move(label));
                menuStatus.push_back(status);
            }
            catch (const std::exception& e)
            {
                Log(Tag + L" RESTICHICON EX  " + WhatOf(e));
            }
        }
        AForm.TranslateAndSetStatusTrayMenu(menuTrad, menuStatus);
    });
    if (!formExists)
        Log(Tag + L" RESTICHICON Fmain nil ");
}

void TCalcRequestDispatcher::RunAfterAnswer() noexcept
{
    std::function<void()> afterAnswer = std::exchange(FAfterAnswer, nullptr);
    if (!afterAnswer)
        return;
    try
    {
        afterAnswer();
    }
    catch (const std::exception& e)
    {
        Log(Tag + L" EX" + WhatOf(e));
    }
}
