// Reads arbitrary bytes as a PE or ELF file's version record. The reader never fails,
// never yields a record larger than the format allows, and the fields it fills from a
// record are what querying that record gives.
#include <cstdint>
#include <cstdlib>

#include "VersionInfo.h"

using namespace kalidrome;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const VersionRecord record = FindVersionRecord(MemorySource(data, size));
    if (record.bytes.size() > kMaxVersionRecord) std::abort();
    // The bytes themselves as a record, too: the resource parser meets every shape.
    const std::vector<std::uint8_t> raw(data, data + std::min(size, kMaxVersionRecord));
    for (const std::vector<std::uint8_t>* r : {&record.bytes, &raw}) {
        TFileVersionInfo info;
        FillFromVersionRecord(*r, info);
        if (!info.FileType.empty()) std::abort();
        const auto version = QueryVersionString(*r, "\\StringFileInfo\\040904b0\\FileVersion");
        if (version && version->size() > 3 * kMaxVersionRecord) std::abort();
    }
    return 0;
}
