#include "iso/iso_index.h"

// GBK bytes of the failure texts (the comments give them in UTF-8).
namespace tessaly::IsoErrors {

// 头体积过小，未能获取ISO大小信息！
const char* const kHeaderTooSmallForSize = "\xCD\xB7\xCC\xE5\xBB\xFD\xB9\xFD\xD0\xA1\xA3\xAC\xCE\xB4\xC4\xDC\xBB\xF1\xC8\xA1ISO\xB4\xF3\xD0\xA1\xD0\xC5\xCF\xA2\xA3\xA1";
// ISO过大或者ISO大小信息错误！
const char* const kVolumeTooLarge = "ISO\xB9\xFD\xB4\xF3\xBB\xF2\xD5\xDFISO\xB4\xF3\xD0\xA1\xD0\xC5\xCF\xA2\xB4\xED\xCE\xF3\xA3\xA1";
// 头体积过小，未能获取文件夹信息！
const char* const kHeaderTooSmallForFolders = "\xCD\xB7\xCC\xE5\xBB\xFD\xB9\xFD\xD0\xA1\xA3\xAC\xCE\xB4\xC4\xDC\xBB\xF1\xC8\xA1\xCE\xC4\xBC\xFE\xBC\xD0\xD0\xC5\xCF\xA2\xA3\xA1";
// 错误的文件夹偏移！
const char* const kBadFolderOffset = "\xB4\xED\xCE\xF3\xB5\xC4\xCE\xC4\xBC\xFE\xBC\xD0\xC6\xAB\xD2\xC6\xA3\xA1";
// 文件夹不允许重链！
const char* const kFolderLinkedTwice = "\xCE\xC4\xBC\xFE\xBC\xD0\xB2\xBB\xD4\xCA\xD0\xED\xD6\xD8\xC1\xB4\xA3\xA1";
// 文件或文件夹超出ISO大小！
const char* const kBeyondVolume = "\xCE\xC4\xBC\xFE\xBB\xF2\xCE\xC4\xBC\xFE\xBC\xD0\xB3\xAC\xB3\xF6ISO\xB4\xF3\xD0\xA1\xA3\xA1";
// 类型错误，应该是文件夹类型！
const char* const kNotAFolder = "\xC0\xE0\xD0\xCD\xB4\xED\xCE\xF3\xA3\xAC\xD3\xA6\xB8\xC3\xCA\xC7\xCE\xC4\xBC\xFE\xBC\xD0\xC0\xE0\xD0\xCD\xA3\xA1";
// 文件夹信息不存在！
const char* const kFolderMissing = "\xCE\xC4\xBC\xFE\xBC\xD0\xD0\xC5\xCF\xA2\xB2\xBB\xB4\xE6\xD4\xDA\xA3\xA1";
// 非法文件头！
const char* const kIllegalHeader = "\xB7\xC7\xB7\xA8\xCE\xC4\xBC\xFE\xCD\xB7\xA3\xA1";
// 无法打开文件！
const char* const kCannotOpenFile = "\xCE\xDE\xB7\xA8\xB4\xF2\xBF\xAA\xCE\xC4\xBC\xFE\xA3\xA1";
// 分配临时空间失败！
const char* const kCannotAllocate = "\xB7\xD6\xC5\xE4\xC1\xD9\xCA\xB1\xBF\xD5\xBC\xE4\xCA\xA7\xB0\xDC\xA3\xA1";
// 读取数据时出错！
const char* const kReadFailed = "\xB6\xC1\xC8\xA1\xCA\xFD\xBE\xDD\xCA\xB1\xB3\xF6\xB4\xED\xA3\xA1";

}  // namespace tessaly::IsoErrors

namespace tessaly {

std::string IsoErrorTextUtf8(const std::string& gbk) {
    static const struct { const char* gbk; const char* utf8; } kTexts[] = {
        {IsoErrors::kHeaderTooSmallForSize, "头体积过小，未能获取ISO大小信息！"},
        {IsoErrors::kVolumeTooLarge, "ISO过大或者ISO大小信息错误！"},
        {IsoErrors::kHeaderTooSmallForFolders, "头体积过小，未能获取文件夹信息！"},
        {IsoErrors::kBadFolderOffset, "错误的文件夹偏移！"},
        {IsoErrors::kFolderLinkedTwice, "文件夹不允许重链！"},
        {IsoErrors::kBeyondVolume, "文件或文件夹超出ISO大小！"},
        {IsoErrors::kNotAFolder, "类型错误，应该是文件夹类型！"},
        {IsoErrors::kFolderMissing, "文件夹信息不存在！"},
        {IsoErrors::kIllegalHeader, "非法文件头！"},
        {IsoErrors::kCannotOpenFile, "无法打开文件！"},
        {IsoErrors::kCannotAllocate, "分配临时空间失败！"},
        {IsoErrors::kReadFailed, "读取数据时出错！"},
    };
    for (const auto& text : kTexts)
        if (gbk == text.gbk) return text.utf8;
    return gbk;
}

}  // namespace tessaly
