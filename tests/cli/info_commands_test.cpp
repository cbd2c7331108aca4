// `tessaly identify` and `tessaly package-info` on the demo disc and on damaged copies.

#include <gtest/gtest.h>

#include <sstream>

#include "cli/command_line.h"
#include "package/crc32.h"
#include "platform/text.h"
#include "resources/embedded_package.h"
#include "resources/messages.h"
#include "support/temp_dir.h"
#include "tools/demo/demo_disc.h"

namespace tessaly {
namespace {

struct CliResult {
    int code;
    std::string out;
};

CliResult run(int (*command)(const cli::Invocation&), std::vector<std::string> args) {
    std::ostringstream out, err;
    cli::Invocation call{std::move(args), out, err};
    const int code = command(call);
    return {code, out.str() + err.str()};
}

class InfoCommands : public ::testing::Test {
protected:
    void SetUp() override {
        disc = demo::MakeDemoDisc({});
        image = dir / "源 镜像.iso";  // a name with Chinese characters and a space
        demo::WriteOriginalImage(disc, image);
        packageBytes = demo::MakePackage(disc);
        package = dir / "package.bin";
        test::WriteFileBytes(package, packageBytes);
    }
    void setCode(const char* code) {
        for (auto& f : disc.files)
            if (f.path == "/UMD_DATA.BIN") {
                auto bytes = f.original.Materialise();
                std::copy(code, code + 10, bytes.begin());
                f.original = demo::Contents::Bytes(bytes);
            }
        demo::WriteOriginalImage(disc, image);
    }
    test::TempDir dir;
    demo::DemoDisc disc;
    std::filesystem::path image, package;
    std::vector<uint8_t> packageBytes;
};

TEST_F(InfoCommands, IdentifyNamesEachDiscWithItsExitCodeAndMessage) {
    struct Case {
        const char* code;
        int exit;
        int message;  // 0: the target disc
    };
    const Case cases[] = {
        {"KVXM-20417", 0, 0},   {"KVXM-20418", 12, 146}, {"KVXL-00815", 13, 147},
        {"KVXL-00814", 14, 148}, {"KVXM-2041X", 11, 145},
    };
    for (const Case& c : cases) {
        setCode(c.code);
        const auto r = run(cli::RunIdentify, {PathToUtf8(image)});
        EXPECT_EQ(r.code, c.exit) << c.code;
        EXPECT_NE(r.out.find(c.code), std::string::npos) << r.out;
        if (c.message != 0) {
            EXPECT_NE(r.out.find(MessageUtf8(c.message)), std::string::npos) << r.out;
        }
    }
}

TEST_F(InfoCommands, IdentifyRefusesWhatIsNoImage) {
    test::WriteFileBytes(dir / "short.iso", test::PatternBytes(1000, 1));
    EXPECT_EQ(run(cli::RunIdentify, {PathToUtf8(dir / "short.iso")}).code, 11);
    EXPECT_EQ(run(cli::RunIdentify, {PathToUtf8(dir / "missing.iso")}).code, 11);
    EXPECT_EQ(run(cli::RunIdentify, {}).code, 64);
    EXPECT_EQ(run(cli::RunIdentify, {"--nope", PathToUtf8(image)}).code, 64);
}

TEST_F(InfoCommands, PackageInfoListsEveryEntry) {
    const auto r = run(cli::RunPackageInfo, {PathToUtf8(package)});
    ASSERT_EQ(r.code, 0) << r.out;
    for (const auto& f : disc.files) EXPECT_NE(r.out.find(f.path), std::string::npos) << f.path;
    uint32_t headerCrc = 0;
    const uint32_t headerLength = packageBytes[4] | packageBytes[5] << 8 | packageBytes[6] << 16;
    Crc32Update(packageBytes.data() + 12, headerCrc, headerLength);
    char crcText[16];
    std::snprintf(crcText, sizeof crcText, "%08X", headerCrc);
    EXPECT_NE(r.out.find(crcText), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("entries:            26"), std::string::npos) << r.out;
}

TEST_F(InfoCommands, PackageInfoReportsACorruptPackage) {
    auto cut = packageBytes;
    cut.resize(cut.size() / 2);
    test::WriteFileBytes(package, cut);
    const auto r = run(cli::RunPackageInfo, {PathToUtf8(package)});
    EXPECT_EQ(r.code, 30);
    EXPECT_NE(r.out.find("corrupt"), std::string::npos);
}

TEST(EmbeddedPackage, IsTheDemoPackageAndLoads) {
    const auto r = run(cli::RunPackageInfo, {});
    EXPECT_EQ(r.code, 0) << r.out;
    const auto demoPackage = demo::MakePackage(demo::MakeDemoDisc({}));
    ASSERT_EQ(EmbeddedPackageSize(), demoPackage.size());
    EXPECT_TRUE(std::equal(demoPackage.begin(), demoPackage.end(), EmbeddedPackageBytes()));
}

}  // namespace
}  // namespace tessaly
