#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>

#include "LanguageFile.h"
#include "CaseName.h"
#include "TempDir.h"
#include "Translator.h"

using kalidrome::LanguageFile;
using kalidrome::Translator;
using kalidrome::test::TempDir;
using kalidrome::test::WriteFile;

namespace {

// One language file that holds every shape of entry the cases below look up.
const char* const kTestLanguage =
    "\xEF\xBB\xBF"  // byte-order mark
    "; a comment line\r\n"
    "[WordList#MainForm]\r\n"
    "sec=Sek.\r\n"
    "   saving filelist...   =   Speichern...   \r\n"
    "C&lose=&Beenden\r\n"
    "&Double=\"in double quotes\"\r\n"
    "&Single='in single quotes'\r\n"
    "Left=\"only left\r\n"
    "Right=only right\"\r\n"
    "Mixed=\"mixed'\r\n"
    "Inner=a \"quoted\" word\r\n"
    "Empty=\r\n"
    "Blank=    \r\n"
    "EmptyQuotes=\"\"\r\n"
    "A=b=c\r\n"
    "Twice=first\r\n"
    "twice=second\r\n"
    ";Commented=never\r\n"
    "Umlaut=Schließen\r\n"
    "[wordlist#prefform]\r\n"
    "of each month=jedes Monats\r\n"
    "[WordList#MainForm]\r\n"
    "Repeated=from the second MainForm section\r\n";

struct TranslateCase {
    const char* name;
    const char* text;
    const char* section;
    const char* expected;
};

const TranslateCase kTranslateCases[] = {
    {"plain entry", "sec", "MainForm", "Sek."},
    {"key in other case with blanks around", "Saving FileList...", "MainForm", "Speichern..."},
    {"text with trailing blanks finds the trimmed key", "C&lose      ", "MainForm", "&Beenden"},
    {"text with leading blanks finds the trimmed key", "  C&lose", "MainForm", "&Beenden"},
    {"key compares without letter case", "c&LOSE", "MainForm", "&Beenden"},
    {"double quotes removed", "&Double", "MainForm", "in double quotes"},
    {"single quotes removed", "&Single", "MainForm", "in single quotes"},
    {"quote at the start only kept", "Left", "MainForm", "\"only left"},
    {"quote at the end only kept", "Right", "MainForm", "only right\""},
    {"different quotes kept", "Mixed", "MainForm", "\"mixed'"},
    {"inner quotes kept", "Inner", "MainForm", "a \"quoted\" word"},
    {"empty value keeps the text", "Empty", "MainForm", "Empty"},
    {"blank value keeps the text", "Blank", "MainForm", "Blank"},
    {"empty quotes keep the text", "EmptyQuotes", "MainForm", "EmptyQuotes"},
    {"key ends at the first equals sign", "A", "MainForm", "b=c"},
    {"first of a repeated key counts", "TWICE", "MainForm", "first"},
    {"comment line carries nothing", ";Commented", "MainForm", ";Commented"},
    {"UTF-8 value", "Umlaut", "MainForm", "Schlie\xC3\x9F" "en"},
    {"section name compares without letter case", "of each month", "PrefForm", "jedes Monats"},
    {"entry of another section not used", "sec", "PrefForm", "sec"},
    {"missing entry keeps the text", "Path", "MainForm", "Path"},
    {"missing section keeps the text", "sec", "BrowseForm", "sec"},
    {"only the first of a repeated section is read", "Repeated", "MainForm", "Repeated"},
    {"text with an equals sign is never a key", "A=b", "MainForm", "A=b"},
    {"empty text stays empty", "", "MainForm", ""},
};

void PrintTo(const TranslateCase& c, std::ostream* os) { *os << c.name; }

class TranslateEntry : public ::testing::TestWithParam<TranslateCase> {};

TEST_P(TranslateEntry, ReturnsTranslationOrText) {
    TempDir dir;
    WriteFile(dir.file("Test.lng"), kTestLanguage);
    Translator translator(dir.path() + "/");
    translator.SetCurrentLanguage("Test");
    EXPECT_EQ(translator.Translate(GetParam().text, GetParam().section), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(LanguageFile, TranslateEntry, ::testing::ValuesIn(kTranslateCases),
                         [](const auto& p) { return kalidrome::test::CaseName(p.param.name); });

std::string Repeat(const std::string& unit, std::size_t times) {
    std::string s;
    for (std::size_t i = 0; i < times; ++i) s += unit;
    return s;
}

struct LongValueCase {
    const char* name;
    std::string fileValue;
    std::string expected;
};

TEST(LanguageFileLongValue, CutTo2047Characters) {
    const LongValueCase cases[] = {
        {"exactly 2047 kept", Repeat("x", 2047), Repeat("x", 2047)},
        {"2048 cut", Repeat("x", 2048), Repeat("x", 2047)},
        {"quotes removed before the cut", "\"" + Repeat("y", 3000) + "\"", Repeat("y", 2047)},
        {"characters, not bytes", Repeat("\xC3\xA4", 3000), Repeat("\xC3\xA4", 2047)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        WriteFile(dir.file("Long.lng"), "[WordList#MainForm]\nsec=" + c.fileValue + "\n");
        Translator translator(dir.path() + "/");
        translator.SetCurrentLanguage("Long");
        EXPECT_EQ(translator.Translate("sec", "MainForm"), c.expected);
    }
}

TEST(Translator, NoLanguageCurrentLeavesEveryTextAndNeverReadsDotLng) {
    TempDir dir;
    // A file named ".lng" is the name an empty language would build.
    WriteFile(dir.file(".lng"), "[WordList#MainForm]\nsec=WRONG\n");
    Translator translator(dir.path() + "/");
    EXPECT_EQ(translator.CurrentLanguage(), "");
    EXPECT_EQ(translator.Translate("sec", "MainForm"), "sec");
    EXPECT_EQ(translator.ShowHideCaption(false), "S&how");
    EXPECT_EQ(translator.ShowHideCaption(true), "&Hide");
}

TEST(Translator, ShowHideCaptionFollowsTheSetCaptions) {
    Translator translator("/nonexistent/");
    translator.SetShowCaption("&Anzeigen");
    translator.SetHideCaption("&Ausblenden");
    EXPECT_EQ(translator.ShowHideCaption(false), "&Anzeigen");
    EXPECT_EQ(translator.ShowHideCaption(true), "&Ausblenden");
}

TEST(Translator, LanguageFileOnlyWhenItIsAPlainFile) {
    TempDir dir;
    WriteFile(dir.file("Deutsch.lng"), "");
    ::mkdir(dir.file("Folder.lng").c_str(), 0755);
    Translator translator(dir.path() + "/");
    EXPECT_EQ(translator.LanguageFilePath("Deutsch"), dir.path() + "/Deutsch.lng");
    EXPECT_TRUE(translator.LanguageFileExists("Deutsch"));
    EXPECT_FALSE(translator.LanguageFileExists("deutsch"));  // file names keep their case
    EXPECT_FALSE(translator.LanguageFileExists("Folder"));
    EXPECT_FALSE(translator.LanguageFileExists("Missing"));
}

// Sets a file's modification time back by secondsAgo, at the given nanosecond.
void Age(const std::string& path, long secondsAgo, long nsec = 0) {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    struct timespec times[2] = {{now.tv_sec - secondsAgo, nsec}, {now.tv_sec - secondsAgo, nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Overwrites a file's bytes in place (same inode), as an editor saving in place does.
void OverwriteInPlace(const std::string& path, const std::string& content) {
    int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ::close(fd);
}

// A day from now: every file of the test counts as old, so the reader trusts its stamps.
std::int64_t TomorrowSeconds() { return LanguageFile::RealTimeSeconds() + 86400; }

const char* const kSecA = "[WordList#MainForm]\nsec=AAAA\n";

// The reader keeps answers while the file's stamps stay; each way a file can change
// must show in them.
struct ChangeCase {
    const char* name;
    void (*change)(const std::string& path, const std::string& folder);
    const char* expected;
};

const ChangeCase kChangeCases[] = {
    {"same size and second, other nanosecond",
     [](const std::string& path, const std::string&) {
         OverwriteInPlace(path, "[WordList#MainForm]\nsec=BBBB\n");
         Age(path, 3600, 2);
     },
     "BBBB"},
    {"same size and time, replaced by rename",
     [](const std::string& path, const std::string& folder) {
         WriteFile(folder + "/new.tmp", "[WordList#MainForm]\nsec=CCCC\n");
         Age(folder + "/new.tmp", 3600, 1);
         ASSERT_EQ(std::rename((folder + "/new.tmp").c_str(), path.c_str()), 0);
     },
     "CCCC"},
    {"other size, same time",
     [](const std::string& path, const std::string&) {
         OverwriteInPlace(path, "[WordList#MainForm]\nsec=DDDDD\n");
         Age(path, 3600, 1);
     },
     "DDDDD"},
    {"removed",
     [](const std::string& path, const std::string&) { ASSERT_EQ(std::remove(path.c_str()), 0); },
     "sec"},
};

TEST(LanguageFileChange, ChangedFileIsSeen) {
    for (const auto& c : kChangeCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.file("Test.lng");
        WriteFile(path, kSecA);
        Age(path, 3600, 1);
        LanguageFile file(path, &TomorrowSeconds);
        ASSERT_EQ(file.translate("sec", "MainForm"), "AAAA");
        ASSERT_EQ(file.translate("sec", "MainForm"), "AAAA");
        ASSERT_EQ(file.fileReads(), 1u);  // the second answer came from memory
        c.change(path, dir.path());
        EXPECT_EQ(file.translate("sec", "MainForm"), c.expected);
    }
}

TEST(LanguageFileChange, UnchangedFileIsReadOncePerText) {
    TempDir dir;
    WriteFile(dir.file("Test.lng"), kSecA);
    LanguageFile file(dir.file("Test.lng"), &TomorrowSeconds);
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(file.translate("sec", "MainForm"), "AAAA");
        ASSERT_EQ(file.translate("  SEC ", "MainForm"), "AAAA");
        ASSERT_EQ(file.translate("sec", "PrefForm"), "sec");
    }
    EXPECT_EQ(file.fileReads(), 2u);  // "sec" in MainForm and in PrefForm
}

// With the real clock: a file changed within the file system's clock tick may keep
// every stamp, so a file changed just now is read again at every call.
class TranslatorFile : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(path(), kSecA);
        m_translator.SetCurrentLanguage("Test");
    }
    std::string path() const { return m_dir.file("Test.lng"); }
    std::string sec() { return m_translator.Translate("sec", "MainForm"); }

    TempDir m_dir;
    Translator m_translator{m_dir.path() + "/"};
};

TEST_F(TranslatorFile, SeesAFileChangedJustNowInPlace) {
    ASSERT_EQ(sec(), "AAAA");
    OverwriteInPlace(path(), "[WordList#MainForm]\nsec=EEEE\n");
    EXPECT_EQ(sec(), "EEEE");
    OverwriteInPlace(path(), "[WordList#MainForm]\nsec=FFFF\n");
    EXPECT_EQ(sec(), "FFFF");
}

TEST_F(TranslatorFile, SeesTheFileGoAndComeBack) {
    ASSERT_EQ(sec(), "AAAA");
    ASSERT_EQ(std::remove(path().c_str()), 0);
    EXPECT_EQ(sec(), "sec");
    WriteFile(path(), "[WordList#MainForm]\nsec=GGGG\n");
    EXPECT_EQ(sec(), "GGGG");
}

TEST_F(TranslatorFile, AnotherLanguageMadeCurrentIsReadFromItsOwnFile) {
    ASSERT_EQ(sec(), "AAAA");
    WriteFile(m_dir.file("Other.lng"), "[WordList#MainForm]\nsec=OOOO\n");
    m_translator.SetCurrentLanguage("Other");
    EXPECT_EQ(m_translator.CurrentLanguage(), "Other");
    EXPECT_EQ(sec(), "OOOO");
}

TEST(LanguageFileUnreadable, ReadsAsNoEntries) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads files without read permission";
    TempDir dir;
    WriteFile(dir.file("Locked.lng"), "[WordList#MainForm]\nsec=X\n");
    ::chmod(dir.file("Locked.lng").c_str(), 0);
    LanguageFile file(dir.file("Locked.lng"));
    EXPECT_EQ(file.translate("sec", "MainForm"), "sec");
}

// Hostile files: each must give its answer promptly, without crashing or blocking.
TEST(LanguageFileHostile, AnswersWithoutEntries) {
    TempDir dir;
    std::string binary;
    for (int i = 0; i < 200000; ++i) binary.push_back(static_cast<char>((i * 7919) % 256));
    std::string longLines = "[WordList#MainForm]\n" + Repeat("k", 500000) + "=v\n" +
                            "sec=" + Repeat("v", 300000) + "\n";
    std::string oversize = "[WordList#MainForm]\nsec=X\n" + Repeat(";padding\n", 200000);

    static const char kNulLines[] = "[WordList#MainForm]\nsec\0x=1\nsec=ok\n";
    struct Case {
        const char* name;
        std::string content;
        std::string expectedSec;
    };
    const Case cases[] = {
        {"binary", binary, "sec"},
        {"binary with the entry after it", binary + "\n[WordList#MainForm]\nsec=found\n", "found"},
        {"nul bytes in the key line", std::string(kNulLines, sizeof kNulLines - 1), "ok"},
        {"very long lines", longLines, Repeat("v", 2047)},
        {"larger than the size limit", oversize, "sec"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(dir.file("Hostile.lng"), c.content);
        LanguageFile file(dir.file("Hostile.lng"));
        EXPECT_EQ(file.translate("sec", "MainForm"), c.expectedSec);
    }
}

TEST(LanguageFileHostile, PipeAndFolderAreNotRead) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("Pipe.lng").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir(dir.file("Folder.lng").c_str(), 0755), 0);
    // Opening a pipe with no writer would block for ever; run it aside so a fault shows
    // as a failure instead of a hung test.
    auto answer = std::async(std::launch::async, [&] {
        return LanguageFile(dir.file("Pipe.lng")).translate("sec", "MainForm") + "|" +
               LanguageFile(dir.file("Folder.lng")).translate("sec", "MainForm");
    });
    if (answer.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Give the blocked reader a writer that goes away at once, so the test can end.
        ::close(::open(dir.file("Pipe.lng").c_str(), O_WRONLY | O_NONBLOCK));
        ADD_FAILURE() << "reading a pipe blocked";
    }
    EXPECT_EQ(answer.get(), "sec|sec");
}

}  // namespace
