// Reads arbitrary bytes as a list file. Whatever part of it is read must write out and
// read back to the very same list.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ListFile.h"

using namespace kalidrome;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    WallpaperList list;
    bool saveImage = true;
    try {
        ReadListData(data, size, list, saveImage);
    } catch (const ListFileError&) {
        // Refused files keep the entries read before the damage.
    }
    if (list.updateCount() != 0) std::abort();

    const std::string written = EncodeListFile(list, true, false);
    WallpaperList back;
    bool backSaveImage = false;
    ReadListData(reinterpret_cast<const std::uint8_t*>(written.data()), written.size(), back, backSaveImage);
    if (back.count() != list.count()) std::abort();
    if (!list.empty() && !backSaveImage) std::abort();
    if (EncodeListFile(back, true, false) != written) std::abort();
    return 0;
}
