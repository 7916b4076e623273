// The product profile, compiled once per product: the names that must agree
// with each other, the shape of the messages, and the long texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Profile.h"

namespace {

// What differs in form between the two products.
#if defined(VOZ_PROFILE_A)
constexpr char kVozProductInFailure[] = "Perus";
constexpr const char* kVozFailureCaptionWanted = kSetupCaption;
constexpr char kVozMciAlias[] = "perus";
#else
constexpr char kVozProductInFailure[] = "Mailvane";
constexpr const char* kVozFailureCaptionWanted = kSetupWindowTitle;
constexpr char kVozMciAlias[] = "mailv";
#endif

static_assert(kHasBrowserButton == (VOZ_FEATURE_BROWSER_BUTTON != 0));
static_assert(kHasLanguageChoice == (VOZ_FEATURE_LANGUAGE_CHOICE != 0));
static_assert(kHasExtensionsList == (VOZ_FEATURE_EXTENSIONS_LIST != 0));
static_assert(kHasCacheCleanup == (VOZ_FEATURE_CACHE_CLEANUP != 0));
static_assert(kHasObsoleteFileRemoval == (VOZ_FEATURE_OBSOLETE_FILES != 0));
static_assert(kHasSiteMapsShortcut == (VOZ_FEATURE_SITE_MAPS != 0));

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> out(1);
    for (char c : text) {
        if (c == separator)
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return s;
}

// Every line break is CR LF: no lone CR, no lone LF.
bool OnlyCrLf(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) return false;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
    }
    return true;
}

TEST(Profile, NamesAgreeWithEachOther) {
    const std::string full = kFullName, shortName = kShortName;
    struct TCase {
        const char* what;
        std::string got, want;
    };
    const TCase cases[] = {
        {"setup window title", kSetupWindowTitle, full + " " + kVersionShown + " Setup"},
        {"finish title", kFinishTitle, std::string(kTrademarkName) + " v" + kVersionShown + " has been installed"},
        {"uninstall key", kUninstallKey, std::string(kUninstallKeyRoot) + kUninstallKeyName},
        {"uninstall key name", kUninstallKeyName, full},
        {"default destination", kDefaultDestinationSuffix, std::string(kVendorFolder) + "\\" + shortName},
        {"product program", kProductProgram, "\\" + shortName + ".exe"},
        {"settings file", kSettingsFile, "\\" + shortName + ".ini"},
        {"product data file", kProductDataFile, "\\" + shortName + ".pch"},
        {"query icon", kQueryIconReference, std::string(kProductProgram) + ",-104"},
        {"preserved file", kPreservedFile, std::string("Queries\\NoName") + kQueryExtension},
        {"extension in texts", kQueryExtensionText, Upper(kQueryExtension)},
        {"preserved file start", Upper(kPreservedFileStart), Upper(full)},
        {"application title prefix", kAppWindowTitlePrefix, full},
        {"program group", kProgramGroupName, full},
        {"desktop shortcut", kDesktopShortcutName, full},
        {"MCI alias", kMciAlias, kVozMciAlias},
    };
    for (const TCase& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
    EXPECT_EQ(std::string(kMainWindowClass), "PVQInstWnd");
    EXPECT_EQ(std::string(kMusicFileName), "_vtsetup.mid");
    EXPECT_EQ(kSiteMapsFolder[0] != '\0', kHasSiteMapsShortcut);
    EXPECT_EQ(kShortcutSiteMaps[0] != '\0', kHasSiteMapsShortcut);
    EXPECT_GE(kHotKeyPreselect, 0);
    EXPECT_LT(kHotKeyPreselect, kHotKeyEntryCount);
}

TEST(Profile, SettingsSectionIsStoredComplemented) {
    std::string name;
    for (unsigned char c : kSettingsSectionStored) name += static_cast<char>(~c & 0xFF);
    ASSERT_EQ(name.size(), 7u);
    for (char c : name) EXPECT_TRUE(c > ' ' && c < 127) << "byte " << int(static_cast<unsigned char>(c));
    EXPECT_NE(name, kOptionsSection);
    // Stored form is not readable text.
    for (unsigned char c : kSettingsSectionStored) EXPECT_GE(c, 0x80);
}

// Paragraphs separated by one empty line, lines by CR alone; the solution
// lines indented under their bullet.
TEST(Profile, FailureMessageShape) {
    const std::string text = kFailureMessage;
    EXPECT_EQ(text.find('\n'), std::string::npos);
    std::vector<std::string> lines = Split(text, '\r');
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0], "Unable to extract data. Possible reasons include:");
    for (int empty : {1, 4, 7}) EXPECT_EQ(lines[empty], "") << "line " << empty + 1;
    for (int bullet : {2, 5, 8}) EXPECT_EQ(lines[bullet].substr(0, 3), " * ") << "line " << bullet + 1;
    for (int solution : {3, 6, 9, 10}) {
        EXPECT_EQ(lines[solution].substr(0, 3), "   ") << "line " << solution + 1;
        EXPECT_NE(lines[solution][3], ' ') << "line " << solution + 1;
    }
    EXPECT_EQ(lines[3],
              "   Solution: obtain a correct copy by visiting the Orvane Technologies Web site at "
              "https://www.orvane.example/");
    EXPECT_NE(lines[9].find(std::string("(such as, \"C:") + kDefaultDestinationSuffix + "\")."), std::string::npos);
    for (int named : {2, 5, 6, 8})
        EXPECT_NE(lines[named].find(kVozProductInFailure), std::string::npos) << "line " << named + 1;
    EXPECT_EQ(std::string(kFailureCaption), kVozFailureCaptionWanted);
}

TEST(Profile, StartUpMessagesNameTheProduct) {
    for (const char* text : {kWindowsVersionMessage, kColourDepthMessage}) {
        EXPECT_EQ(std::string(text).rfind(kTrademarkName, 0), 0u) << text;
        EXPECT_NE(std::string(text).find("\r\n\r\n"), std::string::npos) << text;
    }
    EXPECT_EQ(std::string(kProductRunningMessage), std::string("Unable to proceed while ") + kFullName +
                                                       " is running. Please, close " + kFullName +
                                                       " and run this setup program, again.");
}

TEST(Profile, LongTexts) {
    for (const char* text : {kLicenceText, kIntroText, kThankYouText}) {
        std::string t = text;
        EXPECT_TRUE(OnlyCrLf(t)) << t.substr(0, 60);
        EXPECT_GT(t.size(), 300u) << t.substr(0, 60);
    }
    const std::string intro = kIntroText;
    size_t year = intro.find(kYearPlaceholder);
    ASSERT_NE(year, std::string::npos);
    EXPECT_EQ(intro.find(kYearPlaceholder, year + 1), std::string::npos) << "the year placeholder appears twice";
    EXPECT_EQ(intro.find("\r\n", year), std::string::npos) << "the year is not in the closing line";

    // The agreement opens with a paragraph in capitals about "I accept".
    const std::string licence = kLicenceText;
    const std::string opening = licence.substr(0, licence.find("\r\n"));
    EXPECT_EQ(opening, Upper(opening));
    EXPECT_NE(opening.find("\"I ACCEPT\""), std::string::npos);
    EXPECT_GT(licence.size(), 10000u);
    EXPECT_LT(licence.size(), 13000u);
    EXPECT_NE(licence.find(kFullName), std::string::npos);

    const std::string thanks = kThankYouText;
    EXPECT_NE(thanks.find(kQueryExtensionText), std::string::npos);
    EXPECT_NE(thanks.find("restarted"), std::string::npos);
}

}  // namespace
