#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "iso/disc_identity.h"
#include "iso/iso_index.h"
#include "iso_test_util.h"
#include "platform/exceptions.h"
#include "platform/fault_injection.h"
#include "platform/text.h"
#include "support/image_builder.h"
#include "support/open_files.h"
#include "support/temp_dir.h"
#include "support/utf8_literal.h"

namespace tessaly {
namespace {

using test::ErrorOf;

// Every test checks afterwards that no file was left open (where the platform can tell).
class Identify : public ::testing::Test {
protected:
    void SetUp() override { m_openBefore = test::OpenFileCount(); }
    void TearDown() override {
        FaultInjection::Disarm();
        if (m_openBefore) {
            EXPECT_EQ(test::OpenFileCount(), m_openBefore) << "a file stayed open";
        }
    }

    std::filesystem::path write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::filesystem::path path = m_dir / name;
        test::WriteFileBytes(path, bytes);
        return path;
    }
    std::filesystem::path writeSample(const std::string& name, const std::string& code = kTargetProductCode) {
        return write(name, test::BuildImage(test::SampleDiscSpec(code)).bytes);
    }

    test::TempDir m_dir;

private:
    std::optional<size_t> m_openBefore;
};

struct OpenResult {
    bool built;
    std::string error;  // GBK
};

OpenResult openImage(const std::filesystem::path& path) {
    IsoIndex index;
    index.openImage(path);
    return {index.volume != nullptr, index.errorText ? *index.errorText : std::string()};
}

TEST_F(Identify, ProductCodes) {
    struct Case { std::string code; DiscIdentity expected; };
    const Case cases[] = {
        {"KVXM-20417", DiscIdentity::Target},
        {"KVXM-20418", DiscIdentity::SecondDisc},
        {"KVXL-00815", DiscIdentity::EarlierGame},
        {"KVXL-00814", DiscIdentity::EarlierGameBonus},
        {"kvxm-20417", DiscIdentity::Unrecognised},
        {"KVXM-20417" + std::string(1, '\0'), DiscIdentity::Target},
        {"KVXM-20419", DiscIdentity::Unrecognised},
        {"KVXL-00816", DiscIdentity::Unrecognised},
        {"KVXM 20417", DiscIdentity::Unrecognised},
        {" KVXM-20417", DiscIdentity::Unrecognised},
        {"", DiscIdentity::Unrecognised},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("code \"" + c.code + "\"");
        // SampleDiscSpec follows the code with further bytes ("|...|G").
        const std::filesystem::path path = writeSample("disc" + std::to_string(n++) + ".iso", c.code);
        std::string read;
        EXPECT_EQ(identifyDisc(path, read), c.expected);
        std::string expectedRead = c.code + "|4F1C29A83B0D7E65|0001|G";
        expectedRead.resize(48, '\0');
        EXPECT_EQ(read, expectedRead.substr(0, 10));
        EXPECT_EQ(identifyDisc(path), c.expected);
    }
}

TEST_F(Identify, OpenImageIndexesTheFirst512KiB) {
    test::ImageSpec recipe = test::SampleDiscSpec(kTargetProductCode);
    recipe.files.push_back({"/PSP_GAME/USRDIR/FAR.BIN", test::PatternBytes(5000, 9), 400});  // beyond 512 KiB
    const test::BuiltImage image = test::BuildImage(recipe);
    const std::filesystem::path path = write("far.iso", image.bytes);

    IsoIndex index;
    test::BuildExact(index, image.bytes, 100);  // a failure first: openImage starts afresh
    ASSERT_NE(index.errorText, nullptr);
    index.openImage(path);
    ASSERT_NE(index.volume, nullptr) << ErrorOf(index);
    EXPECT_EQ(index.errorText, nullptr);
    const IsoFileRecord* far = index.find("/PSP_GAME/USRDIR/FAR.BIN");
    ASSERT_NE(far, nullptr);
    EXPECT_EQ(far->startSector, 400u);
    EXPECT_EQ(index.find("/UMD_DATA.BIN")->startSector, image.file("/UMD_DATA.BIN").startSector);
    EXPECT_EQ(identifyDisc(path), DiscIdentity::Target);
}

TEST_F(Identify, FilesShorterThanTheIndexBlock) {
    const std::vector<uint8_t> full = test::BuildImage(test::SampleDiscSpec(kTargetProductCode)).bytes;
    ASSERT_GT(full.size(), IsoIndex::kImageIndexBytes);
    const size_t lengths[] = {0, 1, 32852, IsoIndex::kImageIndexBytes - 1};
    for (size_t length : lengths) {
        SCOPED_TRACE(length);
        const std::filesystem::path path =
            write("short.iso", std::vector<uint8_t>(full.begin(), full.begin() + static_cast<ptrdiff_t>(length)));
        const OpenResult opened = openImage(path);
        EXPECT_FALSE(opened.built);
        EXPECT_EQ(opened.error, IsoErrors::kReadFailed) << IsoErrorTextUtf8(opened.error);
        EXPECT_EQ(identifyDisc(path), DiscIdentity::Unrecognised);
    }
    // Exactly 512 KiB is enough.
    const std::filesystem::path exact =
        write("exact.iso", std::vector<uint8_t>(full.begin(), full.begin() + IsoIndex::kImageIndexBytes));
    EXPECT_TRUE(openImage(exact).built);
    EXPECT_EQ(identifyDisc(exact), DiscIdentity::Target);
}

TEST_F(Identify, PathsThatCannotBeOpened) {
    const std::filesystem::path missing = m_dir / "missing.iso";
    const std::filesystem::path folder = m_dir / "folder.iso";
    std::filesystem::create_directory(folder);
    for (const auto& path : {missing, folder}) {
        SCOPED_TRACE(path.filename().string());
        const OpenResult opened = openImage(path);
        EXPECT_FALSE(opened.built);
        EXPECT_EQ(opened.error, IsoErrors::kCannotOpenFile) << IsoErrorTextUtf8(opened.error);
        std::string code = "stale";
        EXPECT_EQ(identifyDisc(path, code), DiscIdentity::Unrecognised);
        EXPECT_TRUE(code.empty());
    }
}

TEST_F(Identify, ImagesWithoutARootUmdDataBin) {
    test::ImageSpec elsewhere = test::SampleDiscSpec(kTargetProductCode);
    elsewhere.files[0].path = "/PSP_GAME/UMD_DATA.BIN";
    test::ImageSpec lowerCase = test::SampleDiscSpec(kTargetProductCode);
    lowerCase.files[0].path = "/umd_data.bin";
    for (const auto& recipe : {elsewhere, lowerCase}) {
        SCOPED_TRACE(recipe.files[0].path);
        const std::filesystem::path path = write("no-umd-data.iso", test::BuildImage(recipe).bytes);
        EXPECT_TRUE(openImage(path).built);
        EXPECT_EQ(identifyDisc(path), DiscIdentity::Unrecognised);
    }
}

// The code is read as 10 bytes from the file's start sector, whatever its recorded size.
TEST_F(Identify, ProductCodeReadAtTheStartSectorOnly) {
    constexpr uint32_t kFarSector = 300;  // beyond the index block, so the image can end right after it
    test::ImageSpec recipe = test::SampleDiscSpec(kTargetProductCode);
    recipe.files[0].startSector = kFarSector;
    const std::vector<uint8_t> full = test::BuildImage(recipe).bytes;
    const size_t codeStart = size_t{kFarSector} * 2048;

    const std::filesystem::path nine = write("nine.iso", std::vector<uint8_t>(full.begin(), full.begin() + codeStart + 9));
    EXPECT_EQ(identifyDisc(nine), DiscIdentity::Unrecognised);
    const std::filesystem::path ten = write("ten.iso", std::vector<uint8_t>(full.begin(), full.begin() + codeStart + 10));
    EXPECT_EQ(identifyDisc(ten), DiscIdentity::Target);

    // A 4-byte UMD_DATA.BIN followed in its sector by the rest of a code: read past its end.
    test::ImageSpec shortFile = test::SampleDiscSpec(kTargetProductCode);
    shortFile.files[0].contents = {'K', 'V', 'X', 'M'};
    test::BuiltImage image = test::BuildImage(shortFile);
    const size_t at = size_t{image.file("/UMD_DATA.BIN").startSector} * 2048;
    EXPECT_EQ(identifyDisc(write("short-zero.iso", image.bytes)), DiscIdentity::Unrecognised);
    std::memcpy(image.bytes.data() + at + 4, "-20418", 6);
    EXPECT_EQ(identifyDisc(write("short-code.iso", image.bytes)), DiscIdentity::SecondDisc);
}

TEST_F(Identify, DirectoriesMustLieInTheFirst256Sectors) {
    struct Case { const char* directory; uint32_t sector; bool indexed; };
    const Case cases[] = {
        {"/PSP_GAME/SYSDIR", 255, true},
        {"/PSP_GAME/SYSDIR", 256, false},
        {"/PSP_GAME", 256, false},  // the root's child: nothing below it can be indexed
        {"/", 256, false},
        {"/", 1000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.directory) + " at sector " + std::to_string(c.sector));
        std::vector<uint8_t> bytes = test::BuildImage(test::SampleDiscSpec(kTargetProductCode)).bytes;
        test::MoveDirectory(bytes, c.directory, c.sector);
        const std::filesystem::path path = write("moved.iso", bytes);
        const OpenResult opened = openImage(path);
        EXPECT_EQ(opened.built, c.indexed) << IsoErrorTextUtf8(opened.error);
        if (!c.indexed) {
            EXPECT_EQ(opened.error, IsoErrors::kBadFolderOffset) << IsoErrorTextUtf8(opened.error);
        }
        EXPECT_EQ(identifyDisc(path), c.indexed ? DiscIdentity::Target : DiscIdentity::Unrecognised);
    }
}

TEST_F(Identify, ChineseFileNameWithSpace) {
    const std::filesystem::path path = m_dir.path() / PathFromUtf8(test::Utf8(u8"镜像 文件.iso"));
    test::WriteFileBytes(path, test::BuildImage(test::SampleDiscSpec("KVXL-00814")).bytes);
    EXPECT_TRUE(openImage(path).built);
    EXPECT_EQ(identifyDisc(path), DiscIdentity::EarlierGameBonus);
}

// Failures of the file layer, injected at each of identification's file operations.
TEST_F(Identify, FileLayerFailures) {
    const std::filesystem::path path = writeSample("fault-target.iso");
    const std::string part = "fault-target";

    FaultInjection::ArmFailure(FileOperation::Open, part);
    EXPECT_EQ(openImage(path).error, IsoErrors::kCannotOpenFile);
    FaultInjection::ArmFailure(FileOperation::Read, part);
    EXPECT_EQ(openImage(path).error, IsoErrors::kReadFailed);
    FaultInjection::ArmShortRead(part, 0, 4096);
    EXPECT_EQ(openImage(path).error, IsoErrors::kReadFailed);

    // The second opening (for the product code) fails, or its read comes up short.
    FaultInjection::ArmFailure(FileOperation::Open, part, 1);
    EXPECT_EQ(identifyDisc(path), DiscIdentity::Unrecognised);
    FaultInjection::ArmShortRead(part, 1, 9);
    EXPECT_EQ(identifyDisc(path), DiscIdentity::Unrecognised);
    FaultInjection::ArmShortRead(part, 1, 10);
    EXPECT_EQ(identifyDisc(path), DiscIdentity::Target);

    // A read error while reading the code is not identification's to hide; the file still closes.
    FaultInjection::ArmFailure(FileOperation::Read, part, 1);
    EXPECT_THROW(identifyDisc(path), CFileException);
    FaultInjection::Disarm();
    EXPECT_EQ(identifyDisc(path), DiscIdentity::Target);
}

}  // namespace
}  // namespace tessaly
