#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "platform/file.h"
#include "platform/text.h"
#include "support/temp_dir.h"
#include "support/utf8_literal.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
constexpr unsigned kRead = CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary;
constexpr unsigned kCreate = CFile::modeCreate | CFile::modeWrite | CFile::typeBinary;
constexpr unsigned kWriteExisting = CFile::modeWrite | CFile::typeBinary;

std::vector<uint8_t> readAll(CFile& file) {
    std::vector<uint8_t> out(static_cast<size_t>(file.GetLength()));
    file.SeekToBegin();
    EXPECT_EQ(file.Read(out.data(), static_cast<uint32_t>(out.size())), out.size());
    return out;
}

class FileTest : public ::testing::Test {
protected:
    fs::path withBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
        const fs::path path = m_dir / name;
        test::WriteFileBytes(path, bytes);
        return path;
    }
    test::TempDir m_dir;
};

TEST_F(FileTest, WritesAndReadsBackEveryByte) {
    const std::vector<uint8_t> data = test::PatternBytes(100000, 1);
    const fs::path path = m_dir / "data.bin";
    CFile out;
    ASSERT_TRUE(out.Open(path, kCreate));
    EXPECT_TRUE(out.IsOpen());
    out.Write(data.data(), 60000);
    EXPECT_EQ(out.GetPosition(), 60000u);
    out.Write(data.data() + 60000, 40000);
    EXPECT_EQ(out.GetLength(), data.size());
    out.Close();
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(test::ReadFileBytes(path), data);

    CFile in;
    ASSERT_TRUE(in.Open(path, kRead));
    EXPECT_EQ(in.GetLength(), data.size());
    EXPECT_EQ(readAll(in), data);
}

// A read reports how many bytes arrived: fewer at the end of the file, none past it.
TEST_F(FileTest, ReadsReportTheBytesThatArrived) {
    const std::vector<uint8_t> data = test::PatternBytes(1000, 2);
    CFile in;
    ASSERT_TRUE(in.Open(withBytes("short.bin", data), kRead));
    std::vector<uint8_t> buffer(4096, 0xEE);
    in.Seek(960, CFile::begin);
    EXPECT_EQ(in.Read(buffer.data(), 100), 40u);
    EXPECT_EQ(std::memcmp(buffer.data(), data.data() + 960, 40), 0);
    EXPECT_EQ(buffer[40], 0xEE);  // nothing written beyond what arrived
    EXPECT_EQ(in.GetPosition(), 1000u);
    EXPECT_EQ(in.Read(buffer.data(), 100), 0u);
    in.Seek(5000, CFile::begin);  // past the end: allowed, reads nothing
    EXPECT_EQ(in.Read(buffer.data(), 10), 0u);
    EXPECT_EQ(in.Read(buffer.data(), 0), 0u);

    CFile empty;
    ASSERT_TRUE(empty.Open(withBytes("empty.bin", {}), kRead));
    EXPECT_EQ(empty.GetLength(), 0u);
    EXPECT_EQ(empty.Read(buffer.data(), static_cast<uint32_t>(buffer.size())), 0u);
}

TEST_F(FileTest, SeekFromEachOrigin) {
    CFile f;
    ASSERT_TRUE(f.Open(withBytes("seek.bin", test::PatternBytes(500, 3)), kRead));
    EXPECT_EQ(f.Seek(100, CFile::begin), 100u);
    EXPECT_EQ(f.Seek(-40, CFile::current), 60u);
    EXPECT_EQ(f.Seek(-1, CFile::end), 499u);
    EXPECT_EQ(f.Seek(10, CFile::end), 510u);
    EXPECT_EQ(f.GetPosition(), 510u);
    try {
        f.Seek(-1, CFile::begin);
        FAIL() << "a negative position was accepted";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::Cause::SeekFailed);
    }
    EXPECT_EQ(f.GetPosition(), 510u);  // unchanged by the failed seek
    EXPECT_THROW(f.Seek(-511, CFile::current), CFileException);
}

TEST_F(FileTest, WritingPastTheEndFillsTheGapWithZeros) {
    const fs::path path = m_dir / "gap.bin";
    CFile f;
    ASSERT_TRUE(f.Open(path, kCreate));
    f.Seek(10, CFile::begin);
    const uint8_t marker[3] = {1, 2, 3};
    f.Write(marker, 3);
    f.Close();
    EXPECT_EQ(test::ReadFileBytes(path), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3}));
}

TEST_F(FileTest, SetLengthGrowsWithZerosAndShrinks) {
    const fs::path path = withBytes("length.bin", {9, 9, 9, 9});
    CFile f;
    ASSERT_TRUE(f.Open(path, kWriteExisting));
    f.SetLength(3 * 1024 * 1024 + 5);
    EXPECT_EQ(f.GetLength(), 3u * 1024 * 1024 + 5);
    f.SetLength(2);
    EXPECT_EQ(f.GetLength(), 2u);
    f.SetLength(6);
    f.Close();
    EXPECT_EQ(test::ReadFileBytes(path), (std::vector<uint8_t>{9, 9, 0, 0, 0, 0}));
    ASSERT_TRUE(f.Open(path, kWriteExisting));
    f.SetLength(0);
    EXPECT_EQ(f.GetLength(), 0u);
}

TEST_F(FileTest, OpenModes) {
    const fs::path existing = withBytes("existing.bin", {1, 2, 3, 4, 5});
    CFile f;
    // Writing without create keeps the contents and writes over them.
    ASSERT_TRUE(f.Open(existing, kWriteExisting));
    const uint8_t seven = 7;
    f.Write(&seven, 1);
    f.Close();
    EXPECT_EQ(test::ReadFileBytes(existing), (std::vector<uint8_t>{7, 2, 3, 4, 5}));
    // Create truncates.
    ASSERT_TRUE(f.Open(existing, kCreate));
    EXPECT_EQ(f.GetLength(), 0u);
    f.Close();
    // Opening fails for what is missing or no file, without throwing.
    EXPECT_FALSE(f.Open(m_dir / "missing.bin", kRead));
    EXPECT_FALSE(f.Open(m_dir / "missing.bin", kWriteExisting));
    EXPECT_FALSE(fs::exists(m_dir / "missing.bin"));
    EXPECT_FALSE(f.Open(m_dir.path(), kRead));
    EXPECT_FALSE(f.Open(m_dir / "no-such-folder" / "new.bin", kCreate));
    EXPECT_FALSE(f.IsOpen());
    // A second Open on an open object closes the first file.
    CFile g;
    ASSERT_TRUE(g.Open(existing, kRead));
    ASSERT_TRUE(g.Open(withBytes("other.bin", {1, 2}), kRead));
    EXPECT_EQ(g.GetLength(), 2u);
}

TEST_F(FileTest, OperationsOnAClosedFileThrow) {
    CFile never;
    CFile closed;
    ASSERT_TRUE(closed.Open(withBytes("closed.bin", {1, 2, 3}), kRead));
    closed.Close();
    closed.Close();  // closing again does nothing
    closed.Abort();
    uint8_t buffer[4] = {};
    const std::pair<const char*, std::function<void(CFile&)>> operations[] = {
        {"GetLength", [](CFile& f) { (void)f.GetLength(); }},
        {"GetPosition", [](CFile& f) { (void)f.GetPosition(); }},
        {"Seek", [](CFile& f) { f.Seek(0, CFile::begin); }},
        {"Read", [&](CFile& f) { (void)f.Read(buffer, 4); }},
        {"Write", [&](CFile& f) { f.Write(buffer, 4); }},
        {"SetLength", [](CFile& f) { f.SetLength(0); }},
    };
    for (CFile* f : {&never, &closed}) {
        for (const auto& [name, operation] : operations) {
            SCOPED_TRACE(name);
            try {
                operation(*f);
                ADD_FAILURE() << "no exception";
            } catch (const CFileException& e) {
                EXPECT_EQ(e.m_cause, CFileException::Cause::NotOpen);
            }
        }
    }
}

// A failure carries its cause, the OS error and the file's name (also in what()).
TEST_F(FileTest, ExceptionsNameTheFileAndTheOsError) {
    const std::string name = test::Utf8(u8"只读 文件.bin");
    CFile f;
    ASSERT_TRUE(f.Open(m_dir.path() / PathFromUtf8(name), kCreate));
    f.Close();
    ASSERT_TRUE(f.Open(m_dir.path() / PathFromUtf8(name), kRead));
    EXPECT_NE(f.FileName().find(name), std::string::npos);
    const uint8_t byte = 1;
    try {
        f.Write(&byte, 1);
        FAIL() << "a read-only file accepted a write";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::Cause::WriteFailed);
        EXPECT_NE(e.m_osError, 0);
        EXPECT_NE(e.m_fileName.find(name), std::string::npos);
        EXPECT_NE(std::string(e.what()).find(name), std::string::npos);
        const CException& base = e;  // caught as the framework's base class too
        EXPECT_STREQ(base.what(), e.what());
    }
}

TEST_F(FileTest, ChineseFileNameWithSpace) {
    const std::string name = test::Utf8(u8"镜像 文件.iso");
    const fs::path path = m_dir.path() / PathFromUtf8(name);
    const std::vector<uint8_t> data = test::PatternBytes(3000, 4);
    CFile out;
    ASSERT_TRUE(out.Open(path, kCreate));
    out.Write(data.data(), static_cast<uint32_t>(data.size()));
    out.Close();

    // The directory holds exactly that name, in UTF-8 when converted back.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_dir.path())) names.push_back(PathToUtf8(entry.path().filename()));
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], name);

    CFile in;
    ASSERT_TRUE(in.Open(path, kRead));
    EXPECT_EQ(readAll(in), data);
    EXPECT_EQ(PathToUtf8(path.filename()), name);
}

// Readers allow other readers and writers; a writer allows readers. Each side sees the other's
// bytes at once.
TEST_F(FileTest, ReadersAndAWriterShareAFile) {
    const fs::path path = withBytes("shared.bin", {1, 2, 3, 4});
    CFile reader;
    ASSERT_TRUE(reader.Open(path, kRead));
    CFile secondReader;
    ASSERT_TRUE(secondReader.Open(path, kRead));
    CFile writer;
    ASSERT_TRUE(writer.Open(path, kWriteExisting)) << "an open reader blocked a writer";
    const uint8_t nine = 9;
    writer.Write(&nine, 1);
    uint8_t got = 0;
    EXPECT_EQ(reader.Read(&got, 1), 1u);
    EXPECT_EQ(got, 9);

    CFile lateReader;
    ASSERT_TRUE(lateReader.Open(path, kRead)) << "an open writer blocked a reader";
    EXPECT_EQ(lateReader.GetLength(), 4u);

    reader.Close();
    secondReader.Close();
    lateReader.Close();
    writer.Close();
    CFile creator;
    ASSERT_TRUE(reader.Open(path, kRead));
    ASSERT_TRUE(creator.Open(path, kCreate)) << "an open reader blocked creating the file anew";
    EXPECT_EQ(reader.GetLength(), 0u);
}

// Positions past 4 GiB in a sparse file, where the file system allows them.
TEST_F(FileTest, PositionsBeyondFourGiB) {
    constexpr uint64_t kFar = 4ull * 1024 * 1024 * 1024 + 512 * 1024 * 1024 + 3;
    const fs::path path = m_dir / "sparse.bin";
    const char marker[] = "far away";
    {
        CFile out;
        ASSERT_TRUE(out.Open(path, kCreate));
        out.Seek(static_cast<int64_t>(kFar), CFile::begin);
        try {
            out.Write(marker, sizeof marker);
        } catch (const CFileException& e) {
            GTEST_SKIP() << "the file system refuses a 4.5 GiB sparse file: " << e.what();
        }
        EXPECT_EQ(out.GetPosition(), kFar + sizeof marker);
        EXPECT_EQ(out.GetLength(), kFar + sizeof marker);
        EXPECT_EQ(out.Seek(0, CFile::end), kFar + sizeof marker);
    }
    CFile in;
    ASSERT_TRUE(in.Open(path, kRead));
    EXPECT_EQ(in.GetLength(), kFar + sizeof marker);
    char back[sizeof marker] = {};
    in.Seek(static_cast<int64_t>(kFar), CFile::begin);
    EXPECT_EQ(in.Read(back, sizeof back), sizeof back);
    EXPECT_STREQ(back, marker);
    // Just below 4 GiB and across it: the hole reads as zeros.
    std::vector<uint8_t> hole(64, 0xEE);
    in.Seek(static_cast<int64_t>(4ull * 1024 * 1024 * 1024 - 32), CFile::begin);
    EXPECT_EQ(in.Read(hole.data(), 64), 64u);
    EXPECT_EQ(hole, std::vector<uint8_t>(64, 0));
    EXPECT_EQ(in.Seek(-1, CFile::end), kFar + sizeof marker - 1);
    in.Close();
    fs::remove(path);
}

}  // namespace
}  // namespace tessaly
