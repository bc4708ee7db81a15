#include <gtest/gtest.h>

#include "CaseName.h"
#include "LanguageNames.h"
#include "TextEncoding.h"

namespace {

using namespace kalidrome;

struct ListingCase {
    const char* name;
    std::vector<std::string> files;
    std::vector<std::string> languages;
};

const ListingCase kListings[] = {
    {"sorted without regard to case", {"/s/Zulu.lng", "/s/deutsch.lng", "/s/English.lng"}, {"deutsch", "English", "Zulu"}},
    {"case twins give one entry, capital first", {"/s/english.lng", "/s/English.lng", "/s/ENGLISH.lng"}, {"ENGLISH"}},
    {"only the last extension goes", {"/s/Francais.old.lng"}, {"Francais.old"}},
    {"other extensions and bare names are left out", {"/s/Deutsch.LNG", "/s/.lng", "/s/lng", "/s/A.lngx"}, {}},
    {"names without a folder", {"Deutsch.lng"}, {"Deutsch"}},
};

class LanguageListing : public ::testing::TestWithParam<ListingCase> {};

TEST_P(LanguageListing, Names) { EXPECT_EQ(LanguageNamesFromFiles(GetParam().files), GetParam().languages); }

INSTANTIATE_TEST_SUITE_P(LanguageNames, LanguageListing, ::testing::ValuesIn(kListings),
                         [](const auto& c) { return test::CaseName(c.param.name); });

TEST(LanguageNames, StoredChoiceMatchesLowerCasedAsciiOnly) {
    const std::vector<std::string> names = {"Deutsch", "English", "\xC3\x84gyptisch"};
    EXPECT_EQ(FindStoredLanguage(names, "deutsch"), 0u);
    EXPECT_EQ(FindStoredLanguage(names, "DEUTSCH"), 0u);
    EXPECT_EQ(FindStoredLanguage(names, "english"), 1u);
    EXPECT_EQ(FindStoredLanguage(names, "\xC3\x84GYPTISCH"), 2u);
    EXPECT_EQ(FindStoredLanguage(names, "\xC3\xA4gyptisch"), std::nullopt) << "only A to Z change case";
    EXPECT_EQ(FindStoredLanguage(names, "francais"), std::nullopt);
    EXPECT_EQ(LowerAscii("MiXeD \xC3\x84 Z"), "mixed \xC3\x84 z");
}

TEST(TextEncoding, Utf8CheckAndWindows1252) {
    EXPECT_TRUE(IsValidUtf8("plain \xC3\xBC \xE2\x82\xAC \xF0\x9F\x98\x80"));
    for (const char* bad : {"\xFC", "\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82"})
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
    EXPECT_EQ(Windows1252ToUtf8("Schlie\xDF" "en \x80 \x84x\x93 \x9F \x81"),
              "Schlie\xC3\x9F" "en \xE2\x82\xAC \xE2\x80\x9Ex\xE2\x80\x9C \xC5\xB8 \xC2\x81");
}

}  // namespace
