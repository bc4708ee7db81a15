#include "FindImages.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
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
    // s1/d.jpg is the file link.jpg has listed already.
    for (const auto& n : listed(".")) {
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

// The chosen folder "root" in a tree with links of every kind; "System" inside it is the
// program's own folder:
//   elsewhere/c.jpg                     outside the chosen folder
//   root/a.jpg  root/sub/b.png  root/.hidden/d.jpg  root/System/WallPaper.bmp  root/System/Images/Bottom.bmp
//   root/inner -> sub          root/shown -> .hidden       root/self -> .      (inside)
//   root/out -> ../elsewhere   root/up -> ..               root/sub/top -> ../.. (outside, ancestors)
//   root/images -> System/Images                                              (the System folder)
//   root/again.jpg -> a.jpg    root/hard.jpg (hard link of a.jpg)              (the same file)
//   root/far.jpg -> ../elsewhere/c.jpg   root/wp.bmp -> System/WallPaper.bmp   (file links)
TEST(FindImagesLinksTest, FollowsFolderLinksOnlyInsideAndListsEachFileOnce) {
    test::TempDir dir;
    namespace fs = std::filesystem;
    const std::string root = dir.file("root");
    for (const char* d : {"elsewhere", "root", "root/sub", "root/.hidden", "root/System", "root/System/Images"})
        fs::create_directory(dir.file(d));
    for (const char* f : {"elsewhere/c.jpg", "root/a.jpg", "root/sub/b.png", "root/.hidden/d.jpg",
                          "root/System/WallPaper.bmp", "root/System/Images/Bottom.bmp"})
        test::WriteFile(dir.file(f), f);
    const std::pair<const char*, const char*> links[] = {
        {"sub", "root/inner"},      {".hidden", "root/shown"},         {".", "root/self"},
        {"../elsewhere", "root/out"}, {"..", "root/up"},                 {"../..", "root/sub/top"},
        {"System/Images", "root/images"}, {"a.jpg", "root/again.jpg"}, {"../elsewhere/c.jpg", "root/far.jpg"},
        {"System/WallPaper.bmp", "root/wp.bmp"},
    };
    for (const auto& [target, link] : links) ASSERT_EQ(::symlink(target, dir.file(link).c_str()), 0) << link;
    ASSERT_EQ(::link(dir.file("root/a.jpg").c_str(), dir.file("root/hard.jpg").c_str()), 0);

    const std::vector<std::string> masks = {"*.jpg", "*.jpeg", "*.bmp", "*.png"};
    const Paths result = FindImagesMulti(root, masks, true, nullptr, root + "/System/");
    // Which of a file's names comes first depends on the order the folder lists them; the
    // files themselves are exact: a.jpg, b.png, d.jpg (through the link into .hidden) and
    // the picture far.jpg leads to, each once, and every path stays in the chosen folder.
    // A file is known by its inode: hard.jpg has no other name to resolve to.
    auto identity = [](const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return std::pair<dev_t, ino_t>(st.st_dev, st.st_ino);
    };
    std::map<std::pair<dev_t, ino_t>, Paths> byFile;
    for (const std::string& path : result) {
        EXPECT_EQ(path.rfind(root + "/", 0), 0u) << path;
        EXPECT_EQ(path.find("/up/"), std::string::npos) << path;
        EXPECT_EQ(path.find("/top/"), std::string::npos) << path;
        byFile[identity(path)].push_back(path);
    }
    std::set<std::pair<dev_t, ino_t>> files;
    for (const auto& [file, names] : byFile) {
        files.insert(file);
        EXPECT_EQ(names.size(), 1u) << names.front() << " and " << names.back() << " are one file";
    }
    std::set<std::pair<dev_t, ino_t>> expected;
    for (const char* f : {"elsewhere/c.jpg", "root/.hidden/d.jpg", "root/a.jpg", "root/sub/b.png"})
        expected.insert(identity(dir.file(f)));
    EXPECT_EQ(files, expected);
    EXPECT_NE(std::find(result.begin(), result.end(), root + "/shown/d.jpg"), result.end());
    EXPECT_NE(std::find(result.begin(), result.end(), root + "/far.jpg"), result.end());

    // Without a System folder to leave out, it is an ordinary folder of the tree.
    const Paths withSystem = FindImagesMulti(root, masks, true);
    EXPECT_EQ(withSystem.size(), result.size() + 2);
    // Chosen itself, the System folder yields nothing; a scan that starts below an
    // ancestor link does not climb out through it.
    EXPECT_TRUE(FindImagesMulti(root + "/System", masks, true, nullptr, root + "/System").empty());
    EXPECT_EQ(FindImagesMulti(root + "/sub", masks, true), (Paths{root + "/sub/b.png"}));
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
