// The program's resources as the system sees them: the texts, dialog 102, the picture (and that
// its link areas are drawn exactly where the hot spots are), the icon, the version block, the
// manifest and the embedded package. The test program links the same compiled resources as
// Tessaly.exe.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "package/patch_package.h"
#include "platform/win32/image.h"
#include "ui/hot_spot.h"
#include "ui/message_catalogue.h"
#include "ui/shell_seams.h"
#include "ui/tessaly_dlg.h"

namespace tessaly {
namespace {

// The texts as the program must show them, written here independently of the list they are
// generated from, so a wrong encoding or a changed text cannot pass.
const struct {
    int id;
    const wchar_t* text;
} kExpectedTexts[] = {
    {133, L"《Quillmoor 2》DISC1 - 汉化补丁"},
    {134, L"TarnelP2_DISC1_cn%s%s.iso"},
    {135, L"提示"},
    {136, L"错误"},
    {137, L"询问"},
    {138, L"补丁已损坏，退出！"},
    {139, L"读取资源文件出错，可能是补丁已损坏！"},
    {140, L"iso"},
    {141, L"VoskP2DISC1汉化镜像|*.iso||"},
    {142, L"选择VoskP2DISC1汉化镜像路径..."},
    {143, L"请选择与原版镜像不同的路径！"},
    {144, L"磁盘空间不足，请选择其他分区！"},
    {145, L"错误的镜像文件！"},
    {146, L"这是《Quillmoor 2》DISC2的镜像！\n\n请拖放DISC1的镜像。"},
    {147, L"这是前作《Quillmoor》的镜像！\n\n请拖放《Quillmoor 2》DISC1的镜像。"},
    {148, L"这是前作特典《Quillmoor EX》的镜像！\n\n请拖放《Quillmoor 2》DISC1的镜像。"},
    {149, L"打开原版镜像时出错！"},
    {150, L"创建新ISO时出错！"},
    {151, L"从原版镜像中查找文件时出错！"},
    {152, L"读写出错，未能生成新ISO！"},
    {153, L"发送未知错误，未能生成新ISO！"},
    {154, L"已成功生成新ISO，无任何异常！"},
    {155, L"已生成新ISO，但部份文件未能通过校验，生成的新ISO可能不可用！\n建议更换原版ISO后重试。"},
    {156, L"已完成 - %2.1f%%"},
    {157, L"已完成 - 100%"},
    {158, L"正在生成新镜像，中断并退出？"},
    {159, L"请将原版ISO拖放至上方的图片中"},
    {160, L"请选择汉化版镜像的路径..."},
    {161, L"正在生成汉化版镜像..."},
    {162, L"已生成新ISO，无任何异常"},
    {163, L"已生成新ISO"},
    {164, L"取消了应用补丁"},
    {165, L"生成ISO时出错！"},
};

TEST(Resources, StringTableHoldsEveryTextExactly) {
    HMODULE module = ::GetModuleHandleW(nullptr);
    int id = 133;
    for (const auto& expected : kExpectedTexts) {
        ASSERT_EQ(expected.id, id++);
        wchar_t text[512] = {};
        const int length = ::LoadStringW(module, static_cast<UINT>(expected.id), text, 512);
        EXPECT_EQ(std::wstring(text, static_cast<size_t>(length)), expected.text) << "message " << expected.id;
        EXPECT_EQ(std::wstring(MessageCatalogue::Load(expected.id)), expected.text) << "message " << expected.id;
    }
    wchar_t none[16] = {};
    EXPECT_EQ(::LoadStringW(module, 132, none, 16), 0);
    EXPECT_EQ(::LoadStringW(module, 166, none, 16), 0);
}

// A DLGTEMPLATEEX read field by field.
class TemplateReader {
public:
    explicit TemplateReader(const uint8_t* p) : m_p(p), m_start(p) {}
    uint8_t Byte() { return Read<uint8_t>(); }
    uint16_t Word() { return Read<uint16_t>(); }
    uint32_t Dword() { return Read<uint32_t>(); }
    int16_t Short() { return Read<int16_t>(); }
    // A name or ordinal: 0xFFFF then the ordinal, or a terminated wide text.
    std::wstring Text() {
        std::wstring text;
        if (Peek() == 0xFFFF) {
            Word();
            return L"#" + std::to_wstring(Word());
        }
        for (uint16_t c = Word(); c != 0; c = Word()) text += static_cast<wchar_t>(c);
        return text;
    }
    void AlignDword() { m_p = m_start + ((m_p - m_start + 3) & ~static_cast<ptrdiff_t>(3)); }
    void Skip(size_t bytes) { m_p += bytes; }

private:
    uint16_t Peek() const {
        uint16_t v;
        std::memcpy(&v, m_p, 2);
        return v;
    }
    template <class T>
    T Read() {
        T v;
        std::memcpy(&v, m_p, sizeof(T));
        m_p += sizeof(T);
        return v;
    }
    const uint8_t* m_p;
    const uint8_t* m_start;
};

// Class names compare without case; a standard class may also be stored by its ordinal.
std::wstring ClassName(std::wstring name) {
    if (name == L"#130") return L"STATIC";
    for (wchar_t& c : name) c = static_cast<wchar_t>(towupper(c));
    return name;
}

struct TemplateItem {
    DWORD exStyle, style;
    int16_t x, y, cx, cy;
    DWORD id;
    std::wstring className, text;
};

TEST(Resources, Dialog102IsLaidOutAsDesigned) {
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(102), MAKEINTRESOURCEW(5));  // RT_DIALOG
    ASSERT_NE(resource, nullptr);
    TemplateReader in(static_cast<const uint8_t*>(::LockResource(::LoadResource(module, resource))));
    ASSERT_EQ(in.Word(), 1);       // dlgVer
    ASSERT_EQ(in.Word(), 0xFFFF);  // signature: extended template
    in.Dword();                    // help ID
    EXPECT_EQ(in.Dword(), static_cast<DWORD>(WS_EX_APPWINDOW));
    EXPECT_EQ(in.Dword(), static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                                              DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS));
    const uint16_t items = in.Word();
    EXPECT_EQ(in.Short(), 0);
    EXPECT_EQ(in.Short(), 0);
    EXPECT_EQ(in.Short(), 430);
    EXPECT_EQ(in.Short(), 284);
    EXPECT_EQ(in.Text(), L"");  // no menu
    EXPECT_EQ(in.Text(), L"");  // the standard dialog class
    in.Text();                  // caption, replaced at start-up
    EXPECT_EQ(in.Word(), 9);    // points
    in.Word();                  // weight
    in.Byte();                  // italic
    EXPECT_EQ(in.Byte(), 1);    // character set
    EXPECT_EQ(in.Text(), L"MS Shell Dlg");

    ASSERT_EQ(items, 3);
    std::vector<TemplateItem> controls;
    for (int i = 0; i < items; ++i) {
        in.AlignDword();
        TemplateItem item{};
        in.Dword();  // help ID
        item.exStyle = in.Dword();
        item.style = in.Dword();
        item.x = in.Short();
        item.y = in.Short();
        item.cx = in.Short();
        item.cy = in.Short();
        item.id = in.Dword();
        item.className = ClassName(in.Text());
        item.text = in.Text();
        in.Skip(in.Word());  // creation data
        controls.push_back(item);
    }
    const TemplateItem& bar = controls[0];
    EXPECT_EQ(bar.id, 1000u);
    EXPECT_EQ(bar.className, L"MSCTLS_PROGRESS32");
    EXPECT_EQ(bar.style, static_cast<DWORD>(WS_CHILD | WS_VISIBLE | WS_BORDER));
    EXPECT_EQ(bar.exStyle, 0u);
    EXPECT_EQ((std::vector<int>{bar.x, bar.y, bar.cx, bar.cy}), (std::vector<int>{14, 243, 227, 10}));

    const DWORD staticStyle = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT | SS_REALSIZECONTROL;
    const TemplateItem& status = controls[1];
    EXPECT_EQ(status.id, 1001u);
    EXPECT_EQ(status.className, L"STATIC");
    EXPECT_EQ(status.style, staticStyle);
    EXPECT_EQ(status.exStyle, static_cast<DWORD>(WS_EX_TRANSPARENT));
    EXPECT_EQ((std::vector<int>{status.x, status.y, status.cx, status.cy}), (std::vector<int>{5, 274, 240, 8}));
    EXPECT_EQ(status.text, L"请将原版ISO拖放至上方的图片中");

    const TemplateItem& version = controls[2];
    EXPECT_EQ(version.id, 1002u);
    EXPECT_EQ(version.className, L"STATIC");
    EXPECT_EQ(version.style, staticStyle);
    EXPECT_EQ(version.exStyle, static_cast<DWORD>(WS_EX_TRANSPARENT | WS_EX_RIGHT));
    EXPECT_EQ((std::vector<int>{version.x, version.y, version.cx, version.cy}), (std::vector<int>{365, 275, 61, 8}));
}

uint32_t BigEndian32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

TEST(Resources, PictureIsAn8BitRgbPngOf750By477) {
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(129), L"PNG");
    ASSERT_NE(resource, nullptr);
    const auto* png = static_cast<const uint8_t*>(::LockResource(::LoadResource(module, resource)));
    ASSERT_GE(::SizeofResource(module, resource), 33u);
    EXPECT_EQ(std::memcmp(png, "\x89PNG\r\n\x1a\n", 8), 0);
    EXPECT_EQ(std::memcmp(png + 12, "IHDR", 4), 0);
    EXPECT_EQ(BigEndian32(png + 16), 750u);
    EXPECT_EQ(BigEndian32(png + 20), 477u);
    EXPECT_EQ(png[24], 8);  // bits per channel
    EXPECT_EQ(png[25], 2);  // RGB, no alpha
}

TEST(Resources, PictureDecodesAndShowsTheLinkAreasExactlyWhereTheHotSpotsAre) {
    CImage image;
    ASSERT_TRUE(LoadBackgroundImage(&image));
    ASSERT_FALSE(image.IsNull());
    ASSERT_EQ(image.GetWidth(), 750);
    ASSERT_EQ(image.GetHeight(), 477);

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = 750;
    info.bmiHeader.biHeight = -477;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> pixels(750 * 477);
    HDC screen = ::GetDC(nullptr);
    ASSERT_EQ(::GetDIBits(screen, image.GetBitmap(), 0, 477, pixels.data(), &info, DIB_RGB_COLORS), 477);
    ::ReleaseDC(nullptr, screen);

    // The artwork's link colours (0xRRGGBB).
    const uint32_t colour[2] = {0xE76F51, 0x2A9D8F};
    int mismatches[2] = {0, 0};
    int inside[2] = {0, 0};
    for (int32_t y = 0; y < 477; ++y) {
        for (int32_t x = 0; x < 750; ++x) {
            const uint32_t rgb = pixels[static_cast<size_t>(y) * 750 + static_cast<size_t>(x)] & 0xFFFFFF;
            for (int slot = 0; slot < 2; ++slot) {
                const bool in = PointInHotSpot(kHotSpots[slot], x, y);
                inside[slot] += in;
                if (in != (rgb == colour[slot])) ++mismatches[slot];
            }
        }
    }
    EXPECT_EQ(inside[0], 3146);
    EXPECT_EQ(inside[1], 1729);
    EXPECT_EQ(mismatches[0], 0);
    EXPECT_EQ(mismatches[1], 0);
}

TEST(Resources, IconHasFiveImagesFrom16To256Pixels) {
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(128), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    ASSERT_NE(resource, nullptr);
    const auto* group = static_cast<const uint8_t*>(::LockResource(::LoadResource(module, resource)));
    uint16_t count = 0;
    std::memcpy(&count, group + 4, 2);
    std::vector<int> sizes;
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t width = group[6 + i * 14];
        sizes.push_back(width == 0 ? 256 : width);
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<int>{16, 24, 32, 48, 256}));
    EXPECT_NE(::LoadIconW(module, MAKEINTRESOURCEW(128)), nullptr);
}

TEST(Resources, VersionBlockIs1_21_601_3) {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path, &handle);
    ASSERT_GT(size, 0u);
    std::vector<uint8_t> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(path, 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, (1u << 16) | 21u);
    EXPECT_EQ(fixed->dwFileVersionLS, (601u << 16) | 3u);
    wchar_t* text = nullptr;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\StringFileInfo\\080404b0\\FileVersion",
                                 reinterpret_cast<void**>(&text), &length));
    EXPECT_EQ(std::wstring(text), L"1.21.601.3");
}

TEST(Resources, ManifestBringsCommonControls6AndDpiAwareness) {
    // Version 6 lives in the side-by-side store; the system folder holds version 5.
    HMODULE comctl = ::GetModuleHandleW(L"comctl32.dll");
    ASSERT_NE(comctl, nullptr);
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(comctl, path, MAX_PATH);
    std::wstring lower(path);
    for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
    EXPECT_NE(lower.find(L"winsxs"), std::wstring::npos) << lower;
    EXPECT_NE(lower.find(L"common-controls"), std::wstring::npos) << lower;
    EXPECT_TRUE(::IsProcessDPIAware());
}

TEST(Resources, EmbeddedPackageLoads) {
    const std::span<const uint8_t> bytes = seams::EmbeddedPackage();
    ASSERT_GT(bytes.size(), 0u);
    PatchPackage package;
    package.load(bytes.data(), bytes.size());
    EXPECT_FALSE(package.corrupt);
    EXPECT_GT(package.entryCount, 0u);
}

}  // namespace
}  // namespace tessaly
