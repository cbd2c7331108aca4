#include "maker_fixture.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "iso/iso_index.h"
#include "platform/text.h"

namespace tessaly::test {

namespace {

uint32_t u32(const std::vector<uint8_t>& b, size_t at) {
    if (at + 4 > b.size()) throw std::out_of_range("package ends early");
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

void listDirectory(const IsoFileRecord& directory, const std::string& prefix, std::ifstream& in, ImageListing& out) {
    for (const auto& [name, child] : directory.children) {
        const std::string path = prefix + "/" + name;
        if (child->type == IsoFileRecord::Directory) {
            out.directories.insert(path);
            listDirectory(*child, path, in, out);
            continue;
        }
        std::vector<uint8_t> bytes(child->size);
        in.clear();
        in.seekg(static_cast<std::streamoff>(child->startSector) * kSectorBytes);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!in) throw std::runtime_error("cannot read " + path);
        out.files[path] = std::move(bytes);
    }
}

const IsoFileRecord& recordIn(IsoIndex& index, const std::filesystem::path& image, const std::string& path) {
    index.openImage(image);
    if (!index.volume) throw std::runtime_error("cannot index " + PathToUtf8(image));
    const IsoFileRecord* record = index.find(path);
    if (record == nullptr) throw std::runtime_error("no " + path);
    return *record;
}

}  // namespace

CliResult RunCli(int (*command)(const cli::Invocation&), std::vector<std::string> args) {
    std::ostringstream out, err;
    cli::Invocation call{std::move(args), out, err};
    const int code = command(call);
    return {code, out.str(), err.str()};
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

MakerFixture::MakerFixture(uint64_t seed) {
    demo::DemoOptions options;
    options.seed = seed;
    disc = demo::MakeDemoDisc(options);
    original = dir / "original.iso";
    translated = dir / "translated.iso";
    package = dir / "made.bin";
    report = dir / "report.txt";
    output = dir / "patched.iso";
}

void MakerFixture::WriteImages() {
    demo::WriteOriginalImage(disc, original);
    demo::WriteTranslatedImage(disc, translated);
}

void MakerFixture::WriteTranslatedInOrder(const std::vector<size_t>& order, uint32_t gapSectors) {
    demo::DemoDisc mastered = disc;
    for (auto& f : mastered.files) {
        f.original = f.translated;
        f.inOriginal = true;
    }
    mastered.originalOrder = order;
    mastered.originalGapSectors = gapSectors;
    demo::WriteOriginalImage(mastered, translated);
}

CliResult MakerFixture::MakePackage() {
    return RunCli(cli::RunMakePackage, {PathToUtf8(original), PathToUtf8(translated), "-o", PathToUtf8(package),
                                        "--report", PathToUtf8(report)});
}

CliResult MakerFixture::Patch(const std::filesystem::path& source) {
    return RunCli(cli::RunPatch, {"--quiet", "--force", "--package", PathToUtf8(package), PathToUtf8(source),
                                  PathToUtf8(output)});
}

CliResult MakerFixture::DryRun(const std::filesystem::path& source) {
    return RunCli(cli::RunPatch, {"--dry-run", "--quiet", "--package", PathToUtf8(package), PathToUtf8(source)});
}

CliResult MakerFixture::Verify(const std::filesystem::path& image) {
    return RunCli(cli::RunVerify, {"--package", PathToUtf8(package), PathToUtf8(image)});
}

demo::DemoFile& MakerFixture::File(const std::string& path) {
    for (auto& f : disc.files)
        if (f.path == path) return f;
    throw std::out_of_range("no demo file " + path);
}

std::string MakerFixture::Report() const {
    std::ifstream in(report);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::map<std::string, EntryMode> PackageModes(const std::vector<uint8_t>& package) {
    std::map<std::string, EntryMode> modes;
    const uint32_t count = u32(package, 0);
    size_t at = 12 + size_t{u32(package, 4)};
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t length = u32(package, at);
        const std::string path(package.begin() + static_cast<ptrdiff_t>(at + 4),
                               package.begin() + static_cast<ptrdiff_t>(at + 4 + length));
        at += 4 + length + 1;
        const uint32_t mode = u32(package, at + 8);
        modes[path] = static_cast<EntryMode>(mode);
        at += 16 + size_t{u32(package, at + 12)};
    }
    if (at != package.size()) throw std::runtime_error("bytes after the last entry");
    return modes;
}

ImageListing ListImage(const std::filesystem::path& image) {
    IsoIndex index;
    index.openImage(image);
    if (!index.volume) throw std::runtime_error("cannot index " + PathToUtf8(image));
    std::ifstream in(image, std::ios::binary);
    ImageListing listing;
    listDirectory(*index.volume->root, "", in, listing);
    return listing;
}

uint32_t RecordOffsetIn(const std::filesystem::path& image, const std::string& path) {
    IsoIndex index;
    return recordIn(index, image, path).recordOffset;
}

uint64_t FileOffsetIn(const std::filesystem::path& image, const std::string& path) {
    IsoIndex index;
    return uint64_t{recordIn(index, image, path).startSector} * kSectorBytes;
}

void FlipByte(const std::filesystem::path& file, uint64_t offset) {
    std::fstream io(file, std::ios::in | std::ios::out | std::ios::binary);
    io.seekg(static_cast<std::streamoff>(offset));
    const int byte = io.get();
    io.seekp(static_cast<std::streamoff>(offset));
    io.put(static_cast<char>(byte ^ 0x5A));
    if (!io) throw std::runtime_error("cannot change " + PathToUtf8(file));
}

}  // namespace tessaly::test
