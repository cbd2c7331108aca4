#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#include "iso/iso_index.h"
#include "iso/umd_image_writer.h"
#include "iso_test_util.h"
#include "platform/text.h"
#include "support/image_builder.h"
#include "support/package_builder.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using test::BuildExact;
using test::ErrorOf;

std::string parentPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}
std::string leafName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

size_t recordsAt(const IsoVolume& volume, uint32_t sector) { return volume.bySector.count(sector); }

// Every file of the layout is found with the writer's sector and size, linked into its parent,
// and its recordOffset is where a general ISO 9660 reader finds its directory record.
void expectFilesMatchLayout(const IsoIndex& index, const std::vector<uint8_t>& image, const UmdLayout& layout) {
    for (const UmdFile& f : layout.files) {
        SCOPED_TRACE(f.path);
        const IsoFileRecord* r = index.find(f.path);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->type, IsoFileRecord::File);
        EXPECT_EQ(r->startSector, f.startSector);
        EXPECT_EQ(r->size, f.size);
        EXPECT_EQ(r->name, leafName(f.path));
        EXPECT_EQ(r->recordOffset, test::RecordOffset(image, f.path));
        EXPECT_TRUE(r->children.empty());
        ASSERT_NE(r->parent, nullptr);
        EXPECT_EQ(r->parent, index.find(parentPath(f.path)));
        EXPECT_EQ(r->parent->children.at(r->name), r);
        bool inBySector = false;
        const auto [first, last] = index.volume->bySector.equal_range(f.startSector);
        for (auto it = first; it != last; ++it) inBySector |= it->second.get() == r;
        EXPECT_TRUE(inBySector);
    }
}

TEST(IsoIndex, IndexesTheShippedShapeHeader) {
    const test::ShippedShape shape = test::ShippedShapePackage();
    const std::vector<uint8_t>& header = shape.recipe.header;
    ASSERT_EQ(header.size(), 55296u);
    IsoIndex index;
    BuildExact(index, header);
    ASSERT_NE(index.volume, nullptr) << ErrorOf(index);
    EXPECT_EQ(index.errorText, nullptr);

    const IsoVolume& v = *index.volume;
    EXPECT_EQ(v.volumeSectors, shape.layout.volumeSectors);
    EXPECT_EQ(v.volumeSizeOffset, 32848u);
    EXPECT_EQ(v.firstFreeSector, 27u);
    EXPECT_EQ(v.directoryCount, 5u);
    EXPECT_EQ(v.fileCount, 26u);
    EXPECT_EQ(v.bySector.size(), 31u);

    // Root: 16 system sectors, PVD, terminator and four one-sector path tables come first.
    ASSERT_NE(v.root, nullptr);
    EXPECT_EQ(v.root, index.find("/"));
    EXPECT_EQ(v.root->startSector, 22u);
    EXPECT_EQ(v.root->size, 2048u);
    EXPECT_EQ(v.root->recordOffset, 22u * 2048);
    EXPECT_TRUE(v.root->name.empty());
    EXPECT_EQ(v.root->type, IsoFileRecord::Directory);
    EXPECT_EQ(v.root->parent, nullptr);
    EXPECT_EQ(recordsAt(v, 22), 1u);

    struct Dir { const char* path; uint32_t sector; size_t children; };
    const Dir dirs[] = {
        {"/PSP_GAME", 23, 9}, {"/PSP_GAME/INSDIR", 24, 1}, {"/PSP_GAME/SYSDIR", 25, 3}, {"/PSP_GAME/USRDIR", 26, 15}};
    EXPECT_EQ(v.root->children.size(), 2u);
    for (const Dir& d : dirs) {
        SCOPED_TRACE(d.path);
        const IsoFileRecord* r = index.find(d.path);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->type, IsoFileRecord::Directory);
        EXPECT_EQ(r->startSector, d.sector);
        EXPECT_EQ(r->size, 2048u);
        EXPECT_EQ(r->children.size(), d.children);
        EXPECT_EQ(r->recordOffset, test::RecordOffset(header, d.path));
        EXPECT_EQ(r->parent, index.find(parentPath(d.path)));
    }
    expectFilesMatchLayout(index, header, shape.layout);
    const IsoFileRecord* umdData = index.find("/UMD_DATA.BIN");
    ASSERT_NE(umdData, nullptr);
    EXPECT_EQ(umdData->startSector, 27u);
    EXPECT_EQ(umdData->size, 48u);
}

// Directories of several sectors are walked over their whole data length (records never cross a
// sector, so each sector's zero tail is skipped), and firstFreeSector counts the last one's sectors.
TEST(IsoIndex, WalksDirectoriesOfSeveralSectors) {
    test::ImageSpec recipe;
    for (int i = 0; i < 90; ++i) recipe.files.push_back({"/ALPHA/A" + std::to_string(i) + ".BIN", test::PatternBytes(10, i), {}});
    for (int i = 0; i < 100; ++i) recipe.files.push_back({"/ZULU/LONGER_NAME_" + std::to_string(i) + ".DAT", {}, {}});
    recipe.files.push_back({"/TOP.BIN", test::PatternBytes(3000, 7), {}});
    const test::BuiltImage image = test::BuildImage(recipe);
    const std::vector<uint8_t> header(image.bytes.begin(), image.bytes.begin() + image.headerSectors * 2048);

    IsoIndex index;
    BuildExact(index, header);
    ASSERT_NE(index.volume, nullptr) << ErrorOf(index);
    const IsoFileRecord* alpha = index.find("/ALPHA");
    const IsoFileRecord* zulu = index.find("/ZULU");
    ASSERT_NE(alpha, nullptr);
    ASSERT_NE(zulu, nullptr);
    ASSERT_GE(alpha->size, 2u * 2048);
    ASSERT_GE(zulu->size, 3u * 2048);
    ASSERT_GT(zulu->startSector, alpha->startSector);
    EXPECT_EQ(alpha->children.size(), 90u);
    EXPECT_EQ(zulu->children.size(), 100u);
    EXPECT_EQ(index.volume->fileCount, 191u);
    EXPECT_EQ(index.volume->directoryCount, 3u);
    EXPECT_EQ(index.volume->firstFreeSector, zulu->startSector + zulu->size / 2048);
    EXPECT_EQ(index.volume->firstFreeSector, image.headerSectors);
    expectFilesMatchLayout(index, header, image.layout);

    // The same directory indexes the same from the whole image (a block longer than the header).
    IsoIndex whole;
    BuildExact(whole, image.bytes);
    ASSERT_NE(whole.volume, nullptr) << ErrorOf(whole);
    EXPECT_EQ(whole.volume->firstFreeSector, image.headerSectors);
    EXPECT_EQ(whole.volume->bySector.size(), index.volume->bySector.size());

    // A last path-table directory without a "." record (a blank sector after ZULU) is walked for
    // one sector, however long the directory before it was.
    std::vector<uint8_t> blankLast = header;
    blankLast.resize(blankLast.size() + 2048, 0);
    const size_t afterTable = test::PathTableRecordOffset(blankLast, 2) + 8 + 4;
    blankLast[afterTable] = 1;
    test::PutLe32(blankLast, afterTable + 2, image.headerSectors);
    blankLast[afterTable + 8] = 'Q';
    IsoIndex blank;
    BuildExact(blank, blankLast);
    ASSERT_NE(blank.volume, nullptr) << ErrorOf(blank);
    EXPECT_EQ(blank.volume->firstFreeSector, image.headerSectors + 1);
}

TEST(IsoIndex, FindAcceptsEveryPathForm) {
    const test::ShippedShape shape = test::ShippedShapePackage();
    IsoIndex index;
    BuildExact(index, shape.recipe.header);
    ASSERT_NE(index.volume, nullptr) << ErrorOf(index);
    const IsoFileRecord* eboot = index.find("/PSP_GAME/SYSDIR/EBOOT.BIN");
    const IsoFileRecord* umdData = index.find("/UMD_DATA.BIN");
    const IsoFileRecord* game = index.find("/PSP_GAME");
    const IsoFileRecord* fonts = index.find("/PSP_GAME/USRDIR/fonts.pgf");
    const IsoFileRecord* root = index.volume->root;
    ASSERT_NE(eboot, nullptr);
    ASSERT_NE(umdData, nullptr);
    ASSERT_NE(game, nullptr);
    ASSERT_NE(fonts, nullptr);
    EXPECT_EQ(eboot->name, "EBOOT.BIN");
    EXPECT_EQ(game->type, IsoFileRecord::Directory);

    struct Case { std::string_view path; const IsoFileRecord* expected; };
    const Case cases[] = {
        {"PSP_GAME/SYSDIR/EBOOT.BIN", eboot},
        {"/PSP_GAME//SYSDIR/EBOOT.BIN", eboot},
        {"//PSP_GAME/SYSDIR//EBOOT.BIN", eboot},
        {"/PSP_GAME/SYSDIR/EBOOT.BIN/", eboot},
        {"/PSP_GAME/SYSDIR/EBOOT.BIN//", eboot},
        {"/psp_game/sysdir/eboot.bin", nullptr},
        {"/PSP_GAME/SYSDIR/EBOOT.bin", nullptr},
        {"/PSP_GAME/SYSDIR/EBOOT.BIN;1", nullptr},
        {"/PSP_GAME/SYSDIR/EBOOT", nullptr},
        {"/PSP_GAME/SYSDIR/EBOOT.BIN ", nullptr},
        {std::string_view("/UMD_DATA.BIN\0", 14), nullptr},
        {"/PSP_GAME/USRDIR/FONTS.PGF", nullptr},
        {"/PSP_GAME/USRDIR/fonts.pgf", fonts},
        {"/USRDIR/fonts.pgf", nullptr},
        {"/PSP_GAME", game},
        {"/PSP_GAME/", game},
        {"PSP_GAME", game},
        {"/PSP_GAME/./SYSDIR", nullptr},
        {"/PSP_GAME/../UMD_DATA.BIN", nullptr},
        {"/UMD_DATA.BIN/", umdData},
        {"/UMD_DATA.BIN/x", nullptr},
        {"/PSP_GAME/SYSDIR/EBOOT.BIN/EBOOT.BIN", nullptr},
        {"/", root},
        {"", root},
        {"///", root},
    };
    for (const Case& c : cases) EXPECT_EQ(index.find(c.path), c.expected) << '"' << c.path << '"';
}

TEST(IsoIndex, FindOnAnEmptyIndexReturnsNull) {
    IsoIndex never;
    EXPECT_EQ(never.find("/"), nullptr);
    EXPECT_EQ(never.find("/UMD_DATA.BIN"), nullptr);

    IsoIndex failed;
    BuildExact(failed, std::vector<uint8_t>(100));
    ASSERT_EQ(failed.volume, nullptr);
    EXPECT_EQ(failed.find(""), nullptr);
}

TEST(IsoIndex, NamesKeepTheirVersionSuffix) {
    test::ImageSpec recipe;
    recipe.files = {{"/README.TXT;1", test::PatternBytes(10, 1), {}}, {"/DATA.BIN", test::PatternBytes(10, 2), {}}};
    const test::BuiltImage image = test::BuildImage(recipe);
    IsoIndex index;
    BuildExact(index, image.bytes);
    ASSERT_NE(index.volume, nullptr) << ErrorOf(index);
    const IsoFileRecord* readme = index.find("/README.TXT;1");
    ASSERT_NE(readme, nullptr);
    EXPECT_EQ(readme->name, "README.TXT;1");
    EXPECT_EQ(index.find("/README.TXT"), nullptr);
    EXPECT_NE(index.find("/DATA.BIN"), nullptr);
}

TEST(IsoIndex, RecordsSharingAStartSectorAreAllKept) {
    test::ImageSpec recipe;
    recipe.files = {{"/EMPTY1.BIN", {}, {}}, {"/EMPTY2.BIN", {}, {}}, {"/FULL.BIN", test::PatternBytes(100, 3), {}},
                  {"/ALIAS.BIN", test::PatternBytes(100, 3), {}}};
    test::BuiltImage image = test::BuildImage(recipe);
    // ALIAS.BIN shares FULL.BIN's extent.
    const uint32_t fullSector = image.file("/FULL.BIN").startSector;
    test::SetRecordExtent(image.bytes, test::RecordOffset(image.bytes, "/ALIAS.BIN"), fullSector);

    IsoIndex index;
    BuildExact(index, image.bytes);
    ASSERT_NE(index.volume, nullptr) << ErrorOf(index);
    const IsoFileRecord* e1 = index.find("/EMPTY1.BIN");
    const IsoFileRecord* e2 = index.find("/EMPTY2.BIN");
    ASSERT_NE(e1, nullptr);
    ASSERT_NE(e2, nullptr);
    EXPECT_NE(e1, e2);
    EXPECT_EQ(e1->startSector, e2->startSector);
    EXPECT_EQ(recordsAt(*index.volume, e1->startSector), 2u + (e1->startSector == fullSector ? 2u : 0u));
    EXPECT_EQ(index.find("/ALIAS.BIN")->startSector, fullSector);
    EXPECT_EQ(index.volume->fileCount, 4u);
    EXPECT_EQ(index.volume->bySector.size(), 5u);
    index.clear();  // every record freed once (AddressSanitizer reports a double free or a leak)
    EXPECT_EQ(index.volume, nullptr);
}

TEST(IsoIndex, FirstRecordOfADuplicateNameWins) {
    test::ImageSpec recipe;
    recipe.files = {{"/AAAA.BIN", test::PatternBytes(10, 1), {}}, {"/BBBB.BIN", test::PatternBytes(20, 2), {}}};
    test::BuiltImage image = test::BuildImage(recipe);
    const size_t first = test::RecordOffset(image.bytes, "/AAAA.BIN");
    const size_t second = test::RecordOffset(image.bytes, "/BBBB.BIN");
    ASSERT_LT(first, second);
    for (size_t i = 0; i < 4; ++i) image.bytes[second + 33 + i] = 'A';

    IsoIndex index;
    BuildExact(index, image.bytes);
    ASSERT_NE(index.volume, nullptr) << ErrorOf(index);
    const IsoFileRecord* found = index.find("/AAAA.BIN");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->recordOffset, first);
    EXPECT_EQ(found->size, 10u);
    EXPECT_EQ(index.volume->root->children.size(), 1u);
    EXPECT_EQ(index.volume->fileCount, 2u);  // both made, both owned
    EXPECT_EQ(index.volume->bySector.size(), 3u);
}

// A directory moved to a higher sector is still indexed (it stays after its parent) and moves
// firstFreeSector with it.
TEST(IsoIndex, DirectoryAfterItsParentAtAnyHigherSector) {
    const test::ShippedShape shape = test::ShippedShapePackage();
    std::vector<uint8_t> header = shape.recipe.header;
    test::MoveDirectory(header, "/PSP_GAME/INSDIR", 40);
    IsoIndex index;
    BuildExact(index, header);
    ASSERT_NE(index.volume, nullptr) << ErrorOf(index);
    EXPECT_EQ(index.find("/PSP_GAME/INSDIR")->startSector, 40u);
    EXPECT_NE(index.find("/PSP_GAME/INSDIR/RES.DAT"), nullptr);
    EXPECT_EQ(index.volume->firstFreeSector, 41u);
    EXPECT_EQ(index.volume->directoryCount, 5u);
}

TEST(IsoIndex, FailureEmptiesTheIndexAndClearKeepsTheText) {
    const test::ShippedShape shape = test::ShippedShapePackage();
    IsoIndex index;
    EXPECT_EQ(index.volume, nullptr);
    EXPECT_EQ(index.errorText, nullptr);

    BuildExact(index, shape.recipe.header, 32851);
    EXPECT_EQ(index.volume, nullptr);
    ASSERT_NE(index.errorText, nullptr);
    EXPECT_EQ(*index.errorText, IsoErrors::kHeaderTooSmallForSize);
    index.clear();
    ASSERT_NE(index.errorText, nullptr);
    EXPECT_EQ(*index.errorText, IsoErrors::kHeaderTooSmallForSize);

    // A later failure replaces the text; a later success builds on the same object.
    std::vector<uint8_t> tooLarge = shape.recipe.header;
    test::SetVolumeSectors(tooLarge, 1u << 21);
    BuildExact(index, tooLarge);
    ASSERT_NE(index.errorText, nullptr);
    EXPECT_EQ(*index.errorText, IsoErrors::kVolumeTooLarge);
    BuildExact(index, shape.recipe.header);
    ASSERT_NE(index.volume, nullptr);
    EXPECT_EQ(index.volume->fileCount, 26u);
    index.clear();
    EXPECT_EQ(index.volume, nullptr);
    EXPECT_EQ(index.find("/UMD_DATA.BIN"), nullptr);
}

// The texts decoded from code page 936 by the platform's own converter, not by our table.
std::string decodeGbk(const std::string& gbk) {
#ifdef _WIN32
    const int n = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gbk.data(), static_cast<int>(gbk.size()), nullptr, 0);
    if (n <= 0) return "(not GBK)";
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gbk.data(), static_cast<int>(gbk.size()), wide.data(), n);
    return Utf8FromWide(wide);
#else
    iconv_t cd = iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1)) return "(no GBK converter)";
    std::string in = gbk;
    std::string out(in.size() * 3, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    size_t inLeft = in.size(), outLeft = out.size();
    const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) return "(not GBK)";
    out.resize(out.size() - outLeft);
    return out;
#endif
}

TEST(IsoIndex, ErrorTextsAreGbkEncoded) {
    struct Case { const char* gbk; const char* utf8; };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        EXPECT_EQ(decodeGbk(c.gbk), c.utf8);
        EXPECT_EQ(IsoErrorTextUtf8(c.gbk), c.utf8);
    }
}

}  // namespace
}  // namespace tessaly
