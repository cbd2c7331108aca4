// Images the build job writes, read back by ISO 9660 readers nobody here wrote (isoinfo, xorriso,
// 7z, pycdlib): each must list exactly the package's files and extract the bytes the package
// means, and every directory record of the image must lie within one sector. A missing tool
// skips its part; none of them exists for the Windows build.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "builder/image_build_job.h"
#include "demo_fixture.h"
#include "package/patch_package.h"
#include "support/package_builder.h"
#include "support/temp_dir.h"
#include "whole_file.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using test::DemoFixture;
using test::ReadWholeFile;
using Bytes = std::vector<uint8_t>;

class JobBuild : public BuildContext {
public:
    JobBuild(const DemoFixture& fixture, fs::path output)
        : m_source(fixture.original), m_output(std::move(output)), m_bytes(ReadWholeFile(fixture.package)) {
        m_package.load(m_bytes.data(), m_bytes.size());
    }
    fs::path SourcePath() const override { return m_source; }
    fs::path OutputPath() const override { return m_output; }
    PatchPackage& Package() override { return m_package; }
    std::atomic<bool>& CancelFlag() override { return m_cancel; }
    void ReportProgress(uint32_t) override {}
    void BuildComplete(JobResult result, int) override { m_result = result; }
    void FileMismatch(uint32_t entry, uint32_t, uint32_t) override { m_mismatches.insert(entry); }

    fs::path m_source, m_output;
    Bytes m_bytes;
    PatchPackage m_package;
    std::atomic<bool> m_cancel{false};
    JobResult m_result = JobResult::Cancelled;
    std::set<uint32_t> m_mismatches;
};

// One image the end-to-end tests make: the demo disc, changed or not, built by the job.
struct ImageCase {
    const char* name;
    std::function<void(DemoFixture&)> change;  // before Write
    JobResult result;
};

void PrintTo(const ImageCase& c, std::ostream* os) { *os << c.name; }

std::string quoted(const fs::path& path) {
    // Appended, not `"'" + string`: mingw's g++ 12 warns falsely (-Wrestrict) on that form.
    std::string text = "'";
    text += path.string();
    text += "'";
    return text;
}

std::string run(const std::string& command, const fs::path& log, int& status) {
    status = std::system((command + " > " + quoted(log) + " 2>&1").c_str());
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// path -> bytes of every file under `root`.
std::map<std::string, Bytes> extractedFiles(const fs::path& root) {
    std::map<std::string, Bytes> found;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) {
            std::string path = "/";
            path += fs::relative(entry.path(), root).generic_string();
            found[path] = ReadWholeFile(entry.path());
        }
    return found;
}

void expectSameFiles(const std::map<std::string, Bytes>& got, const std::map<std::string, Bytes>& expected) {
    std::set<std::string> gotNames, expectedNames;
    for (const auto& [path, bytes] : got) gotNames.insert(path);
    for (const auto& [path, bytes] : expected) expectedNames.insert(path);
    EXPECT_EQ(gotNames, expectedNames);
    for (const auto& [path, bytes] : expected) {
        const auto it = got.find(path);
        if (it == got.end()) continue;
        EXPECT_TRUE(it->second == bytes) << path << ": " << it->second.size() << " bytes, expected " << bytes.size();
    }
}

uint32_t le32(const Bytes& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 | static_cast<uint32_t>(b[at + 2]) << 16 |
           static_cast<uint32_t>(b[at + 3]) << 24;
}

// Walks the directory tree as a general ISO 9660 reader does (root record of the primary volume
// descriptor, record length bytes, a zero length byte ending a sector) and checks that no record
// crosses a sector boundary. Returns the number of records seen.
size_t checkRecordsWithinSectors(const Bytes& image) {
    constexpr size_t kSector = 2048, kRootRecord = 16 * kSector + 156;
    size_t records = 0;
    std::vector<std::pair<uint32_t, uint32_t>> directories{{le32(image, kRootRecord + 2), le32(image, kRootRecord + 10)}};
    std::set<uint32_t> walked;
    while (!directories.empty()) {
        const auto [sector, bytes] = directories.back();
        directories.pop_back();
        if (!walked.insert(sector).second) continue;
        const size_t begin = size_t{sector} * kSector, end = begin + bytes;
        if (end > image.size()) {
            ADD_FAILURE() << "directory at sector " << sector << " runs past the image";
            continue;
        }
        for (size_t at = begin; at < end;) {
            const uint8_t length = image[at];
            if (length == 0) {
                at = (at / kSector + 1) * kSector;
                continue;
            }
            ++records;
            EXPECT_LE(at % kSector + length, kSector) << "record at byte " << at << " crosses a sector boundary";
            EXPECT_GE(length, 33 + image[at + 32]) << "record at byte " << at << " shorter than its identifier";
            const bool dotOrDotDot = image[at + 32] == 1 && image[at + 33] <= 1;
            if ((image[at + 25] & 0x02) != 0 && !dotOrDotDot)
                directories.push_back({le32(image, at + 2), le32(image, at + 10)});
            at += length;
        }
    }
    return records;
}

class OutputValidity : public ::testing::TestWithParam<ImageCase> {
protected:
    void SetUp() override {
#ifdef _WIN32
        GTEST_SKIP() << "the independent ISO readers run only on the native build";
#endif
        const ImageCase& c = GetParam();
        if (c.change) c.change(m_fixture);
        m_fixture.Write();
        JobBuild build(m_fixture, m_fixture.output);
        ASSERT_EQ(BuildThreadProc(&build), static_cast<uint32_t>(c.result));
        // The package's files with the bytes it means: its stored bytes (mode 0), the source's
        // file (mode 1), the rebuilt archive (mode 2, the demo's translated one). A file the job
        // verified must match the package's CRC-32 too.
        for (uint32_t i = 1; i <= build.m_package.entryCount; ++i) {
            const PatchEntry& e = build.m_package.entries[i];
            Bytes bytes;
            if (e.mode == 0) bytes.assign(e.data, e.data + e.size);
            else if (e.mode == 1) bytes = m_fixture.File(e.path).original.Materialise();
            else bytes = m_fixture.File(e.path).translated.Materialise();
            ASSERT_EQ(bytes.size(), e.size) << e.path;
            if (build.m_mismatches.count(i) == 0) {
                EXPECT_EQ(test::ReferenceCrc32(bytes), e.crc) << e.path;
            }
            m_files[e.path] = std::move(bytes);
        }
        m_image = ReadWholeFile(m_fixture.output);
    }

public:
    // Each reader: its listing (where it gives one) and its extracted files against the package.
    void isoinfo() {
        int status = 0;
        const std::string listing = run(std::string(TESSALY_ISOINFO) + " -f -i " + quoted(m_fixture.output),
                                        m_fixture.dir / "isoinfo-f.txt", status);
        ASSERT_EQ(status, 0) << listing;
        const fs::path root = m_fixture.dir / "isoinfo";
        fs::create_directories(root);
        std::istringstream lines(listing);
        size_t listed = 0;
        for (std::string path; std::getline(lines, path);) {
            // -f lists directories too; only the files are extracted.
            if (path.empty() || m_files.count(path) == 0) continue;
            ++listed;
            const fs::path target = root / fs::path(path.substr(1));
            fs::create_directories(target.parent_path());
            int extracted = 0;
            run(std::string(TESSALY_ISOINFO) + " -i " + quoted(m_fixture.output) + " -x '" + path + "'", target, extracted);
            EXPECT_EQ(extracted, 0) << path;
        }
        EXPECT_EQ(listed, m_files.size());
        expectSameFiles(extractedFiles(root), m_files);
    }

    void xorriso() {
        const fs::path root = m_fixture.dir / "xorriso";
        int status = 0;
        const std::string log = run(std::string(TESSALY_XORRISO) + " -abort_on FAILURE -osirrox on -indev " +
                                        quoted(m_fixture.output) + " -extract / " + quoted(root),
                                    m_fixture.dir / "xorriso.txt", status);
        ASSERT_EQ(status, 0) << log;
        expectSameFiles(extractedFiles(root), m_files);
    }

    void sevenZip() {
        const fs::path root = m_fixture.dir / "7z";
        int status = 0;
        const std::string log = run(std::string(TESSALY_7Z) + " x -y -o" + quoted(root) + " " + quoted(m_fixture.output),
                                    m_fixture.dir / "7z.txt", status);
        ASSERT_EQ(status, 0) << log;
        expectSameFiles(extractedFiles(root), m_files);
    }

    void pycdlib() {
        const fs::path root = m_fixture.dir / "pycdlib";
        int status = 0;
        const std::string listing = run(std::string("'") + TESSALY_PYCDLIB_PYTHON + "' '" + TESSALY_PYCDLIB_EXTRACT +
                                            "' " + quoted(m_fixture.output) + " " + quoted(root),
                                        m_fixture.dir / "pycdlib.txt", status);
        ASSERT_EQ(status, 0) << listing;
        // Its listing gives each file's recorded size: the size the package's entry ended with.
        std::istringstream lines(listing);
        size_t listed = 0;
        for (std::string size, path; std::getline(lines, size, '\t') && std::getline(lines, path); ++listed) {
            ASSERT_EQ(m_files.count(path), 1u) << path;
            EXPECT_EQ(std::stoull(size), m_files[path].size()) << path;
        }
        EXPECT_EQ(listed, m_files.size());
        expectSameFiles(extractedFiles(root), m_files);
    }

protected:
    DemoFixture m_fixture;
    std::map<std::string, Bytes> m_files;
    Bytes m_image;
};

// One test per image (building it is the costly part): the record check, then every reader that
// is installed.
TEST_P(OutputValidity, ReadBackByIndependentReaders) {
    // root ".", "..", and at least one record per file
    EXPECT_GT(checkRecordsWithinSectors(m_image), m_files.size() + 2);

    struct Reader {
        const char* name;
        const char* program;
        const char* missing;
        void (OutputValidity::*check)();
    };
    const Reader readers[] = {
        {"isoinfo", TESSALY_ISOINFO, "isoinfo not installed (Debian: genisoimage)", &OutputValidity::isoinfo},
        {"xorriso", TESSALY_XORRISO, "xorriso not installed", &OutputValidity::xorriso},
        {"7z", TESSALY_7Z, "7z not installed (Debian: p7zip-full)", &OutputValidity::sevenZip},
        {"pycdlib", TESSALY_PYCDLIB_PYTHON, "no python3 with pycdlib (Debian: python3-pycdlib)", &OutputValidity::pycdlib},
    };
    std::string missing;
    for (const Reader& reader : readers) {
        SCOPED_TRACE(reader.name);
        if (std::strlen(reader.program) == 0) {
            missing += std::string(missing.empty() ? "" : "; ") + reader.missing;
            continue;
        }
        (this->*reader.check)();
    }
    if (!missing.empty()) GTEST_SKIP() << "not read by every reader: " << missing;
}

std::string caseName(const ::testing::TestParamInfo<ImageCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    JobImages, OutputValidity,
    ::testing::Values(
        ImageCase{"DemoDisc", nullptr, JobResult::Ok},
        ImageCase{"AnotherSeed", [](DemoFixture& f) { f.disc = demo::MakeDemoDisc(demo::DemoOptions{7}); }, JobResult::Ok},
        ImageCase{"FontLargerThanItsSlot",
                  [](DemoFixture& f) {
                      f.File("/PSP_GAME/USRDIR/fonts.pgf").translated = demo::Contents::Pattern(77, 1024 * 2048 + 5000);
                  },
                  JobResult::Ok},
        // A copied file of another size in the source: laid out by its own size; the image is
        // complete although verification fails.
        ImageCase{"CopiedFileOfAnotherSize",
                  [](DemoFixture& f) {
                      auto& moved = f.File("/PSP_GAME/USRDIR/BGM.PBD");
                      moved.original = demo::Contents::Pattern(4242, moved.original.size + 70000);
                  },
                  JobResult::VerifyFailed}),
    caseName);

}  // namespace
}  // namespace tessaly
