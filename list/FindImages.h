#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kalidrome {

// The files of folder whose names match mask, as folder + "/" + name: first the folder's
// own matches in the order the file system lists them, then, when recurse is set, the
// matches of each sub-folder in turn, depth first. Sub-folders whose name starts with "."
// are left out; hidden files are not. A link to a folder is followed only when the folder it
// leads to lies inside the searched folder (so never out of it, nor up to an ancestor);
// links to files are followed wherever they lead. Every folder is searched once at most and
// every file is listed once at most, under the first name that matches (both known by
// device and inode), so a link loop ends. A folder that cannot be read contributes nothing;
// an empty folder argument yields nothing. Only regular files (or links to them) match:
// pipes, sockets and devices do not.
std::vector<std::string> FindImages(const std::string& folder, std::string_view mask, bool recurse);

// Shared with a search running on another thread: the number of matches so far (one per
// mask a file matches), and a request to stop.
struct FindProgress {
    std::atomic<std::size_t> found{0};
    std::atomic<bool> cancelled{false};
};

// One walk for several masks: the concatenation of FindImages for each mask in turn (a
// file reached under several names is listed under the first name any mask matches, for
// each mask that name matches). With progress, the count of matches grows as the walk goes,
// and a walk that sees cancelled set stops soon after and yields nothing. Nothing inside
// leaveOut (the program's own System folder), however reached, is searched or listed.
std::vector<std::string> FindImagesMulti(const std::string& folder,
                                         const std::vector<std::string>& masks, bool recurse,
                                         FindProgress* progress = nullptr, const std::string& leaveOut = {});

// File-name wildcards: "*" matches any run of characters, "?" exactly one; letters
// match without regard to ASCII case.
bool MatchesMask(std::string_view name, std::string_view mask);

}  // namespace kalidrome
