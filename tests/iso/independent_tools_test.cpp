// Images checked against ISO 9660 implementations that nobody here wrote: an image mastered by
// pycdlib read through IsoIndex, and our writer's images read by isoinfo, xorriso, 7z and pycdlib.
// The tools exist only on the native build; each test skips when its tool is missing.

#include <gtest/gtest.h>

#ifdef _WIN32

TEST(IndependentTools, NotOnWindows) {
    GTEST_SKIP() << "pycdlib, isoinfo, xorriso and 7z are checked by the native build only";
}

#else

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "iso/disc_identity.h"
#include "iso/iso_index.h"
#include "iso/umd_image_writer.h"
#include "iso_test_util.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using test::ErrorOf;

// One record as a tool reports it.
struct Listed {
    bool directory = false;
    uint32_t extent = 0;
    uint32_t size = 0;
};
using Listing = std::map<std::string, Listed>;  // by path

// Runs a shell command with its output in a file.
std::string run(const std::string& command, const fs::path& output, int* status = nullptr) {
    const std::string line = command + " > '" + output.string() + "' 2>&1";
    const int rc = std::system(line.c_str());
    if (status != nullptr) *status = rc;
    std::ifstream in(output);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

bool toolMissing(const char* program) { return std::string(program).empty(); }

Listing parsePycdlibListing(const std::string& text) {
    Listing out;
    std::istringstream in(text);
    std::string kind, extent, size, path;
    while (std::getline(in, kind, '\t') && std::getline(in, extent, '\t') && std::getline(in, size, '\t') &&
           std::getline(in, path)) {
        out[path] = {kind == "D", static_cast<uint32_t>(std::stoul(extent)), static_cast<uint32_t>(std::stoul(size))};
    }
    return out;
}

std::string parentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

// ---------------------------------------------------------------------------------------------
// An image mastered by pycdlib, read through IsoIndex.

class PycdlibImage : public ::testing::Test {
protected:
    void SetUp() override {
        if (toolMissing(TESSALY_PYCDLIB_PYTHON)) GTEST_SKIP() << "no python3 with pycdlib (Debian: python3-pycdlib)";
        const fs::path image = m_dir / "pycdlib.iso";
        int status = 0;
        const std::string out = run(std::string("'") + TESSALY_PYCDLIB_PYTHON + "' '" + TESSALY_PYCDLIB_TOOL +
                                        "' master " + quoted(image),
                                    m_dir / "listing.txt", &status);
        ASSERT_EQ(status, 0) << out;
        m_listing = parsePycdlibListing(out);
        ASSERT_GT(m_listing.size(), 70u) << out;
        m_image = test::ReadFileBytes(image);
        postProcess();
    }

    // What pycdlib cannot express, and nothing else:
    // - It writes the CD-XA system-use field with attribute word 0; UMD discs mark files 0x0D55 and
    //   directories 0x8D55 there, which is how the index tells them apart.
    // - It records no optional type-L path table (location 0); the index walks the type-L table up
    //   to the optional table's sector, so that location is set to the sector after the table
    //   (pycdlib reserves two sectors per table, the second one blank).
    void postProcess() {
        for (const auto& [path, listed] : m_listing) {
            if (!listed.directory) continue;
            for (size_t record : test::DirectoryRecords(m_image, path)) {
                const bool isDirectory = (m_image[record + 25] & 2) != 0;
                const size_t attribute = test::XaAttributeOffset(m_image, record);
                ASSERT_EQ(m_image[attribute - 4 + 6], 'X') << "pycdlib wrote no XA field at " << record;
                m_image[attribute] = isDirectory ? 0x8D : 0x0D;
                m_image[attribute + 1] = 0x55;
            }
        }
        ASSERT_EQ(test::GetLe32(m_image, test::kOptionalPathTableLField), 0u);
        test::PutLe32(m_image, test::kOptionalPathTableLField, test::GetLe32(m_image, test::kPathTableLField) + 1);
    }

    test::TempDir m_dir;
    Listing m_listing;
    std::vector<uint8_t> m_image;
};

TEST_F(PycdlibImage, IndexedWithPycdlibsOwnRecords) {
    IsoIndex index;
    test::BuildExact(index, m_image);
    ASSERT_NE(index.volume, nullptr) << ErrorOf(index);

    size_t files = 0, directories = 0;
    uint32_t lastDirectoryEnd = 0, highestDirectory = 0;
    for (const auto& [path, listed] : m_listing) {
        SCOPED_TRACE(path);
        const IsoFileRecord* r = index.find(path);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->startSector, listed.extent);
        EXPECT_EQ(r->size, listed.size);
        EXPECT_EQ(r->type, listed.directory ? IsoFileRecord::Directory : IsoFileRecord::File);
        if (path == "/") {
            EXPECT_EQ(r, index.volume->root);
            EXPECT_EQ(r->recordOffset, size_t{listed.extent} * 2048);
        } else {
            EXPECT_EQ(r->recordOffset, test::RecordOffset(m_image, path));
            EXPECT_EQ(r->parent, index.find(parentOf(path)));
            EXPECT_EQ(r->name, path.substr(path.rfind('/') + 1));
        }
        if (listed.directory) {
            ++directories;
            if (listed.extent >= highestDirectory) {
                highestDirectory = listed.extent;
                lastDirectoryEnd = listed.extent + (listed.size + 2047) / 2048;
            }
        } else {
            ++files;
        }
    }
    EXPECT_EQ(index.volume->fileCount, files);
    EXPECT_EQ(index.volume->directoryCount, directories);
    EXPECT_EQ(index.volume->bySector.size(), m_listing.size());
    EXPECT_EQ(index.volume->firstFreeSector, lastDirectoryEnd);
    ASSERT_GT(m_listing.at("/PSP_GAME/USRDIR").size, 2048u) << "meant to span sectors";
    EXPECT_EQ(index.find("/PSP_GAME/USRDIR")->children.size(), 72u);
}

TEST_F(PycdlibImage, IdentifiedAfterPaddingTo512KiB) {
    std::vector<uint8_t> padded = m_image;
    padded.resize(std::max<size_t>(padded.size(), IsoIndex::kImageIndexBytes), 0);
    const fs::path path = m_dir / "padded.iso";
    test::WriteFileBytes(path, padded);
    std::string code;
    EXPECT_EQ(identifyDisc(path, code), DiscIdentity::Target);
    EXPECT_EQ(code, "KVXM-20417");
}

// ---------------------------------------------------------------------------------------------
// Our writer's image, listed and extracted by the independent readers.

class WriterImageReadByTools : public ::testing::Test {
protected:
    void SetUp() override {
        test::ImageSpec recipe = test::SampleDiscSpec(kTargetProductCode);
        recipe.directories.push_back("/PSP_GAME/USRDIR/EMPTY");
        recipe.files.push_back({"/PSP_GAME/USRDIR/fonts.pgf", test::PatternBytes(2500, 40), {}});
        recipe.files.push_back({"/PSP_GAME/USRDIR/ZERO.BIN", {}, {}});
        for (int i = 0; i < 60; ++i)
            recipe.files.push_back({"/PSP_GAME/USRDIR/MOVIE" + std::to_string(100 + i) + ".PMF",
                                  test::PatternBytes(100 + 97 * static_cast<size_t>(i), 50 + i), {}});
        recipe.minimumBytes = 0;
        m_built = test::BuildImage(recipe);
        m_spec = recipe;
        m_imagePath = m_dir / "writer.iso";
        test::WriteFileBytes(m_imagePath, m_built.bytes);
        for (const auto& f : recipe.files) m_contents[f.path] = f.contents;
    }

    // The extracted tree under `root` holds exactly our files with our bytes (and, where the
    // tool extracts directories, our directories).
    void expectExtracted(const fs::path& root, bool withDirectories) {
        std::map<std::string, std::vector<uint8_t>> found;
        std::set<std::string> directories;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            const std::string path = "/" + fs::relative(entry.path(), root).generic_string();
            if (entry.is_directory()) directories.insert(path);
            else found[path] = test::ReadFileBytes(entry.path());
        }
        EXPECT_EQ(found.size(), m_contents.size());
        for (const auto& [path, bytes] : m_contents) {
            SCOPED_TRACE(path);
            ASSERT_EQ(found.count(path), 1u);
            EXPECT_TRUE(found[path] == bytes);
        }
        if (withDirectories) {
            EXPECT_EQ(directories, kDirectories);
        }
    }

    void expectListingMatches(const Listing& listing, bool hasExtents, bool hasDirectories) {
        std::set<std::string> directories;
        size_t files = 0;
        for (const auto& [path, listed] : listing) {
            if (listed.directory) {
                if (path != "/") directories.insert(path);
                continue;
            }
            ++files;
            SCOPED_TRACE(path);
            ASSERT_EQ(m_contents.count(path), 1u);
            const UmdFile& f = m_built.file(path);
            EXPECT_EQ(listed.size, f.size);
            if (hasExtents && f.size > 0) {
                EXPECT_EQ(listed.extent, f.startSector);
            }
        }
        EXPECT_EQ(files, m_contents.size());
        if (hasDirectories) {
            EXPECT_EQ(directories, kDirectories);
        }
    }

    const std::set<std::string> kDirectories{"/PSP_GAME", "/PSP_GAME/SYSDIR", "/PSP_GAME/USRDIR",
                                             "/PSP_GAME/USRDIR/EMPTY"};
    test::TempDir m_dir;
    test::ImageSpec m_spec;
    test::BuiltImage m_built;
    fs::path m_imagePath;
    std::map<std::string, std::vector<uint8_t>> m_contents;
};

TEST_F(WriterImageReadByTools, Isoinfo) {
    if (toolMissing(TESSALY_ISOINFO)) GTEST_SKIP() << "isoinfo not installed (Debian: genisoimage)";
    int status = 0;
    const std::string out = run(std::string(TESSALY_ISOINFO) + " -l -i " + quoted(m_imagePath), m_dir / "l.txt", &status);
    ASSERT_EQ(status, 0) << out;
    // "Directory listing of /PSP_GAME/" then lines like
    // "----------   0    0    0            700 Jan  1 2026 [     29 00]  PARAM.SFO "
    const std::regex heading("^Directory listing of (/.*)$");
    const std::regex entry(R"(^([d-])\S*\s+\d+\s+\d+\s+\d+\s+(\d+)\s+\w+\s+\d+\s+\d+\s+\[\s*(\d+)\s+\d+\]\s+(\S+)\s*$)");
    Listing listing;
    std::string dir;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_match(line, m, heading)) {
            dir = m[1].str();
        } else if (std::regex_match(line, m, entry) && m[4] != "." && m[4] != "..") {
            listing[dir + m[4].str()] = {m[1] == "d", static_cast<uint32_t>(std::stoul(m[3])),
                                         static_cast<uint32_t>(std::stoul(m[2]))};
        }
    }
    expectListingMatches(listing, true, true);

    const fs::path extracted = m_dir / "isoinfo";
    for (const auto& [path, bytes] : m_contents) {
        fs::create_directories(extracted / fs::path(path.substr(1)).parent_path());
        run(std::string(TESSALY_ISOINFO) + " -i " + quoted(m_imagePath) + " -x '" + path + "'",
            extracted / fs::path(path.substr(1)));
    }
    expectExtracted(extracted, false);  // -x extracts files only
}

TEST_F(WriterImageReadByTools, Xorriso) {
    if (toolMissing(TESSALY_XORRISO)) GTEST_SKIP() << "xorriso not installed";
    int status = 0;
    const std::string out = run(std::string(TESSALY_XORRISO) + " -abort_on FAILURE -indev " + quoted(m_imagePath) +
                                    " -find / -type f -exec report_lba --",
                                m_dir / "x.txt", &status);
    ASSERT_EQ(status, 0) << out;
    // "File data lba:  0 ,       29 ,        1 ,      700 , '/PSP_GAME/PARAM.SFO'"
    const std::regex entry(R"(^File data lba:\s*\d+\s*,\s*(\d+)\s*,\s*\d+\s*,\s*(\d+)\s*,\s*'(.*)'\s*$)");
    Listing listing;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_match(line, m, entry))
            listing[m[3].str()] = {false, static_cast<uint32_t>(std::stoul(m[1])), static_cast<uint32_t>(std::stoul(m[2]))};
    }
    // Empty files have no data blocks to report.
    listing["/PSP_GAME/USRDIR/ZERO.BIN"] = {false, 0, 0};
    expectListingMatches(listing, true, false);

    const fs::path extracted = m_dir / "xorriso";
    const std::string extractOut = run(std::string(TESSALY_XORRISO) + " -abort_on FAILURE -osirrox on -indev " +
                                           quoted(m_imagePath) + " -extract / " + quoted(extracted),
                                       m_dir / "xe.txt", &status);
    ASSERT_EQ(status, 0) << extractOut;
    expectExtracted(extracted, true);
}

TEST_F(WriterImageReadByTools, SevenZip) {
    if (toolMissing(TESSALY_7Z)) GTEST_SKIP() << "7z not installed (Debian: p7zip-full or 7zip)";
    int status = 0;
    const std::string out = run(std::string(TESSALY_7Z) + " l -slt " + quoted(m_imagePath), m_dir / "7l.txt", &status);
    ASSERT_EQ(status, 0) << out;
    // Item blocks follow a line of dashes: "Path = PSP_GAME/PARAM.SFO", "Folder = -", "Size = 700".
    Listing listing;
    std::istringstream in(out);
    std::string path;
    bool items = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "----------") items = true;
        if (!items) continue;
        if (line.rfind("Path = ", 0) == 0) {
            path = "/" + line.substr(7);
            listing[path] = {};
        } else if (line == "Folder = +") {
            listing[path].directory = true;
        } else if (line.rfind("Size = ", 0) == 0 && line.size() > 7) {
            listing[path].size = static_cast<uint32_t>(std::stoul(line.substr(7)));
        }
    }
    expectListingMatches(listing, false, true);

    const fs::path extracted = m_dir / "7z";
    const std::string extractOut =
        run(std::string(TESSALY_7Z) + " x -y -o" + quoted(extracted) + " " + quoted(m_imagePath), m_dir / "7x.txt", &status);
    ASSERT_EQ(status, 0) << extractOut;
    expectExtracted(extracted, true);
}

TEST_F(WriterImageReadByTools, Pycdlib) {
    if (toolMissing(TESSALY_PYCDLIB_PYTHON)) GTEST_SKIP() << "no python3 with pycdlib (Debian: python3-pycdlib)";
    const fs::path extracted = m_dir / "pycdlib";
    int status = 0;
    const std::string out = run(std::string("'") + TESSALY_PYCDLIB_PYTHON + "' '" + TESSALY_PYCDLIB_TOOL + "' list " +
                                    quoted(m_imagePath) + " " + quoted(extracted),
                                m_dir / "p.txt", &status);
    ASSERT_EQ(status, 0) << out;
    const Listing listing = parsePycdlibListing(out);
    expectListingMatches(listing, true, true);
    // pycdlib reports directories too: the same extents as our index.
    IsoIndex index;
    test::BuildExact(index, m_built.bytes);
    ASSERT_NE(index.volume, nullptr) << ErrorOf(index);
    for (const auto& [path, listed] : listing) {
        if (!listed.directory) continue;
        SCOPED_TRACE(path);
        const IsoFileRecord* r = index.find(path);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->startSector, listed.extent);
        EXPECT_EQ(r->size, listed.size);
    }
    expectExtracted(extracted, false);  // pycdlib_tool extracts files only
}

}  // namespace
}  // namespace tessaly

#endif  // _WIN32
