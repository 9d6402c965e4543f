// The bridge's own texts: the language chosen from the abbreviation, its
// greeting, and the rebranded tray pictures.
#include "TrayTestSupport.h"

#include "tray/UN_GlobalConstants.h"
#include "tray/UN_MAINFORM.h"

#include <gtest/gtest.h>

#include "SiblingProcess.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using tray_test::PixelsOf;

namespace
{

TEST(LanguageChoice, AbbreviationGivesIndexAndGreeting)
{
    struct TCase
    {
        const wchar_t* Abbreviation;
        int Index;
        const wchar_t* Greeting;
    };
    const TCase cases[] = {
        {L"ITA", 1, L"Avvio applicazione"},
        {L"FRA", 2, L"D\u00e9marrage de l'application"},
        {L"DEU", 3, L"Anwendung starten"},
        {L"ENU", 0, L"Starting application"},
        {L"PLK", 4, L"Uruchamianie aplikacji"},
        {L"NLD", 5, L"Applicatie starten"},
        // Told apart only by the third letter.
        {L"PTB", 6, L"Iniciando aplicativo"},
        {L"PTG", 7, L"Iniciando aplicativo"},
        {L"RUS", 8, L"Starting application"},
        {L"UKR", 8, L"Starting application"},
        {L"CHS", 11, L"\u958b\u59cb\u7533\u8acb"},
        {L"CHT", 10, L"Starting application"},
        {L"FAS", 13, L"Starting application"},
        {L"ESN", 14, L"Aplicaci\u00f3n de inicio"},
        {L"TRK", 15, L"Uygulamay\u0131 ba\u015flatma"},
        // Case and surrounding blanks do not matter.
        {L"ita", 1, L"Avvio applicazione"},
        {L"  deu ", 3, L"Anwendung starten"},
        {L" trk", 15, L"Uygulamay\u0131 ba\u015flatma"},
        // A three-letter code needs all three letters.
        {L"PT", 0, L"Starting application"},
        {L"", 0, L"Starting application"},
    };
    for (const TCase& row : cases)
    {
        SCOPED_TRACE(testing::Message() << "abbreviation \"" << std::wstring(row.Abbreviation) << "\"");
        const int index = LanguageIndexOf(row.Abbreviation);
        EXPECT_EQ(index, row.Index);
        EXPECT_EQ(StartingTextFor(index), row.Greeting);
    }
}

TEST(LanguageChoice, IndexOutsideTheTableGivesEnglish)
{
    EXPECT_EQ(StartingTextFor(-1), L"Starting application");
    EXPECT_EQ(StartingTextFor(16), L"Starting application");
}

// Wine takes the user's language from LC_ALL when a program starts. CTest runs
// this case as the session comes (English, "ENU") and once more under
// LC_ALL=it_IT.UTF-8 (Italian, "ITA"), where a lookup that missed the user's
// language would still answer English.
TEST(LanguageChoice, UserLanguageComesFromTheSession)
{
    wchar_t locale[64] = {};
    GetEnvironmentVariableW(L"LC_ALL", locale, static_cast<DWORD>(std::size(locale)));
    const bool italian = std::wstring_view(locale).starts_with(L"it_IT");
    SCOPED_TRACE(testing::Message() << "LC_ALL=" << std::wstring(locale));
    EXPECT_EQ(GetUILanguageIndex(), italian ? 1 : 0);
    EXPECT_EQ(GetStartingText(), italian ? L"Avvio applicazione" : L"Starting application");
}

class TrayPictures : public ::testing::TestWithParam<int>
{
};

TEST_P(TrayPictures, HaveTheirMeaningAtEverySize)
{
    const int size = GetParam();
    TUniqueImageList list = CreateTrayImageList(size);
    ASSERT_EQ(ImageList_GetImageCount(list.get()), 5);
    int width = 0;
    int height = 0;
    ImageList_GetIconSize(list.get(), &width, &height);
    EXPECT_EQ(width, size);

    const auto mark = PixelsOf(list.get(), 0);
    ASSERT_EQ(mark.size(), static_cast<std::size_t>(size * size));
    EXPECT_EQ(PixelsOf(list.get(), 2), mark);
    EXPECT_NE(PixelsOf(list.get(), 1), mark);
    EXPECT_NE(PixelsOf(list.get(), 3), mark);
    EXPECT_NE(PixelsOf(list.get(), 1), PixelsOf(list.get(), 3));
    // Alpha is kept: the mark's corners are see-through, picture 4 is all see-through.
    EXPECT_LT(mark.front() >> 24, 0x10u);
    EXPECT_EQ(mark[static_cast<std::size_t>(size / 2 * size + size / 2)] >> 24, 0xFFu);
    const auto empty = PixelsOf(list.get(), 4);
    EXPECT_TRUE(std::all_of(empty.begin(), empty.end(), [](std::uint32_t pixel) { return (pixel >> 24) == 0; }));
}

// The tray's small-icon sizes at 100 % to 400 %.
INSTANTIATE_TEST_SUITE_P(Sizes, TrayPictures, ::testing::Values(16, 20, 24, 28, 32, 40, 48, 56, 64));

// The sizes, in pixels, of the pictures that icon resource Name of Module holds.
std::vector<int> IconSizesOf(HMODULE Module, const wchar_t* Name)
{
    HRSRC found = FindResourceW(Module, Name, RT_GROUP_ICON);
    HGLOBAL loaded = found != nullptr ? LoadResource(Module, found) : nullptr;
    const auto* group = static_cast<const BYTE*>(loaded != nullptr ? LockResource(loaded) : nullptr);
    if (group == nullptr)
        return {};
    // A group header (reserved, type, count: three WORDs), then one packed 14-byte
    // entry per picture, starting with its width (0 for 256).
    WORD count = 0;
    std::memcpy(&count, group + 4, sizeof(count));
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i)
    {
        const BYTE width = group[6 + 14 * i];
        sizes.push_back(width == 0 ? 256 : width);
    }
    std::sort(sizes.begin(), sizes.end());
    return sizes;
}

// Windows picks the picture nearest the size it needs and scales only down, so
// each scale of the tray needs its own picture; Wine's DPI never changes here.
TEST(IconResources, TheBridgeCarriesEveryTraySizeAndTheMainIconAlsoExplorersLarge)
{
    struct TLibraryDeleter { void operator()(HMODULE module) const noexcept { FreeLibrary(module); } };
    std::unique_ptr<std::remove_pointer_t<HMODULE>, TLibraryDeleter> bridge(LoadLibraryExW(
        (OwnFolder() + L"uxlink.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(bridge) << GetLastError();
    const std::vector<int> traySizes{16, 20, 24, 28, 32, 40, 48, 56, 64};
    for (const wchar_t* name : {L"TRAYICON0", L"TRAYICON1", L"TRAYICON2", L"TRAYICON3", L"TRAYICON4"})
        EXPECT_EQ(IconSizesOf(bridge.get(), name), traySizes) << testing::PrintToString(std::wstring(name));
    std::vector<int> mainSizes = traySizes;
    mainSizes.push_back(256);
    EXPECT_EQ(IconSizesOf(bridge.get(), L"MAINICON"), mainSizes);
}

TEST(Rebranding, PicturesZeroOneTwoAndFourBecomeTheMainIconThreeStays)
{
    TUniqueImageList list = CreateTrayImageList(16);
    const auto blueDot = PixelsOf(list.get(), 3);
    TUniqueIcon mainIcon(
        static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), L"MAINICON", IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR)));
    ASSERT_TRUE(mainIcon);
    const auto main = PixelsOf(mainIcon.get());
    // The rebranded mark is not the product mark, so a rebranded tray can be told
    // apart: most of its pixels differ.
    const auto mark = PixelsOf(list.get(), 0);
    ASSERT_EQ(main.size(), mark.size());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < main.size(); ++i)
        differing += main[i] != mark[i] ? 1 : 0;
    EXPECT_GT(differing, main.size() / 2);

    RebrandTrayImages(list.get());

    ASSERT_EQ(ImageList_GetImageCount(list.get()), 5);
    for (int index : {0, 1, 2, 4})
        EXPECT_EQ(PixelsOf(list.get(), index), main) << "picture " << index;
    EXPECT_EQ(PixelsOf(list.get(), 3), blueDot);
}

} // namespace
