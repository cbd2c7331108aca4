// The save dialog class: its filter notation, its settings reaching the replaceable show
// function, and the platform's real dialog driven under Wine.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "platform/win32/file_dialog.h"
#include "tests/ui/window_driver.h"

namespace tessaly {
namespace {

using namespace std::chrono_literals;
using test::RunWithDriver;
using test::WindowDriver;

struct FilterCase {
    const char* name;
    const wchar_t* filter;
    std::vector<std::pair<std::wstring, std::wstring>> recipes;
};

void PrintTo(const FilterCase& row, std::ostream* out) { *out << row.name; }

class FilterNotation : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterNotation, SplitsIntoNameAndPatternPairs) {
    std::vector<std::pair<std::wstring, std::wstring>> recipes;
    for (const CFileDialog::FilterSpec& recipe : CFileDialog::ParseFilter(GetParam().filter))
        recipes.emplace_back(recipe.name, recipe.pattern);
    EXPECT_EQ(recipes, GetParam().recipes);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FilterNotation,
    ::testing::Values(FilterCase{"TheProgramsFilter", L"VoskP2DISC1汉化镜像|*.iso||", {{L"VoskP2DISC1汉化镜像", L"*.iso"}}},
                      FilterCase{"TwoFilters", L"镜像|*.iso|全部|*.*||", {{L"镜像", L"*.iso"}, {L"全部", L"*.*"}}},
                      FilterCase{"DoubledBarEndsTheList", L"A|*.a||B|*.b||", {{L"A", L"*.a"}}},
                      FilterCase{"NameWithoutPattern", L"A||", {}}, FilterCase{"Empty", L"", {}}),
    [](const ::testing::TestParamInfo<FilterCase>& row) { return std::string(row.param.name); });

const CFileDialog* s_shown = nullptr;
std::wstring s_shownTitle, s_shownFolder, s_shownExtension, s_shownName;
DWORD s_shownFlags = 0;

INT_PTR ChooseFixedPath(const CFileDialog& dialog, std::wstring& path) {
    s_shown = &dialog;
    s_shownTitle = dialog.m_ofn.lpstrTitle;
    s_shownFolder = dialog.m_ofn.lpstrInitialDir;
    s_shownExtension = dialog.m_ofn.lpstrDefExt;
    s_shownName = dialog.FileName();
    s_shownFlags = dialog.m_ofn.Flags;
    path = L"D:\\out\\new.iso";
    return IDOK;
}

INT_PTR Cancel(const CFileDialog&, std::wstring& path) {
    path = L"ignored";
    return IDCANCEL;
}

TEST(FileDialog, DoModalGoesThroughTheShowFunctionWithTheSettings) {
    const CFileDialog::ShowFunction original = CFileDialog::SetShowFunction(&ChooseFixedPath);
    std::wstring name = L"TarnelP2_DISC1_cn_1.21.iso";
    std::wstring filter = L"VoskP2DISC1汉化镜像|*.iso||";
    CFileDialog dialog(L"iso", name.c_str(), OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, filter.c_str(), nullptr);
    // The name and the filter are copied: the caller's texts may change afterwards.
    name = L"changed";
    filter = L"changed";
    dialog.m_ofn.lpstrTitle = L"选择VoskP2DISC1汉化镜像路径...";
    dialog.m_ofn.lpstrInitialDir = L"C:\\Images\\";
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.GetPathName(), L"D:\\out\\new.iso");
    EXPECT_EQ(s_shown, &dialog);
    EXPECT_EQ(s_shownTitle, L"选择VoskP2DISC1汉化镜像路径...");
    EXPECT_EQ(s_shownFolder, L"C:\\Images\\");
    EXPECT_EQ(s_shownExtension, L"iso");
    EXPECT_EQ(s_shownName, L"TarnelP2_DISC1_cn_1.21.iso");
    EXPECT_EQ(s_shownFlags, static_cast<DWORD>(6));
    ASSERT_EQ(dialog.Filters().size(), 1u);
    EXPECT_EQ(dialog.Filters()[0].name, L"VoskP2DISC1汉化镜像");

    CFileDialog::SetShowFunction(&Cancel);
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.GetPathName(), L"D:\\out\\new.iso");
    CFileDialog::SetShowFunction(original);
}

// Wine's own save dialog: the title, the default name in the name box, the filter text, the
// initial folder, and the default extension added to a typed name.
TEST(FileDialog, PlatformDialogShowsTheSettingsAndAddsTheExtension) {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::filesystem::path folder = std::filesystem::path(temp) / L"保存 测试";
    std::filesystem::create_directories(folder);
    const std::wstring initialDir = folder.wstring() + L"\\";

    CFileDialog dialog(L"iso", L"TarnelP2_DISC1_cn_1.21.iso", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                       L"VoskP2DISC1汉化镜像|*.iso||", nullptr);
    dialog.m_ofn.lpstrTitle = L"选择VoskP2DISC1汉化镜像路径...";
    dialog.m_ofn.lpstrInitialDir = initialDir.c_str();

    INT_PTR result = 0;
    std::wstring shownName, shownFilter;
    bool found = false;
    RunWithDriver([&] { result = dialog.DoModal(); },
                  [&](WindowDriver&) {
                      HWND box = nullptr;
                      found = WindowDriver::WaitUntil([&] {
                          box = ::FindWindowW(L"#32770", L"选择VoskP2DISC1汉化镜像路径...");
                          return box != nullptr && ::IsWindowVisible(box);
                      });
                      if (!found) return;
                      // Wine's layout: the name box 1152 and the type list 1136.
                      shownName = WindowDriver::ItemText(box, 1152);
                      shownFilter = WindowDriver::ItemText(box, 1136);
                      ::SendDlgItemMessageW(box, 1152, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"新镜像"));
                      WindowDriver::Press(box, IDOK);
                  });
    ASSERT_TRUE(found);
    EXPECT_EQ(shownName, L"TarnelP2_DISC1_cn_1.21.iso");
    EXPECT_NE(shownFilter.find(L"VoskP2DISC1汉化镜像"), std::wstring::npos) << shownFilter;
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(std::filesystem::path(dialog.GetPathName()), folder / L"新镜像.iso");
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tessaly
