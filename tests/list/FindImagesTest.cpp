#include "FindImages.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "TempDir.h"

namespace kalidrome {
namespace {

using Paths = std::vector<std::string>;

TEST(MatchesMaskTest, Wildcards) {
    struct Case {
        const char* name;
        const char* mask;
        bool matches;
    };
    const Case cases[] = {
        {"a.jpg", "*.jpg", true},
        {"A.JPG", "*.jpg", true},
        {"a.jpg", "*.JPG", true},
        {".hidden.jpg", "*.jpg", true},
        {"a.jpeg", "*.jpg", false},
        {"a.jpg.txt", "*.jpg", false},
        {"jpg", "*.jpg", false},
        {"a.jpg.jpg", "*.jpg", true},
        {"ab", "?b", true},
        {"b", "?b", false},
        {"\xc3\xa9.png", "?.png", true},  // one character, two bytes
        {"", "*", true},
        {"English.lng", "*.lng", true},
        {"x1y2z", "x*y?z", true},
        {"x1y22z", "x*y?z", false},
        {"abcbcbd", "*bc*bd", true},
        {"a.jpg", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " ~ " + c.mask);
        EXPECT_EQ(MatchesMask(c.name, c.mask), c.matches);
    }
}

// A tree with every kind of thing the scan meets:
//   a.jpg  B.JPG  .hidden.jpg  notes.txt  c.jpeg  pipe.jpg (a pipe)  x.jpg/ (a folder)
//   s1/d.jpg   s2/e.png  s2/s3/f.JPG  s2/back -> .. (a loop)   .thumbs/t.jpg
//   x.jpg/g.jpg   link.jpg -> s1/d.jpg
class FindImagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* d : {"s1", "s2", "s2/s3", ".thumbs", "x.jpg"}) mkdir(d);
        for (const char* f : {"a.jpg", "B.JPG", ".hidden.jpg", "notes.txt", "c.jpeg", "s1/d.jpg", "s2/e.png",
                              "s2/s3/f.JPG", ".thumbs/t.jpg", "x.jpg/g.jpg"})
            test::WriteFile(m_dir.file(f), "x");
        ASSERT_EQ(::mkfifo(m_dir.file("pipe.jpg").c_str(), 0644), 0);
        ASSERT_EQ(::symlink("..", m_dir.file("s2/back").c_str()), 0);
        ASSERT_EQ(::symlink("s1/d.jpg", m_dir.file("link.jpg").c_str()), 0);
    }

    void mkdir(const char* name) { ASSERT_EQ(::mkdir(m_dir.file(name).c_str(), 0755), 0); }

    // Names in the folder in the order the file system lists them.
    Paths listed(const std::string& folder) const {
        Paths names;
        for (const auto& e : std::filesystem::directory_iterator(m_dir.file(folder)))
            names.push_back(e.path().filename().string());
        return names;
    }

    std::string root() const { return m_dir.path(); }

    test::TempDir m_dir;
};

TEST_F(FindImagesTest, OwnMatchesFirstThenSubFoldersDepthFirst) {
    Paths result = FindImages(root(), "*.jpg", true);
    // The root's own files in listing order: hidden ones count, pipes and folders do not.
    Paths expected;
    for (const auto& n : listed("."))
        if (n == "a.jpg" || n == "B.JPG" || n == ".hidden.jpg" || n == "link.jpg") expected.push_back(root() + "/" + n);
    // Then the sub-folders in listing order; .thumbs is left out, s2/back leads back to
    // the root, which has been searched already.
    for (const auto& n : listed(".")) {
        if (n == "s1") expected.push_back(root() + "/s1/d.jpg");
        if (n == "s2") expected.push_back(root() + "/s2/s3/f.JPG");
        if (n == "x.jpg") expected.push_back(root() + "/x.jpg/g.jpg");
    }
    EXPECT_EQ(result, expected);
    EXPECT_EQ(FindImages(root() + "/", "*.jpg", true), expected);
}

TEST_F(FindImagesTest, WithoutRecursionOnlyTheFolderItself) {
    EXPECT_EQ(FindImages(root(), "*.JPEG", false), (Paths{root() + "/c.jpeg"}));
    EXPECT_EQ(FindImages(root() + "/s2", "*", false), (Paths{root() + "/s2/e.png"}));
}

TEST_F(FindImagesTest, NothingFromWhatCannotBeSearched) {
    EXPECT_TRUE(FindImages("", "*.jpg", true).empty());
    EXPECT_TRUE(FindImages(root() + "/missing", "*.jpg", true).empty());
    EXPECT_TRUE(FindImages(root() + "/a.jpg", "*", true).empty());
}

TEST_F(FindImagesTest, LinkLoopEndsAndListsEachFileOnce) {
    // Starting inside the loop: s2/back leads to the root, whose s2 is s2 again.
    Paths result = FindImages(root() + "/s2", "*", true);
    Paths sorted = result;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
    EXPECT_EQ(result.front(), root() + "/s2/e.png");
    EXPECT_NE(std::find(result.begin(), result.end(), root() + "/s2/back/a.jpg"), result.end());
    EXPECT_EQ(std::count_if(result.begin(), result.end(),
                            [](const std::string& p) { return p.find("f.JPG") != std::string::npos; }),
              1);
}

TEST_F(FindImagesTest, MultiIsTheConcatenationOfSingleScans) {
    const std::vector<std::vector<std::string>> maskSets = {
        {"*.jpg", "*.jpeg", "*.bmp", "*.png"},
        {"*.jpg", "a*", "*"},  // a name that matches several masks is listed for each
        {},
    };
    for (const auto& masks : maskSets) {
        for (bool recurse : {false, true}) {
            SCOPED_TRACE(std::to_string(masks.size()) + (recurse ? " recursive" : ""));
            Paths concatenated;
            for (const auto& m : masks) {
                Paths one = FindImages(root(), m, recurse);
                concatenated.insert(concatenated.end(), one.begin(), one.end());
            }
            EXPECT_EQ(FindImagesMulti(root(), masks, recurse), concatenated);
        }
    }
    EXPECT_EQ(FindImagesMulti(root(), {"*.jpeg", "*.png"}, true),
              (Paths{root() + "/c.jpeg", root() + "/s2/e.png"}));
}

}  // namespace
}  // namespace kalidrome
