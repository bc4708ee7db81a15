#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "AtomicFile.h"
#include "IniFile.h"
#include "Settings.h"
#include "CaseName.h"
#include "TempDir.h"

using kalidrome::IniFile;
using kalidrome::IniWriteError;
using kalidrome::test::ReadFile;
using kalidrome::test::TempDir;
using kalidrome::test::WriteFile;

namespace {

struct ReadCase {
    const char* name;
    const char* content;
    const char* section;
    const char* key;
    const char* expected;  // readString with default "<none>"
};

const ReadCase kReadCases[] = {
    {"plain", "[Options]\nInterval=600\n", "Options", "Interval", "600"},
    {"section and key ignore case", "[options]\nGREYSCALE=1\n", "OPTIONS", "GreyScale", "1"},
    {"StartUp and Startup are one section", "[StartUp]\nHandle=42\n", "Startup", "Handle", "42"},
    {"missing key", "[Options]\nA=1\n", "Options", "B", "<none>"},
    {"missing section", "[Other]\nA=1\n", "Options", "A", "<none>"},
    {"key in another section", "[A]\nX=1\n[B]\nY=2\n", "A", "Y", "<none>"},
    {"CRLF lines", "[Options]\r\nList=/p/a.kdl\r\nX=1\r\n", "Options", "List", "/p/a.kdl"},
    {"byte-order mark", "\xEF\xBB\xBF[Options]\nA=b\n", "Options", "A", "b"},
    {"blanks around names and value", "  [ Options ]  \n  Key  =  some value  \n", "Options", "Key", "some value"},
    {"first of a repeated key wins", "[S]\nK=first\nK=second\n", "S", "K", "first"},
    {"first of a repeated section wins", "[S]\nK=first\n[S]\nK=second\n", "S", "K", "first"},
    {"value with equals sign", "[S]\nK=a=b\n", "S", "K", "a=b"},
    {"empty value", "[S]\nK=\n", "S", "K", ""},
    {"double quotes removed", "[S]\nK=\"quoted text\"\n", "S", "K", "quoted text"},
    {"single quotes removed", "[S]\nK='x'\n", "S", "K", "x"},
    {"unmatched quote kept", "[S]\nK=\"x\n", "S", "K", "\"x"},
    {"line without equals carries nothing", "[S]\nK\nK=v\n", "S", "K", "v"},
    {"comment line", "[S]\n;K=c\nK=v\n", "S", "K", "v"},
    {"key before any section", "K=v\n[S]\n", "S", "K", "<none>"},
    {"no newline at end", "[S]\nK=v", "S", "K", "v"},
    {"empty file", "", "S", "K", "<none>"},
};

class IniRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IniRead, ReadsValue) {
    TempDir dir;
    WriteFile(dir.file("a.ini"), GetParam().content);
    IniFile ini(dir.file("a.ini"));
    EXPECT_EQ(ini.readString(GetParam().section, GetParam().key, "<none>"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, IniRead, ::testing::ValuesIn(kReadCases),
                         [](const auto& param) { return kalidrome::test::CaseName(param.param.name); });

TEST(IniRead, StringsAreCutAt2047Characters) {
    TempDir dir;
    std::string longValue(5000, 'x');
    std::string utf8Value;
    for (int i = 0; i < 3000; ++i) utf8Value += "\xC3\xA4";  // 2 bytes, 1 character each
    WriteFile(dir.file("a.ini"), "[S]\nA=" + longValue + "\nB=" + utf8Value + "\n");
    IniFile ini(dir.file("a.ini"));
    EXPECT_EQ(ini.readString("S", "A", ""), std::string(2047, 'x'));
    EXPECT_EQ(ini.readString("S", "B", "").size(), 2047u * 2);
}

struct IntCase {
    const char* text;
    std::int32_t expected;  // with default -77
};

TEST(IniRead, IntegersAndBooleans) {
    const IntCase cases[] = {
        {"600", 600},       {"-5", -5},          {"+7", 7},           {"0x1F", 31},
        {"0X1f", 31},       {"$10", 16},         {"0xFFFFFFFF", -1},  {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},              {"2147483648", -77}, {"0x100000000", -77},
        {"12abc", -77},     {"abc", -77},        {"", -77},           {"0x", -77},
        {"$", -77},         {"1.5", -77},        {" 42 ", 42},        {"'9'", 9},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        WriteFile(dir.file("a.ini"), std::string("[S]\nK=") + c.text + "\n");
        IniFile ini(dir.file("a.ini"));
        EXPECT_EQ(ini.readInteger("S", "k", -77), c.expected);
        EXPECT_EQ(ini.readBool("S", "k", true), c.expected != 0);
    }
    IniFile missing(dir.file("none.ini"));
    EXPECT_EQ(missing.readInteger("S", "K", 5), 5);
    EXPECT_TRUE(missing.readBool("S", "K", true));
    EXPECT_FALSE(missing.readBool("S", "K", false));
}

TEST(IniWrite, EveryHandleSeesEveryWriteAtOnce) {
    TempDir dir;
    IniFile mainWindow(dir.file("Settings.ini"));
    IniFile dialog(dir.file("Settings.ini"));
    mainWindow.writeBool("Options", "GreyScale", true);
    EXPECT_TRUE(dialog.readBool("Options", "Greyscale", false));
    dialog.writeString("options", "greyscale", "0");
    EXPECT_FALSE(mainWindow.readBool("Options", "GreyScale", true));
    dialog.writeInteger("Options", "CurrIndex", -3);
    EXPECT_EQ(mainWindow.readInteger("Options", "CurrIndex", 0), -3);
    EXPECT_EQ(ReadFile(dir.file("Settings.ini")), "[Options]\nGreyScale=0\nCurrIndex=-3\n");
}

TEST(IniWrite, RewriteKeepsEverythingElse) {
    TempDir dir;
    const std::string before =
        "; my notes\n[Options]\nShowTray=1\n\nInterval=600\n\n[Settings]\nBrowsePath=/p\nstray line\n";
    WriteFile(dir.file("a.ini"), before);
    IniFile ini(dir.file("a.ini"));
    ini.writeString("OPTIONS", "interval", "30");  // replaces the line in place
    ini.writeBool("Options", "Random", false);     // appended after the section's last line
    ini.writeString("Languages", "CurrLanguage", "deutsch");
    EXPECT_EQ(ReadFile(dir.file("a.ini")),
              "; my notes\n[Options]\nShowTray=1\n\nInterval=30\nRandom=0\n\n[Settings]\nBrowsePath=/p\n"
              "stray line\n[Languages]\nCurrLanguage=deutsch\n");
}

TEST(IniWrite, KeepsCrlfBomAndFilesWithoutFinalNewline) {
    TempDir dir;
    WriteFile(dir.file("crlf.ini"), "\xEF\xBB\xBF[S]\r\nA=1\r\n");
    IniFile crlf(dir.file("crlf.ini"));
    crlf.writeString("S", "A", "2");
    crlf.writeString("S", "B", "3");
    EXPECT_EQ(ReadFile(dir.file("crlf.ini")), "\xEF\xBB\xBF[S]\r\nA=2\r\nB=3\r\n");

    WriteFile(dir.file("open.ini"), "[S]\nA=1");
    IniFile open(dir.file("open.ini"));
    open.writeString("S", "B", "2");
    open.writeString("T", "C", "3");
    EXPECT_EQ(ReadFile(dir.file("open.ini")), "[S]\nA=1\nB=2\n[T]\nC=3\n");
}

TEST(IniWrite, LineBreaksInValuesCannotAddLines) {
    TempDir dir;
    IniFile ini(dir.file("a.ini"));
    ini.writeString("S", "List", "/a\n[Options]\nDisableCycling=1");
    EXPECT_FALSE(ini.keyExists("Options", "DisableCycling"));
    EXPECT_EQ(ini.readString("S", "List", ""), "/a [Options] DisableCycling=1");
}

TEST(IniWrite, DeleteKeyAndEraseSection) {
    TempDir dir;
    WriteFile(dir.file("a.ini"), "[A]\nX=1\nY=2\n[B]\nZ=3\n[C]\nW=4\n");
    IniFile ini(dir.file("a.ini"));
    ini.deleteKey("a", "x");
    ini.eraseSection("b");
    EXPECT_EQ(ReadFile(dir.file("a.ini")), "[A]\nY=2\n[C]\nW=4\n");
    EXPECT_EQ(ini.readSectionKeys("A"), std::vector<std::string>{"Y"});
    EXPECT_FALSE(ini.sectionExists("B"));
}

TEST(IniWrite, FailuresNameTheFile) {
    TempDir dir;
    // A folder that does not exist.
    IniFile missingFolder(dir.file("nope/Startup.ini"));
    try {
        missingFolder.writeInteger("StartUp", "Value", 1);
        FAIL() << "write succeeded";
    } catch (const IniWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + dir.file("nope/Startup.ini"));
    }
    // A read-only file stays read-only, also for a process that could override it.
    WriteFile(dir.file("ro.ini"), "[S]\nA=1\n");
    ::chmod(dir.file("ro.ini").c_str(), 0444);
    IniFile readOnly(dir.file("ro.ini"));
    EXPECT_THROW(readOnly.writeString("S", "A", "2"), IniWriteError);
    EXPECT_EQ(ReadFile(dir.file("ro.ini")), "[S]\nA=1\n");
    // No temporary file is left behind; the lock file beside it stays, empty.
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"ro.ini", "ro.ini.lock"}));
    EXPECT_EQ(ReadFile(dir.file("ro.ini.lock")), "");
}

TEST(IniWrite, KeepsTheFileModeAndFollowsLinks) {
    TempDir dir;
    WriteFile(dir.file("real.ini"), "[S]\nA=1\n");
    ::chmod(dir.file("real.ini").c_str(), 0600);
    ASSERT_EQ(::symlink(dir.file("real.ini").c_str(), dir.file("link.ini").c_str()), 0);
    IniFile ini(dir.file("link.ini"));
    ini.writeString("S", "A", "2");
    struct stat st {};
    ASSERT_EQ(::lstat(dir.file("link.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(dir.file("real.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadFile(dir.file("real.ini")), "[S]\nA=2\n");
}

// A writer killed at any moment leaves either the old or the new file, never a torn one.
TEST(IniWrite, KilledWriterNeverLeavesATornFile) {
    TempDir dir;
    const std::string path = dir.file("Settings.ini");
    std::string filler;
    for (int i = 0; i < 2000; ++i) filler += "Key" + std::to_string(i) + "=" + std::string(40, 'v') + "\n";
    WriteFile(path, "[Options]\nCounter=0\n[Filler]\n" + filler);
    const std::string expectedTail = "[Filler]\n" + filler;

    for (int round = 0; round < 30; ++round) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            IniFile ini(path);
            for (int i = 1;; ++i) ini.writeInteger("Options", "Counter", i);
        }
        ::usleep(static_cast<useconds_t>(2000 + (round * 1777) % 15000));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        std::string content = ReadFile(path);
        ASSERT_EQ(content.rfind("[Options]\nCounter=", 0), 0u) << "round " << round;
        ASSERT_GE(content.size(), expectedTail.size());
        ASSERT_EQ(content.substr(content.size() - expectedTail.size()), expectedTail) << "round " << round;
    }
}

// Two processes that write different keys of one file at the same moments (the heartbeat
// of one instance and the start of another) both keep every key: each read-modify-write
// holds the file's lock.
TEST(IniWrite, ConcurrentWritersInTwoProcessesLoseNothing) {
    TempDir dir;
    const std::string path = dir.file("Startup.ini");
    WriteFile(path, "[StartUp]\nValue=1\n");
    constexpr int kKeysEach = 200;
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
        writers[w] = ::fork();
        ASSERT_GE(writers[w], 0);
        if (writers[w] == 0) {
            IniFile ini(path);
            const std::string prefix = w == 0 ? "First" : "Second";
            try {
                for (int i = 0; i < kKeysEach; ++i) ini.writeInteger("StartUp", prefix + std::to_string(i), i);
            } catch (...) {
                ::_exit(1);
            }
            ::_exit(0);
        }
    }
    for (pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    IniFile ini(path);
    std::vector<std::string> lost;
    for (const char* prefix : {"First", "Second"})
        for (int i = 0; i < kKeysEach; ++i)
            if (ini.readInteger("StartUp", prefix + std::to_string(i), -1) != i) lost.push_back(prefix + std::to_string(i));
    EXPECT_EQ(lost, std::vector<std::string>{});
    EXPECT_EQ(ini.readInteger("StartUp", "Value", 0), 1);
    EXPECT_EQ(ini.readSectionKeys("StartUp").size(), 1u + 2 * kKeysEach);
}

// The lock never stands in the way of a write the file itself allows: a holder stuck for
// longer than the wait, or a lock file that cannot be made, leaves the write to go ahead.
TEST(IniWrite, WritesGoAheadWhenTheLockCannotBeHad) {
    TempDir dir;
    const std::string path = dir.file("Settings.ini");
    WriteFile(path, "[Options]\nShowTray=1\n");
    IniFile ini(path);
    {
        kalidrome::platform::FileLock stuck(path);
        ASSERT_TRUE(stuck.held());
        const auto start = std::chrono::steady_clock::now();
        ini.writeBool("Options", "Random", false);
        EXPECT_GE(std::chrono::steady_clock::now() - start, kalidrome::platform::FileLock::kDefaultWait)
            << "the write waited for the holder first";
    }
    std::filesystem::remove(path + ".lock");
    std::filesystem::create_directory(path + ".lock");
    ini.writeString("Options", "Interval", "30");
    EXPECT_EQ(ReadFile(path), "[Options]\nShowTray=1\nRandom=0\nInterval=30\n");
}

// Whatever stands at the path, a read answers at once; what cannot be read gives the
// defaults, a reason, and is never written over.
struct OddFile {
    const char* name;
    // Makes the odd thing at path; returns false (with why) where this system cannot.
    std::function<bool(const std::string& path, std::string& why)> make;
    bool readable;
};

std::string Snapshot(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return "nothing";
    std::string s = std::to_string(st.st_ino) + "/" + std::to_string(st.st_mode) + "/" + std::to_string(st.st_size);
    if (S_ISREG(st.st_mode) && st.st_size < (1 << 20)) s += "/" + ReadFile(path);
    return s;
}

const OddFile kOddFiles[] = {
    {"fifo", [](const std::string& p, std::string&) { return ::mkfifo(p.c_str(), 0644) == 0; }, false},
    {"link to /dev/zero", [](const std::string& p, std::string&) { return ::symlink("/dev/zero", p.c_str()) == 0; },
     false},
    {"folder", [](const std::string& p, std::string&) { return ::mkdir(p.c_str(), 0755) == 0; }, false},
    {"100 MB", [](const std::string& p, std::string&) {
         WriteFile(p, "[Options]\nShowTray=0\n");
         return ::truncate(p.c_str(), 100 << 20) == 0;
     }, false},
    {"NUL bytes", [](const std::string& p, std::string&) {
         WriteFile(p, std::string("[Options]\nList=/a\0b.kdl\nShowTray=0\n", 35));
         return true;
     }, true},
    {"invalid UTF-8", [](const std::string& p, std::string&) {
         WriteFile(p, "[Options]\nList=/\xC3\x28\xFF.kdl\nShowTray=0\n");
         return true;
     }, true},
};

class IniOddFile : public ::testing::TestWithParam<OddFile> {};

TEST_P(IniOddFile, ReadsAtOnceAndNeverReplacesWhatItCannotRead) {
    TempDir dir;
    const std::string path = dir.file("Settings.ini");
    std::string why;
    if (!GetParam().make(path, why)) GTEST_SKIP() << why;
    const std::string before = Snapshot(path);
    IniFile ini(path);
    if (!GetParam().readable) {
        EXPECT_EQ(ini.readInteger("Options", "ShowTray", 7), 7);
        ASSERT_TRUE(ini.problem().has_value());
        try {
            ini.writeBool("Options", "ShowTray", true);
            FAIL() << "wrote over it";
        } catch (const IniWriteError& e) {
            EXPECT_NE(std::string(e.what()).find("Unable to write to " + path + ": " + *ini.problem()), std::string::npos)
                << e.what();
        }
        IniFile::Batch batch(ini);
        ini.writeBool("Options", "ShowTray", true);
        EXPECT_THROW(batch.commit(), IniWriteError);
        EXPECT_EQ(Snapshot(path), before);
    } else {
        EXPECT_FALSE(ini.problem().has_value());
        EXPECT_EQ(ini.readInteger("Options", "ShowTray", 7), 0);
        // A value ends at a NUL byte, as every C string made of it would.
        EXPECT_EQ(ini.readString("Options", "List", "").find('\0'), std::string::npos);
        const std::string old = ReadFile(path);
        ini.writeBool("Options", "Random", false);
        EXPECT_EQ(ReadFile(path), old + "Random=0\n") << "every other byte stays";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, IniOddFile, ::testing::ValuesIn(kOddFiles),
                         [](const auto& c) { return kalidrome::test::CaseName(c.param.name); });

// A file its owner may not read: root reads it all the same, so that case needs a process
// without the capability to override file modes.
TEST(IniOddFile, UnreadableForItsOwner) {
    TempDir dir;
    const std::string path = dir.file("Settings.ini");
    WriteFile(path, "[Options]\nShowTray=0\n");
    ::chmod(path.c_str(), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Without CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH, root is held to the mode too.
        if (::geteuid() == 0) {
            for (int cap : {1 /* CAP_DAC_OVERRIDE */, 2 /* CAP_DAC_READ_SEARCH */}) ::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
            struct Header { std::uint32_t version; int pid; } header{0x20080522, 0};
            struct Data { std::uint32_t effective, permitted, inheritable; } data[2]{};
            if (::syscall(SYS_capget, &header, data) != 0) ::_exit(3);
            for (auto& d : data) d.effective &= ~0x6u, d.permitted &= ~0x6u;
            if (::syscall(SYS_capset, &header, data) != 0) ::_exit(3);
        }
        IniFile ini(path);
        if (ini.readInteger("Options", "ShowTray", 7) != 7 || !ini.problem()) ::_exit(1);
        try {
            ini.writeBool("Options", "ShowTray", true);
            ::_exit(1);
        } catch (const IniWriteError&) {
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "the capabilities could not be dropped";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ::chmod(path.c_str(), 0644);
    EXPECT_EQ(ReadFile(path), "[Options]\nShowTray=0\n");
}

// A batch rewrites the file once with every write in it; without commit() nothing is written.
TEST(IniBatch, OneRewriteForManyWrites) {
    TempDir dir;
    const std::string path = dir.file("Settings.ini");
    WriteFile(path, "; kept\r\n[Options]\r\nShowTray=1\r\n[DefiniteDate]\r\nCount=3\r\nCmd0=old\r\n");
    IniFile ini(path);
    struct stat st {};
    ::stat(path.c_str(), &st);
    const ino_t before = st.st_ino;
    {
        IniFile::Batch batch(ini);
        ini.writeInteger("DefiniteDate", "Count", 1);
        ini.deleteKey("DefiniteDate", "Cmd0");
        ini.writeString("DefiniteDate", "Cmd0", "new");
        ini.writeBool("Options", "Random", false);
        {
            IniFile::Batch joined(ini);  // joins the outer batch
            ini.writeString("New", "Key", "v");
            joined.commit();
        }
        EXPECT_EQ(ini.readString("New", "Key", ""), "v") << "the batch reads its own writes";
        ::stat(path.c_str(), &st);
        EXPECT_EQ(st.st_ino, before) << "nothing written before commit";
        EXPECT_EQ(IniFile(path).readInteger("DefiniteDate", "Count", 0), 3);
        batch.commit();
    }
    EXPECT_EQ(ReadFile(path), "; kept\r\n[Options]\r\nShowTray=1\r\nRandom=0\r\n[DefiniteDate]\r\nCount=1\r\n"
                              "Cmd0=new\r\n[New]\r\nKey=v\r\n");
    {
        IniFile::Batch dropped(ini);
        ini.writeString("Options", "ShowTray", "0");
    }
    EXPECT_EQ(ini.readInteger("Options", "ShowTray", 7), 1) << "an uncommitted batch leaves nothing behind";
    EXPECT_EQ(IniFile(path).readInteger("Options", "ShowTray", 7), 1);
}

// A handle keeps what it read, but never past a change of the file by anyone else.
TEST(IniRead, SeesEveryChangeOfTheFile) {
    TempDir dir;
    const std::string path = dir.file("a.ini");
    WriteFile(path, "[S]\nK=1\n");
    IniFile ini(path);
    EXPECT_EQ(ini.readInteger("S", "K", 0), 1);
    // Same size, written in place (no new inode), as an editor may.
    {
        FILE* f = std::fopen(path.c_str(), "r+");
        std::fputs("[S]\nK=2\n", f);
        std::fclose(f);
    }
    EXPECT_EQ(ini.readInteger("S", "K", 0), 2);
    std::filesystem::remove(path);
    EXPECT_EQ(ini.readInteger("S", "K", 0), 0);
    EXPECT_FALSE(ini.problem().has_value()) << "a missing file is no problem";
}

TEST(Settings, ResolutionRowsOutsideTheTableTakeRowOne) {
    using kalidrome::settings::ResolutionRow;
    using kalidrome::settings::ScreenSize;
    EXPECT_EQ(ResolutionRow(0), (ScreenSize{800, 600}));
    EXPECT_EQ(ResolutionRow(2), (ScreenSize{1052, 864}));
    EXPECT_EQ(ResolutionRow(3), (ScreenSize{1280, 1024}));
    for (int bad : {-1, 4, 1000, INT32_MIN}) EXPECT_EQ(ResolutionRow(bad), (ScreenSize{1024, 768})) << bad;
}

}  // namespace
