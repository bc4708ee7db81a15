#include <gtest/gtest.h>

#include <algorithm>

#include "CaseName.h"
#include "ShortenPath.h"

namespace {

using kalidrome::ShortenPathToWidth;

// One unit per byte: widths in the table are lengths.
int Length(const std::string& s) { return static_cast<int>(s.size()); }

struct ShortenCase {
    const char* name;
    const char* path;
    int width;
    const char* expected;
};

constexpr ShortenCase kCases[] = {
    {"fits as it is", "/home/ann/Pictures/2003", 23, "/home/ann/Pictures/2003"},
    {"first folder gives way", "/home/ann/Pictures/2003", 22, "/.../ann/Pictures/2003"},
    {"second folder gives way", "/home/ann/Pictures/2003", 21, "/.../Pictures/2003"},
    {"only the last folder left", "/home/ann/Pictures/2003", 17, "/.../2003"},
    {"the root goes", "/home/ann/Pictures/2003", 8, ".../2003"},
    {"the name alone", "/home/ann/Pictures/2003", 7, "2003"},
    {"still too wide when nothing is left", "/home/ann/Pictures/2003", 1, "2003"},
    {"a file right under the root", "/photo.jpg", 9, "photo.jpg"},
    {"a relative path", "abc/def/c.jpg", 12, ".../c.jpg"},
    {"a relative path to its name", "a/b/c.jpg", 8, "c.jpg"},
    {"hidden folder cut as a whole", "/home/.config/k/x.kdl", 20, "/.../.config/k/x.kdl"},
    {"name with no folder", "picture.jpg", 3, "picture.jpg"},
    {"empty path", "", 0, ""},
};

class ShortenPathTest : public ::testing::TestWithParam<ShortenCase> {};

TEST_P(ShortenPathTest, ShortensToTheWidth) {
    const ShortenCase& c = GetParam();
    EXPECT_EQ(ShortenPathToWidth(c.path, c.width, Length), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ShortenPathTest, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return kalidrome::test::CaseName(p.param.name); });

TEST(ShortenPathWidthTest, MeasuresEachCandidateWithTheGivenMeasure) {
    // A measure where "." is wide: every form with "..." is wider than the whole path, so
    // the cutting goes on past all of them to the bare name.
    auto measure = [](const std::string& s) {
        int w = 0;
        for (char c : s) w += c == '.' ? 10 : 1;
        return w;
    };
    EXPECT_EQ(ShortenPathToWidth("/aa/bb/cc/n", 11, measure), "/aa/bb/cc/n");
    EXPECT_EQ(ShortenPathToWidth("/aa/bb/cc/n", 10, measure), "n");

    // With dots free, a short hidden first folder goes alone and leaves the next one whole.
    auto dotsFree = [](const std::string& s) { return static_cast<int>(s.size() - std::count(s.begin(), s.end(), '.')); };
    EXPECT_EQ(ShortenPathToWidth("/.a/bcdef/ghijk/c", 15, dotsFree), "/.../bcdef/ghijk/c");
}

}  // namespace
