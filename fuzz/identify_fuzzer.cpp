// Disc identification over an image file written from the input. The first input byte chooses
// whether the file is padded with zeros to the 512 KiB that indexing reads (bit 0 set) or written
// as it is (a short file); the rest is the file's beginning.

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

#include "fuzz/fuzz_check.h"
#include "iso/disc_identity.h"
#include "iso/iso_index.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxFileBytes = 1024 * 1024;

struct ScratchFile {
    ScratchFile() {
        std::random_device random;
        path = fs::temp_directory_path() / ("tessaly-fuzz-identify-" + std::to_string(random()) + ".iso");
    }
    ~ScratchFile() {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
    fs::path path;
};

const fs::path& scratchPath() {
    static ScratchFile file;
    return file.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using tessaly::DiscIdentity;
    if (size == 0 || size > kMaxFileBytes + 1) return 0;
    const bool pad = (data[0] & 1) != 0;
    const char* contents = reinterpret_cast<const char*>(data + 1);
    const size_t length = size - 1;
    {
        std::ofstream out(scratchPath(), std::ios::binary | std::ios::trunc);
        out.write(contents, static_cast<std::streamsize>(length));
        TESSALY_FUZZ_CHECK(out.good());
    }
    // Zeros without writing them (a sparse tail where the file system allows).
    if (pad && length < tessaly::IsoIndex::kImageIndexBytes) fs::resize_file(scratchPath(), tessaly::IsoIndex::kImageIndexBytes);

    std::string code;
    const DiscIdentity identity = tessaly::identifyDisc(scratchPath(), code);
    const int value = static_cast<int>(identity);
    TESSALY_FUZZ_CHECK(value >= 0 && value <= 4);
    TESSALY_FUZZ_CHECK(code.empty() || code.size() == tessaly::kProductCodeBytes);
    if (identity == DiscIdentity::Target) TESSALY_FUZZ_CHECK(code == tessaly::kTargetProductCode);
    if (identity != DiscIdentity::Unrecognised) TESSALY_FUZZ_CHECK(code.size() == tessaly::kProductCodeBytes);
    // The index needs the whole 512 KiB: a shorter file is never recognised.
    if (!pad && length < tessaly::IsoIndex::kImageIndexBytes) TESSALY_FUZZ_CHECK(identity == DiscIdentity::Unrecognised);
    return 0;
}
