#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/uio.h>

namespace kalidrome::platform {

// The file a symbolic link at path leads to, or path itself when it is no link. A link that
// leads nowhere yet gives the path it names (followed through further links); a loop gives
// path itself.
std::string FollowLink(const std::string& path);

// Writes a file so that readers only ever see the old content or the complete new one:
// the bytes go to a new file beside the target (same file system, so the rename is
// atomic), which replaces the target only in commit(). Until then, and whenever writing
// fails, the old file stays as it was; dropping an uncommitted AtomicFile removes the new
// file. A symbolic link at the target path is followed, so the file it points to is the
// one replaced, and a link that leads nowhere yet makes the file it names (a loop is
// refused with ELOOP): the link itself is never replaced. The replacement keeps the old
// file's permissions (and its owner where the process may set it); a file that did not
// exist gets 0666 less the umask.
//
// Every failure throws std::system_error carrying the errno of the cause.
class AtomicFile {
public:
    // Sync::Yes flushes the new file to the disk before the rename, so that a crash soon
    // after cannot leave an empty file in place of the old one. It costs a wait for the
    // disk, which only files that are hard to make again are worth.
    enum class Sync { No, Yes };

    // Refuses an existing target that is a folder (EISDIR), that is not a regular file or
    // has no write bit (EACCES, even for root: replacing it would override the user's
    // choice), or that the process may not write.
    explicit AtomicFile(const std::string& path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Appends at the file's own position, which positioned writes leave alone.
    void write(const void* data, std::size_t size);
    void writeAt(const void* data, std::size_t size, std::uint64_t offset);
    // Writes the buffers one after the other starting at offset.
    void writeAt(const struct iovec* parts, int count, std::uint64_t offset);
    // Sets the file's length, so that positioned writes can land anywhere in it.
    void resize(std::uint64_t size);
    // Gives the new file these permission bits instead of the old file's.
    void setPermissions(unsigned mode);
    void commit(Sync sync = Sync::No);

    // The file that commit() replaces (after following a link).
    const std::string& targetPath() const { return m_target; }

private:
    int openFd() const;

    std::string m_target;
    std::string m_temporary;
    int m_fd = -1;
};

// Makes a read-modify-write of one file exclusive between processes (and between handles
// in one process): an advisory flock() on the lock file "<file>.lock" beside it. The lock
// is never taken on the file itself, since AtomicFile replaces that file by a rename and a
// lock on the old one would guard a file nobody reads any more. A symbolic link at path is
// followed first, so every name of one file shares one lock. The lock file is left in
// place after use: removing it would let two writers lock two different files.
//
// The lock is a courtesy that never stands in the way of a write: held() is false
//  - when the lock file can neither be made nor opened (a read-only folder), at once;
//  - when another holder keeps it longer than wait (a process stopped in a debugger or
//    hung on a dead network mount); the writer then goes on without it, which is no worse
//    than a write that two processes race for, and the atomic rename still keeps the
//    file whole.
// A waiting writer blocks in the kernel's queue of the lock, so a busy writer in another
// process cannot starve it the way polling could.
class FileLock {
public:
    static constexpr std::chrono::milliseconds kDefaultWait{2000};

    explicit FileLock(const std::string& path, std::chrono::milliseconds wait = kDefaultWait);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool held() const { return m_fd >= 0; }
    // The companion lock file of path ("<file>.lock" beside the file a link leads to).
    static std::string LockPath(const std::string& path);

private:
    int m_fd = -1;
};

// Copies the regular file source over destination through AtomicFile, flushed to the disk,
// with the permission bits given: the destination holds the old file or the whole copy,
// never a part. A source that is not a regular file (a FIFO, a device) is refused with
// EINVAL without waiting on it. Throws std::system_error.
void CopyFileAtomically(const std::string& source, const std::string& destination, unsigned mode);

// Replaces path with exactly content through AtomicFile, without flushing to the disk.
// Returns false on any failure, leaving the target as it was and no new file behind.
bool WriteFileAtomically(const std::string& path, std::string_view content);

}  // namespace kalidrome::platform
