#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kalidrome {

// What tells one version of a list file from another: another program that puts a new file
// in its place, or writes into it, changes at least one of these.
struct ListFileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    bool operator==(const ListFileStamp&) const = default;
};
// The stamp of the file at path (a link is followed), or nothing when no file is there.
std::optional<ListFileStamp> StampListFile(const std::string& path);

}  // namespace kalidrome
