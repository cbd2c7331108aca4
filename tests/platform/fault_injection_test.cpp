#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "platform/exceptions.h"
#include "platform/fault_injection.h"
#include "platform/file.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
constexpr unsigned kRead = CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary;
constexpr unsigned kCreate = CFile::modeCreate | CFile::modeWrite | CFile::typeBinary;

class FaultInjectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_victim = m_dir / "victim.bin";
        m_bystander = m_dir / "bystander.bin";
        test::WriteFileBytes(m_victim, test::PatternBytes(100, 1));
        test::WriteFileBytes(m_bystander, test::PatternBytes(100, 2));
    }
    void TearDown() override { FaultInjection::Disarm(); }

    test::TempDir m_dir;
    fs::path m_victim;
    fs::path m_bystander;
};

// The (skip + 1)-th matching call fails, once; other files and other operations are untouched.
TEST_F(FaultInjectionTest, FailureFiresOnceAfterSkips) {
    CFile victim, bystander;
    ASSERT_TRUE(victim.Open(m_victim, kRead));
    ASSERT_TRUE(bystander.Open(m_bystander, kRead));
    uint8_t buffer[10];
    FaultInjection::ArmFailure(FileOperation::Read, "victim", 2);
    EXPECT_EQ(bystander.Read(buffer, 10), 10u);
    victim.Seek(0, CFile::begin);  // not a read: does not count
    EXPECT_EQ(victim.Read(buffer, 10), 10u);
    EXPECT_EQ(victim.Read(buffer, 10), 10u);
    try {
        victim.Read(buffer, 10);
        FAIL() << "the armed read did not fail";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::Cause::ReadFailed);
        EXPECT_NE(e.m_fileName.find("victim"), std::string::npos);
    }
    EXPECT_EQ(victim.Read(buffer, 10), 10u);  // once only
    EXPECT_EQ(victim.GetPosition(), 30u);     // the failed read moved nothing
}

TEST_F(FaultInjectionTest, EachOperationCanBeArmed) {
    uint8_t buffer[4] = {};
    const struct {
        FileOperation operation;
        CFileException::Cause cause;
    } cases[] = {
        {FileOperation::Write, CFileException::Cause::WriteFailed},
        {FileOperation::Seek, CFileException::Cause::SeekFailed},
        {FileOperation::Length, CFileException::Cause::Generic},
        {FileOperation::SetLength, CFileException::Cause::DiskFull},
        {FileOperation::Close, CFileException::Cause::CloseFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.operation));
        CFile f;
        ASSERT_TRUE(f.Open(m_dir / "out-victim.bin", kCreate));
        FaultInjection::ArmFailure(c.operation, "out-victim");
        try {
            switch (c.operation) {
                case FileOperation::Write: f.Write(buffer, 4); break;
                case FileOperation::Seek: f.Seek(1, CFile::begin); break;
                case FileOperation::Length: (void)f.GetLength(); break;
                case FileOperation::SetLength: f.SetLength(10); break;
                default: f.Close(); break;
            }
            ADD_FAILURE() << "no exception";
        } catch (const CFileException& e) {
            EXPECT_EQ(e.m_cause, c.cause);
        }
        if (c.operation == FileOperation::Close) {
            EXPECT_FALSE(f.IsOpen());  // a failed close still closes
        }
        FaultInjection::Disarm();
    }

    FaultInjection::ArmFailure(FileOperation::Open, "victim");
    CFile f;
    EXPECT_FALSE(f.Open(m_victim, kRead));
    EXPECT_TRUE(f.Open(m_victim, kRead));
}

TEST_F(FaultInjectionTest, ShortReadDeliversAtMostItsLimitOnce) {
    CFile f;
    ASSERT_TRUE(f.Open(m_victim, kRead));
    uint8_t buffer[100];
    FaultInjection::ArmShortRead("victim", 1, 7);
    EXPECT_EQ(f.Read(buffer, 20), 20u);
    EXPECT_EQ(f.Read(buffer, 20), 7u);
    EXPECT_EQ(f.GetPosition(), 27u);
    EXPECT_EQ(f.Read(buffer, 20), 20u);
}

TEST_F(FaultInjectionTest, DisarmCancelsAPlan) {
    FaultInjection::ArmFailure(FileOperation::Open, "victim");
    FaultInjection::Disarm();
    CFile f;
    EXPECT_TRUE(f.Open(m_victim, kRead));
    // A new plan replaces the old one.
    FaultInjection::ArmFailure(FileOperation::Open, "bystander");
    FaultInjection::ArmFailure(FileOperation::Open, "victim");
    CFile g;
    EXPECT_TRUE(g.Open(m_bystander, kRead));
    EXPECT_FALSE(g.Open(m_victim, kRead));
}

}  // namespace
}  // namespace tessaly
