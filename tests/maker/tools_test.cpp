// A TRANSLATED image mastered by pycdlib (not by this project's writer) goes through make-package
// and patch; the patched image must list the same files with the same bytes in isoinfo, xorriso
// and 7z. The tools exist only on the native build; each test skips when its tool is missing.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "maker_fixture.h"
#include "platform/text.h"
#include "support/image_builder.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using test::Contains;
using test::ReadFileBytes;
using test::WriteFileBytes;

bool missing(const char* program) { return std::string(program).empty(); }
std::string quoted(const fs::path& path) { return std::string("'") + path.string() + "'"; }

// Runs a shell command with its output in a file; returns the output, the status through `status`.
std::string run(const std::string& command, const fs::path& output, int& status) {
    status = std::system((command + " > " + quoted(output) + " 2>&1").c_str());
    std::ifstream in(output);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Tree {
    std::map<std::string, std::vector<uint8_t>> files;
    std::set<std::string> directories;
};

Tree extracted(const fs::path& root) {
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string path = std::string("/") + fs::relative(entry.path(), root).generic_string();
        if (entry.is_directory()) tree.directories.insert(path);
        else tree.files[path] = ReadFileBytes(entry.path());
    }
    return tree;
}

class PycdlibTranslated : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef _WIN32
        GTEST_SKIP() << "pycdlib and the ISO tools run only on the native build";
#endif
        if (missing(TESSALY_MAKER_PYTHON)) GTEST_SKIP() << "no python3 with pycdlib (Debian: python3-pycdlib)";
        f.WriteImages();
        for (const auto& file : f.disc.files) {
            const fs::path target = f.dir / "tree" / file.path.substr(1);
            fs::create_directories(target.parent_path());
            WriteFileBytes(target, file.translated.Materialise());
            want.files[file.path] = file.translated.Materialise();
            for (std::string d = file.path.substr(0, file.path.rfind('/')); !d.empty(); d = d.substr(0, d.rfind('/')))
                want.directories.insert(d);
        }
        int status = 0;
        const std::string out = run(std::string("'") + TESSALY_MAKER_PYTHON + "' '" + TESSALY_MAKER_PYCDLIB_MASTER +
                                        "' " + quoted(f.dir / "tree") + " " + quoted(f.translated),
                                    f.dir / "master.txt", status);
        ASSERT_EQ(status, 0) << out;
        addUmdAttributes();
    }

    // What pycdlib cannot write, and nothing else: it leaves the CD-XA attribute word 0, where UMD
    // discs mark files 0x0D55 and directories 0x8D55; and it records no optional type-L path table
    // (location 0), which the index takes as the end of the type-L table, so that location is set
    // to the blank sector pycdlib leaves after the table.
    void addUmdAttributes() {
        auto image = ReadFileBytes(f.translated);
        std::set<std::string> directories = want.directories;
        directories.insert("/");
        for (const auto& directory : directories) {
            for (size_t record : test::DirectoryRecords(image, directory)) {
                const size_t attribute = test::XaAttributeOffset(image, record);
                ASSERT_EQ(image[attribute - 4 + 6], 'X') << "no XA field written at " << record;
                image[attribute] = (image[record + 25] & 2) != 0 ? 0x8D : 0x0D;
                image[attribute + 1] = 0x55;
            }
        }
        ASSERT_EQ(test::GetLe32(image, test::kOptionalPathTableLField), 0u);
        test::PutLe32(image, test::kOptionalPathTableLField, test::GetLe32(image, test::kPathTableLField) + 1);
        WriteFileBytes(f.translated, image);
    }

    // make-package and patch; the patched image's own directory holds exactly the tree's files.
    void makeAndPatch() {
        const auto made = f.MakePackage();
        ASSERT_EQ(made.code, 0) << made.err;
        const auto patched = f.Patch(f.original);
        ASSERT_EQ(patched.code, 0) << patched.out << patched.err;
        const test::ImageListing listing = test::ListImage(f.output);
        EXPECT_EQ(listing.directories, want.directories);
        EXPECT_TRUE(listing.files == want.files);
    }

    void expectTree(const Tree& got, bool withDirectories) {
        EXPECT_EQ(got.files.size(), want.files.size());
        for (const auto& [path, bytes] : want.files) {
            SCOPED_TRACE(path);
            ASSERT_EQ(got.files.count(path), 1u);
            EXPECT_TRUE(got.files.at(path) == bytes);
        }
        if (withDirectories) {
            EXPECT_EQ(got.directories, want.directories);
        }
    }

    test::MakerFixture f;
    Tree want;
};

TEST_F(PycdlibTranslated, GoesThroughMakePackageAndPatch) {
    ASSERT_NO_FATAL_FAILURE(makeAndPatch());
    // pycdlib lays files out its own way: the report says the image is laid out afresh.
    EXPECT_TRUE(Contains(f.Report(), "laid out otherwise")) << f.Report();
    EXPECT_EQ(f.Verify(f.output).code, 0);
}

TEST_F(PycdlibTranslated, SecondDirectoryTreeIsRefused) {
    // pycdlib's level-4 image has an enhanced descriptor at sector 17 sharing the primary
    // directory; pointed at a root of its own it is a second tree the build would not rewrite.
    constexpr size_t kEnhancedRootExtent = 17 * test::kSector + 156 + 2;
    auto image = ReadFileBytes(f.translated);
    ASSERT_EQ(image[17 * test::kSector], 2);
    test::PutBoth32(image, kEnhancedRootExtent, test::GetLe32(image, kEnhancedRootExtent) + 1);
    WriteFileBytes(f.translated, image);
    const auto made = f.MakePackage();
    EXPECT_EQ(made.code, 3);
    EXPECT_TRUE(Contains(made.err, "volume descriptor of type 2 at sector 17")) << made.err;
    EXPECT_FALSE(std::filesystem::exists(f.package));
}

TEST_F(PycdlibTranslated, PatchedImageListedByIsoinfo) {
    if (missing(TESSALY_MAKER_ISOINFO)) GTEST_SKIP() << "isoinfo not installed (Debian: genisoimage)";
    ASSERT_NO_FATAL_FAILURE(makeAndPatch());
    int status = 0;
    const std::string listing =
        run(std::string(TESSALY_MAKER_ISOINFO) + " -f -i " + quoted(f.output), f.dir / "isoinfo.txt", status);
    ASSERT_EQ(status, 0) << listing;
    std::set<std::string> listed, expected = want.directories;
    for (const auto& [path, bytes] : want.files) expected.insert(path);
    std::istringstream in(listing);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) listed.insert(line);
    EXPECT_EQ(listed, expected);

    Tree got;
    for (const auto& [path, bytes] : want.files) {
        const fs::path target = f.dir / "isoinfo" / path.substr(1);
        fs::create_directories(target.parent_path());
        run(std::string(TESSALY_MAKER_ISOINFO) + " -i " + quoted(f.output) + " -x '" + path + "'", target, status);
        ASSERT_EQ(status, 0) << path;
        got.files[path] = ReadFileBytes(target);
    }
    expectTree(got, false);
}

TEST_F(PycdlibTranslated, PatchedImageExtractedByXorriso) {
    if (missing(TESSALY_MAKER_XORRISO)) GTEST_SKIP() << "xorriso not installed";
    ASSERT_NO_FATAL_FAILURE(makeAndPatch());
    int status = 0;
    const fs::path root = f.dir / "xorriso";
    const std::string out = run(std::string(TESSALY_MAKER_XORRISO) + " -abort_on FAILURE -osirrox on -indev " +
                                    quoted(f.output) + " -extract / " + quoted(root),
                                f.dir / "xorriso.txt", status);
    ASSERT_EQ(status, 0) << out;
    expectTree(extracted(root), true);
}

TEST_F(PycdlibTranslated, PatchedImageExtractedBy7z) {
    if (missing(TESSALY_MAKER_7Z)) GTEST_SKIP() << "7z not installed (Debian: p7zip-full or 7zip)";
    ASSERT_NO_FATAL_FAILURE(makeAndPatch());
    int status = 0;
    const fs::path root = f.dir / "7z";
    const std::string out = run(std::string(TESSALY_MAKER_7Z) + " x -y -o" + quoted(root) + " " + quoted(f.output),
                                f.dir / "7z.txt", status);
    ASSERT_EQ(status, 0) << out;
    expectTree(extracted(root), true);
}

}  // namespace
}  // namespace tessaly
