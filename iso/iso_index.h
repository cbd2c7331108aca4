#pragma once
// The ISO 9660 index of a block of a UMD image's leading bytes: every directory and file as an
// IsoFileRecord, looked up by path without touching the image again. The reader relies on the
// CD-XA system-use field of every directory record and on the type-L path table; it is not a
// general ISO 9660 reader. It never reads outside the block it is given.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace tessaly {

constexpr uint32_t kSectorBytes = 2048;

struct IsoFileRecord {
    enum Type : uint32_t { File = 1, Directory = 2 };

    uint32_t startSector = 0;
    uint32_t size = 0;
    uint32_t recordOffset = 0;  // byte offset of its directory record within the block (= within the image)
    std::string name;           // identifier bytes as stored, cut at the first zero byte
    uint32_t type = File;
    std::map<std::string, IsoFileRecord*> children;  // not owning; first record of a name wins
    IsoFileRecord* parent = nullptr;
};

struct IsoVolume {
    IsoFileRecord* root = nullptr;  // also held in bySector
    std::multimap<uint32_t, std::unique_ptr<IsoFileRecord>> bySector;  // owns every record
    uint32_t volumeSectors = 0;
    uint32_t volumeSizeOffset = 0;
    uint32_t firstFreeSector = 0;
    uint32_t directoryCount = 0;
    uint32_t fileCount = 0;
};

class IsoIndex {
public:
    static constexpr uint32_t kVolumeSizeOffset = 32848;       // sector 16, byte 80
    static constexpr uint32_t kImageIndexBytes = 512 * 1024;   // what openImage reads

    IsoIndex() = default;
    IsoIndex(const IsoIndex&) = delete;
    IsoIndex& operator=(const IsoIndex&) = delete;
    ~IsoIndex();

    // Indexes a block that starts at byte 0 of an image. Success sets volume; failure leaves the
    // index empty with errorText set (GBK bytes).
    void build(const uint8_t* bytes, size_t length);

    // Opens an image file, reads its first 512 KiB and builds the index over them.
    void openImage(const std::filesystem::path& path);

    // "/"-separated, case-sensitive; empty pieces are skipped; "/" and "" give the root.
    IsoFileRecord* find(std::string_view path) const;

    void clear();

    std::unique_ptr<IsoVolume> volume;
    std::unique_ptr<std::string> errorText;  // GBK (code page 936), as the failure texts are stored

private:
    void fail(const char* gbkText);
};

// The failure texts, GBK-encoded as stored in errorText.
namespace IsoErrors {
extern const char* const kHeaderTooSmallForSize;      // 头体积过小，未能获取ISO大小信息！
extern const char* const kVolumeTooLarge;             // ISO过大或者ISO大小信息错误！
extern const char* const kHeaderTooSmallForFolders;   // 头体积过小，未能获取文件夹信息！
extern const char* const kBadFolderOffset;            // 错误的文件夹偏移！
extern const char* const kFolderLinkedTwice;          // 文件夹不允许重链！
extern const char* const kBeyondVolume;               // 文件或文件夹超出ISO大小！
extern const char* const kNotAFolder;                 // 类型错误，应该是文件夹类型！
extern const char* const kFolderMissing;              // 文件夹信息不存在！
extern const char* const kIllegalHeader;              // 非法文件头！
extern const char* const kCannotOpenFile;             // 无法打开文件！
extern const char* const kCannotAllocate;             // 分配临时空间失败！
extern const char* const kReadFailed;                 // 读取数据时出错！
}  // namespace IsoErrors

// The UTF-8 text of a GBK error text of the index (for showing it on a UTF-8 terminal).
std::string IsoErrorTextUtf8(const std::string& gbk);

}  // namespace tessaly
