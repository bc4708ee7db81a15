#include "AtomicFile.h"

#include "Process.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kalidrome {
namespace {

using platform::AtomicFile;
using platform::FileLock;
using namespace std::chrono_literals;

// The names in a folder, sorted.
std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class AtomicFileTest : public ::testing::Test {
protected:
    std::vector<std::string> folderEntries() const { return Entries(m_dir.path()); }

    std::uint32_t modeOf(const std::string& path) const {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return st.st_mode & 07777;
    }

    test::TempDir m_dir;
};

TEST_F(AtomicFileTest, CommitReplacesTheTargetAndLeavesNothingElse) {
    struct Case {
        const char* name;
        std::optional<std::string> before;
        AtomicFile::Sync sync;
    };
    const Case cases[] = {
        {"new file", std::nullopt, AtomicFile::Sync::No},
        {"existing file", "old content that is longer than the new", AtomicFile::Sync::No},
        {"existing file, flushed", "old", AtomicFile::Sync::Yes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string path = dir.file("target.ini");
        if (c.before) test::WriteFile(path, *c.before);
        {
            AtomicFile file(path);
            file.write("new ", 4);
            file.write("text", 4);
            // Readers still see the old file until the commit.
            EXPECT_EQ(std::filesystem::exists(path), c.before.has_value());
            if (c.before) {
            EXPECT_EQ(test::ReadFile(path), *c.before);
        }
            file.commit(c.sync);
            EXPECT_THROW(file.write("x", 1), std::system_error);
        }
        EXPECT_EQ(test::ReadFile(path), "new text");
        EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"target.ini"});
    }
}

// A save killed before its rename leaves its new file behind; the next save of the same
// file clears those of processes that are gone, and only those.
TEST_F(AtomicFileTest, CommitClearsNewFilesLeftByDeadProcesses) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const std::string dead = std::to_string(child);
    const std::string live = std::to_string(::getppid());

    const std::string path = m_dir.file("Files.kdl");
    const std::vector<std::string> leftovers = {
        ".Files.kdl." + dead + "-0.tmp",    // a dead process's: removed
        ".Files.kdl." + dead + "-17.tmp",   // removed
        ".Files.kdl." + live + "-3.tmp",    // a live process's save in progress: kept
        ".Other.kdl." + dead + "-0.tmp",    // another file's: kept
        ".Files.kdl.notapid-0.tmp",         // another shape: kept
        ".Files.kdl." + dead + "-0.tmp~",   // kept
    };
    for (const std::string& name : leftovers) test::WriteFile(m_dir.file(name), "partial");
    {
        AtomicFile file(path);
        file.write("list", 4);
        file.commit();
    }
    std::vector<std::string> expected = {"Files.kdl", leftovers[2], leftovers[3], leftovers[4], leftovers[5]};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(folderEntries(), expected);
}

TEST_F(AtomicFileTest, DroppedWithoutCommitLeavesTheOldFileAndNoTemporary) {
    struct Case {
        const char* name;
        std::optional<std::string> before;
    };
    const Case cases[] = {{"no file before", std::nullopt}, {"file before", "previous"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = m_dir.file("Files.kdl");
        std::filesystem::remove(path);
        if (c.before) test::WriteFile(path, *c.before);
        {
            AtomicFile file(path);
            file.resize(1000);
            file.write("unfinished", 10);
            // The new file lives beside the target until the end.
            EXPECT_EQ(folderEntries().size(), c.before ? 2u : 1u);
        }
        EXPECT_EQ(folderEntries(), c.before ? std::vector<std::string>{"Files.kdl"} : std::vector<std::string>{});
        if (c.before) {
            EXPECT_EQ(test::ReadFile(path), *c.before);
        }
    }
}

// Refused targets: the constructor throws with the cause and nothing changes on disk.
TEST_F(AtomicFileTest, RefusesTargetsItMustNotReplace) {
    struct Case {
        const char* name;
        std::function<std::string(const test::TempDir&)> setUp;  // returns the path to write
        int error;
    };
    const Case cases[] = {
        // No write bits means read-only even for root, who could replace it.
        {"read-only file",
         [](const test::TempDir& d) {
             test::WriteFile(d.file("ro"), "keep");
             ::chmod(d.file("ro").c_str(), 0444);
             return d.file("ro");
         },
         EACCES},
        {"read-only file behind a link",
         [](const test::TempDir& d) {
             test::WriteFile(d.file("ro"), "keep");
             ::chmod(d.file("ro").c_str(), 0400);
             ::symlink("ro", d.file("link").c_str());
             return d.file("link");
         },
         EACCES},
        {"named pipe",
         [](const test::TempDir& d) {
             ::mkfifo(d.file("pipe").c_str(), 0644);
             return d.file("pipe");
         },
         EACCES},
        {"folder",
         [](const test::TempDir& d) {
             std::filesystem::create_directory(d.file("sub"));
             return d.file("sub");
         },
         EISDIR},
        {"missing folder", [](const test::TempDir& d) { return d.file("none/file"); }, ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string path = c.setUp(dir);
        const std::vector<std::string> before = Entries(dir.path());
        try {
            AtomicFile file(path);
            ADD_FAILURE() << "not refused";
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code().value(), c.error) << e.what();
        }
        EXPECT_EQ(Entries(dir.path()), before);
        if (std::filesystem::exists(dir.file("ro"))) {
            EXPECT_EQ(test::ReadFile(dir.file("ro")), "keep");
        }
        EXPECT_FALSE(platform::WriteFileAtomically(path, "x"));
    }
}

TEST_F(AtomicFileTest, LinkIsFollowedAndStaysALink) {
    struct Case {
        const char* name;
        bool absolute;
    };
    for (const Case& c : {Case{"relative link", false}, Case{"absolute link", true}}) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        std::filesystem::create_directory(dir.file("real"));
        const std::string target = dir.file("real/Startup.ini");
        const std::string link = dir.file("Startup.ini");
        test::WriteFile(target, "old");
        ASSERT_EQ(::symlink(c.absolute ? target.c_str() : "real/Startup.ini", link.c_str()), 0);
        {
            AtomicFile file(link);
            EXPECT_EQ(file.targetPath(), std::filesystem::canonical(target).string());
            file.write("new", 3);
            file.commit();
        }
        struct stat st {};
        ASSERT_EQ(::lstat(link.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode));
        EXPECT_EQ(test::ReadFile(target), "new");
        // The new file was made beside the real one, and nothing is left there.
        EXPECT_EQ(Entries(dir.file("real")), std::vector<std::string>{"Startup.ini"});
    }
}

// A link that leads nowhere yet makes the file it names, through a chain of links too; a
// loop is refused. The link itself is never replaced.
TEST_F(AtomicFileTest, LinksThatLeadNowhereMakeTheirFileAndLoopsAreRefused) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.file("real"));
    const std::string link = dir.file("Startup.ini");
    ASSERT_EQ(::symlink("middle", link.c_str()), 0);
    ASSERT_EQ(::symlink("real/Startup.ini", dir.file("middle").c_str()), 0);
    EXPECT_TRUE(platform::WriteFileAtomically(link, "new"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("middle")));
    EXPECT_EQ(test::ReadFile(dir.file("real/Startup.ini")), "new");
    EXPECT_EQ(Entries(dir.file("real")), std::vector<std::string>{"Startup.ini"});

    const std::string loop = dir.file("loop.ini");
    ASSERT_EQ(::symlink("loop.ini", loop.c_str()), 0);
    try {
        AtomicFile file(loop);
        ADD_FAILURE() << "not refused";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ELOOP);
    }
    EXPECT_TRUE(std::filesystem::is_symlink(std::filesystem::symlink_status(loop)));
}

TEST_F(AtomicFileTest, ReplacementKeepsTheModeANewFileFollowsTheUmask) {
    for (const std::uint32_t mode : {0600u, 0640u, 0755u, 0200u}) {
        SCOPED_TRACE(mode);
        const std::string path = m_dir.file("kept");
        test::WriteFile(path, "old");
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        EXPECT_TRUE(platform::WriteFileAtomically(path, "new"));
        EXPECT_EQ(modeOf(path), mode);
        ::chmod(path.c_str(), 0600);
        EXPECT_EQ(test::ReadFile(path), "new");
    }
    for (const mode_t mask : {022u, 077u}) {
        SCOPED_TRACE(mask);
        const std::string path = m_dir.file("fresh" + std::to_string(mask));
        const mode_t old = ::umask(mask);
        const bool written = platform::WriteFileAtomically(path, "x");
        ::umask(old);
        ASSERT_TRUE(written);
        EXPECT_EQ(modeOf(path), 0666u & ~mask);
    }
}

TEST_F(AtomicFileTest, ReplacementKeepsTheOwnerWhenRunAsRoot) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving a file away needs root";
    const std::string path = m_dir.file("owned");
    test::WriteFile(path, "old");
    ASSERT_EQ(::chown(path.c_str(), 4321, 8765), 0);
    ASSERT_TRUE(platform::WriteFileAtomically(path, "new"));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 8765u);
}

TEST_F(AtomicFileTest, PositionedWritesLandWhereTheyAreAimed) {
    auto parts = [](std::vector<std::string>& pieces) {
        std::vector<struct iovec> v;
        for (std::string& p : pieces) v.push_back({p.data(), p.size()});
        return v;
    };
    struct Case {
        const char* name;
        std::function<void(AtomicFile&)> steps;
        std::string expected;
    };
    const Case cases[] = {
        {"into a file sized up front",
         [](AtomicFile& f) {
             f.resize(8);
             f.writeAt("xy", 2, 3);
         },
         std::string("\0\0\0xy\0\0\0", 8)},
        {"past the end grows the file",
         [](AtomicFile& f) { f.writeAt("z", 1, 4); },
         std::string("\0\0\0\0z", 5)},
        {"buffers one after the other, empty ones included",
         [&](AtomicFile& f) {
             std::vector<std::string> pieces{"ab", "", "cde"};
             auto v = parts(pieces);
             f.resize(7);
             f.writeAt(v.data(), static_cast<int>(v.size()), 1);
         },
         std::string("\0abcde\0", 7)},
        {"rows written bottom-up, as a bitmap is",
         [&](AtomicFile& f) {
             f.writeAt("HD", 2, 0);
             std::vector<std::string> lower{"r3", "r2"};
             std::vector<std::string> upper{"r1", "r0"};
             auto a = parts(upper);
             auto b = parts(lower);
             f.writeAt(b.data(), 2, 2);
             f.writeAt(a.data(), 2, 6);
         },
         "HDr3r2r1r0"},
        {"appending is not moved by positioned writes",
         [](AtomicFile& f) {
             f.write("hello", 5);
             f.writeAt("J", 1, 0);
             f.writeAt("--", 2, 8);
             f.write("!", 1);
         },
         std::string("Jello!\0\0--", 10)},
        {"shrinking cuts the end",
         [](AtomicFile& f) {
             f.write("abcdef", 6);
             f.resize(3);
         },
         "abc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = m_dir.file("WallPaper.bmp");
        test::WriteFile(path, "a previous picture, longer than any new one");
        AtomicFile file(path);
        c.steps(file);
        file.commit();
        EXPECT_EQ(test::ReadFile(path), c.expected);
    }
}

// A disk that fills part of the way through a vectored write: the error comes with its
// cause and the old file stays whole.
TEST_F(AtomicFileTest, FailedWriteReportsTheCauseAndKeepsTheOldFile) {
    const std::string path = m_dir.file("WallPaper.bmp");
    test::WriteFile(path, "previous");
    std::string big(3000, 'p');
    std::vector<struct iovec> v{{big.data(), 1000}, {big.data() + 1000, 1000}, {big.data() + 2000, 1000}};

    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 1500;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    int error = 0;
    try {
        AtomicFile file(path);
        file.writeAt(v.data(), static_cast<int>(v.size()), 0);
        file.commit();
    } catch (const std::system_error& e) {
        error = e.code().value();
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(error, EFBIG);
    EXPECT_EQ(test::ReadFile(path), "previous");
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"WallPaper.bmp"});
}

// --- FileLock ---

// One lock per file, whatever name it is reached by; a second taker gives up after its
// wait, and gets the lock once the holder lets go.
TEST_F(AtomicFileTest, FileLockIsExclusiveAndItsWaitIsBounded) {
    const std::string path = m_dir.file("Settings.ini");
    test::WriteFile(path, "[S]\n");
    ASSERT_EQ(::symlink(path.c_str(), m_dir.file("link.ini").c_str()), 0);
    {
        FileLock holder(path);
        ASSERT_TRUE(holder.held());
        EXPECT_EQ(FileLock::LockPath(m_dir.file("link.ini")), path + ".lock");
        for (const std::string& name : {path, m_dir.file("link.ini")}) {
            FileLock other(name, 50ms);
            EXPECT_FALSE(other.held()) << name;
        }
    }
    FileLock after(m_dir.file("link.ini"), 50ms);
    EXPECT_TRUE(after.held());
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{"Settings.ini", "Settings.ini.lock", "link.ini"}))
        << "the lock file stays; the file itself is left alone";
    EXPECT_EQ(test::ReadFile(path), "[S]\n");
}

// Whether a lock is held shows in /proc/locks: "-> FLOCK" marks a taker blocked on the
// lock file's inode.
bool SomeoneWaitsFor(const std::string& lockPath) {
    struct stat st {};
    if (::stat(lockPath.c_str(), &st) != 0) return false;
    const std::string inode = ":" + std::to_string(st.st_ino) + " ";
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);)
        if (line.find("-> FLOCK") != std::string::npos && line.find(inode) != std::string::npos) return true;
    return false;
}

TEST_F(AtomicFileTest, FileLockWaiterGetsTheLockWhenTheHolderLetsGo) {
    const std::string path = m_dir.file("Startup.ini");
    std::optional<FileLock> holder(std::in_place, path);
    ASSERT_TRUE(holder->held());
    bool waiterHeld = false;
    std::thread waiter([&] {
        FileLock lock(path, 20s);
        waiterHeld = lock.held();
    });
    const bool waiting = test::WaitFor([&] { return SomeoneWaitsFor(path + ".lock"); }, 5000);
    EXPECT_TRUE(waiting) << "the waiter should block in the lock's queue";
    holder.reset();
    waiter.join();
    EXPECT_TRUE(waiterHeld);
}

// Where no lock file can be had, a lock is not held, at once, and nothing is made.
TEST_F(AtomicFileTest, FileLockWithoutALockFileIsNotHeld) {
    struct Case {
        const char* name;
        std::function<void(const std::string& lockPath)> prepare;  // empty: the folder is missing
    };
    const std::string target = m_dir.file("elsewhere");
    const Case cases[] = {
        {"the folder is missing", {}},
        {"a folder under the lock file's name", [](const std::string& l) { std::filesystem::create_directory(l); }},
        {"a link under the lock file's name",
         [&](const std::string& l) { ASSERT_EQ(::symlink(target.c_str(), l.c_str()), 0); }},
        {"a FIFO under the lock file's name", [](const std::string& l) { ASSERT_EQ(::mkfifo(l.c_str(), 0600), 0); }},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = m_dir.file("case" + std::to_string(n++));
        std::filesystem::create_directory(folder);
        const std::string path = folder + (c.prepare ? "/a.ini" : "/missing/a.ini");
        if (c.prepare) c.prepare(path + ".lock");
        const auto start = std::chrono::steady_clock::now();
        FileLock lock(path, 20s);
        EXPECT_FALSE(lock.held());
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << "no wait for a lock that cannot be";
        EXPECT_FALSE(std::filesystem::exists(target)) << "nothing is made through a link";
    }
}

}  // namespace
}  // namespace kalidrome
