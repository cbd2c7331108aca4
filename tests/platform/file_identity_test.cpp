#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

#include "platform/file_identity.h"
#include "platform/text.h"
#include "support/temp_dir.h"
#include "support/utf8_literal.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

class SameFile : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(m_dir / "sub");
        m_file = m_dir.path() / PathFromUtf8(test::Utf8(u8"镜像 文件.iso"));
        test::WriteFileBytes(m_file, test::PatternBytes(100, 1));
        m_other = m_dir / "other.iso";
        test::WriteFileBytes(m_other, test::PatternBytes(100, 1));  // same bytes, another file
    }
    test::TempDir m_dir;
    fs::path m_file;
    fs::path m_other;
};

TEST_F(SameFile, SpellingsOfOnePath) {
    EXPECT_TRUE(IsSameFile(m_file, m_file));
    EXPECT_TRUE(IsSameFile(m_file, m_dir / "." / m_file.filename()));
    EXPECT_TRUE(IsSameFile(m_file, m_dir / "sub" / ".." / m_file.filename()));
    EXPECT_TRUE(IsSameFile(m_dir.path(), m_dir / "sub" / ".."));

    // Relative to the working directory.
    const fs::path before = fs::current_path();
    fs::current_path(m_dir / "sub");
    const bool relative = IsSameFile(fs::path("..") / m_file.filename(), m_file);
    fs::current_path(before);
    EXPECT_TRUE(relative);
}

TEST_F(SameFile, DifferentOrMissingFiles) {
    EXPECT_FALSE(IsSameFile(m_file, m_other));
    EXPECT_FALSE(IsSameFile(m_file, m_dir.path()));
    const fs::path missing = m_dir / "missing.iso";
    EXPECT_FALSE(IsSameFile(missing, missing));
    EXPECT_FALSE(IsSameFile(m_file, missing));
    EXPECT_FALSE(IsSameFile(missing, m_file));

    // A file deleted and created again under the same name is the same path, not the same file
    // any more: only an existing pair is compared.
    fs::remove(m_other);
    EXPECT_FALSE(IsSameFile(m_file, m_other));
}

TEST_F(SameFile, HardLink) {
    const fs::path link = m_dir / "hard.iso";
    std::error_code error;
    fs::create_hard_link(m_file, link, error);
    if (error) GTEST_SKIP() << "no hard links here: " << error.message();
    EXPECT_TRUE(IsSameFile(m_file, link));
    EXPECT_FALSE(IsSameFile(link, m_other));
}

TEST_F(SameFile, SymbolicLink) {
    const fs::path link = m_dir / "soft.iso";
    std::error_code error;
    fs::create_symlink(m_file, link, error);
    if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
    EXPECT_TRUE(IsSameFile(m_file, link));
    EXPECT_TRUE(IsSameFile(link, link));
    // A dangling link names no file.
    const fs::path dangling = m_dir / "dangling.iso";
    fs::create_symlink(m_dir / "missing.iso", dangling, error);
    ASSERT_FALSE(error) << error.message();
    EXPECT_FALSE(IsSameFile(dangling, dangling));
}

}  // namespace
}  // namespace tessaly
