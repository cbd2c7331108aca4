#include <gtest/gtest.h>

#include <sstream>

#include "archive/archive_writer.h"
#include "archive_fixtures.h"
#include "cli/command_line.h"
#include "cli/exit_codes.h"
#include "platform/text.h"

namespace tessaly {
namespace {

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

Outcome ListArchive(std::vector<std::string> args) {
    std::ostringstream out;
    std::ostringstream err;
    const int code = cli::RunArchiveList({std::move(args), out, err});
    return {code, out.str(), err.str()};
}

// The line of a member path, split into its columns.
std::vector<std::string> Columns(const std::string& out, const std::string& path) {
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::vector<std::string> columns;
        std::string word;
        while (words >> word) columns.push_back(word);
        if (!columns.empty() && columns[0] == path) return columns;
    }
    return {};
}

TEST(ArchiveList, ListsTheTreeOfAnArchiveInsideAnImage) {
    test::TempDir dir;
    auto archive = test::StandardTree().Build();
    // Member 2/1 becomes a nested archive with a structural error, and gets a non-ASCII name.
    auto broken = WriteArchive({{"m", 0, test::PatternBytes(100, 2)}});
    test::SetU32At(broken, 24, 0xFFFF);
    const test::FixtureTree fixture = [&] {
        auto tree = test::StandardTree();
        tree.At({2, 1}) = test::FixtureTree::Leaf("r\xE9sum\xE9", broken, 0x21);
        return tree;
    }();
    archive = fixture.Build();
    auto image = test::PatternBytes(6144, 1);
    image.insert(image.end(), archive.begin(), archive.end());
    image.resize(image.size() + 4096, 0);
    const auto path = dir / std::filesystem::path(u8"镜像.iso");
    test::WriteFileBytes(path, image);
    const std::string file = PathToUtf8(path);

    const Outcome listed = ListArchive({file, "--offset", "6144", "--size", std::to_string(archive.size())});
    EXPECT_EQ(listed.code, 0) << listed.err;
    EXPECT_EQ(Columns(listed.out, "(root)"),
              (std::vector<std::string>{"(root)", "0", std::to_string(archive.size()), "archive"}));
    EXPECT_EQ(Columns(listed.out, "1"), (std::vector<std::string>{"1", "2048", "3000", "leaf", "alpha"}));
    EXPECT_EQ(Columns(listed.out, "2/2/2"), (std::vector<std::string>{"2/2/2", "8192", "6144", "archive", "deep"}));
    EXPECT_EQ(Columns(listed.out, "2/2/2/2"), (std::vector<std::string>{"2/2/2/2", "4096", "0", "leaf", "empty"}));
    EXPECT_EQ(Columns(listed.out, "2/1"),
              (std::vector<std::string>{"2/1", "2048", std::to_string(broken.size()), "invalid", "r\\xE9sum\\xE9"}));
    EXPECT_NE(listed.out.find("4 archives, 8 leaves, 1 invalid"), std::string::npos) << listed.out;

    // Hex numbers; no --size runs to the end of the file, which still holds one archive.
    const Outcome toEnd = ListArchive({file, "--offset=0x1800"});
    EXPECT_EQ(toEnd.code, 0);
    EXPECT_EQ(Columns(toEnd.out, "(root)")[2], std::to_string(archive.size() + 4096));
}

TEST(ArchiveList, RootThatDoesNotOpenExitsOne) {
    test::TempDir dir;
    auto archive = test::StandardTree().Build();
    test::SetU32At(archive, 16 + 8, 0xFFFFFF);
    test::WriteFileBytes(dir / "broken.dat", archive);
    const std::string file = PathToUtf8(dir / "broken.dat");

    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const Case cases[] = {
        {{file}, "structural error"},
        {{file, "--offset", std::to_string(archive.size() + 1)}, "past the end"},
        {{PathToUtf8(dir / "missing.dat")}, "cannot open"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        const Outcome o = ListArchive(c.args);
        EXPECT_EQ(o.code, 1);
        EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
    }

    // Bytes that are not an archive open as one valid leaf.
    test::WriteFileBytes(dir / "plain.bin", test::PatternBytes(100, 3));
    const Outcome plain = ListArchive({PathToUtf8(dir / "plain.bin")});
    EXPECT_EQ(plain.code, 0);
    EXPECT_EQ(Columns(plain.out, "(root)"), (std::vector<std::string>{"(root)", "0", "100", "leaf"}));
    EXPECT_NE(plain.out.find("not a GPDA archive"), std::string::npos);
}

TEST(ArchiveList, UsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"a", "b"},
        {"a", "--offset"},
        {"a", "--offset", "12x"},
        {"a", "--size", "4294967296"},
        {"a", "--verbose"},
    };
    for (const auto& args : cases) {
        const Outcome o = ListArchive(args);
        EXPECT_EQ(o.code, cli::kExitUsage);
        EXPECT_NE(o.err.find("usage: tessaly archive-list"), std::string::npos) << o.err;
    }
    const Outcome help = ListArchive({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("--offset"), std::string::npos);
    EXPECT_NE(help.out.find("exit codes"), std::string::npos);
}

}  // namespace
}  // namespace tessaly
