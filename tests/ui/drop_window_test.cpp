// A dropped image in the real dialog, built by the real job from the demo disc: identification,
// the output choice (the save dialog answered through its seam), the build and its report.

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "builder/output_checks.h"
#include "package/patch_package.h"
#include "platform/win32/file_dialog.h"
#include "tests/ui/window_driver.h"
#include "tools/demo/demo_disc.h"
#include "ui/shell_seams.h"
#include "ui/tessaly_dlg.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::RunWithDriver;
using test::WindowDriver;

const std::wstring kTitle = L"《Quillmoor 2》DISC1 - 汉化补丁";
const std::wstring kSaveTitle = L"选择VoskP2DISC1汉化镜像路径...";
const std::wstring kChoosing = L"请选择汉化版镜像的路径...";
const std::wstring kCancelled = L"请将原版ISO拖放至上方的图片中";

// What the save dialog was asked to show, and the scripted answers (empty: cancelled).
struct SaveDialogScript {
    struct Call {
        std::wstring fileName, title, folder, extension;
        DWORD flags = 0;
        std::vector<CFileDialog::FilterSpec> filters;
        HWND owner = nullptr;
    };
    std::mutex lock;
    std::deque<std::wstring> answers;
    std::vector<Call> calls;
};
SaveDialogScript* s_script = nullptr;

INT_PTR ScriptedSave(const CFileDialog& dialog, std::wstring& path) {
    std::lock_guard<std::mutex> guard(s_script->lock);
    const OPENFILENAMEW& ofn = dialog.m_ofn;
    s_script->calls.push_back({dialog.FileName(), ofn.lpstrTitle ? ofn.lpstrTitle : L"",
                               ofn.lpstrInitialDir ? ofn.lpstrInitialDir : L"", ofn.lpstrDefExt ? ofn.lpstrDefExt : L"",
                               ofn.Flags, dialog.Filters(), dialog.Owner()});
    if (s_script->answers.empty()) return IDCANCEL;
    path = s_script->answers.front();
    s_script->answers.pop_front();
    return path.empty() ? IDCANCEL : IDOK;
}

std::vector<uint8_t> s_packageBytes;
std::span<const uint8_t> DemoPackage() { return {s_packageBytes.data(), s_packageBytes.size()}; }

std::optional<uint64_t> s_available;

// The free bytes the demo package's image needs.
uint64_t DemoNeed() {
    PatchPackage package;
    package.load(s_packageBytes.data(), s_packageBytes.size());
    const uint64_t need = RequiredFreeBytes(package);
    return need;
}
std::optional<uint64_t> ScriptedAvailable(const fs::path&) { return s_available; }

// Puts the seams back however the test ends.
struct Seams {
    SaveDialogScript script;
    CFileDialog::ShowFunction previousShow;
    std::span<const uint8_t> (*previousPackage)();
    std::optional<uint64_t> (*previousAvailable)(const fs::path&);
    // `spare`: free bytes beyond the need; none: the query fails.
    explicit Seams(const demo::DemoDisc& disc, std::optional<int64_t> spare = int64_t{1} << 40) {
        s_script = &script;
        s_packageBytes = demo::MakePackage(disc);
        s_available = spare ? std::optional<uint64_t>(DemoNeed() + static_cast<uint64_t>(*spare)) : std::nullopt;
        previousShow = CFileDialog::SetShowFunction(&ScriptedSave);
        previousPackage = seams::EmbeddedPackage;
        seams::EmbeddedPackage = &DemoPackage;
        previousAvailable = seams::AvailableBytes;
        seams::AvailableBytes = &ScriptedAvailable;
    }
    ~Seams() {
        CFileDialog::SetShowFunction(previousShow);
        seams::EmbeddedPackage = previousPackage;
        seams::AvailableBytes = previousAvailable;
        s_script = nullptr;
    }
};

// A drawn picture compresses to more than these; one the X server has not drawn yet (one colour)
// to far less. The message box is small and plain, hence its lower bound.
constexpr uintmax_t kDrawnWindowBytes = 5000;
constexpr uintmax_t kDrawnBoxBytes = 2000;

// Pictures for people to look at, in the build folder; the X server draws a window a little
// after Windows calls it visible, hence the forced paint and the retries.
bool SavePicture(HWND window, const char* name, uintmax_t leastBytes = kDrawnWindowBytes) {
    if (!test::RunningUnderWine()) return true;
    const std::string file = std::string(TESSALY_SHOT_FOLDER) + "/" + name;
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    return WindowDriver::WaitUntil(
        [&] {
            std::this_thread::sleep_for(300ms);
            return test::SaveWindowPicture(window, TESSALY_IMPORT_TOOL, file, leastBytes);
        },
        20s);
}

// The dialog, noting the caption after every report the job makes.
class ObservedDialog : public CTessaly_Dlg {
public:
    void ReportProgress(uint32_t perMille) override {
        CTessaly_Dlg::ReportProgress(perMille);
        // The window thread is free while the worker waits here: the bar and caption are drawn.
        if (perMille == 30 && m_shotDuringBuild && !m_shotTaken) m_shotTaken = SavePicture(m_hWnd, "tessaly-building.png");
        std::lock_guard<std::mutex> guard(m_lock);
        m_captions.push_back(WindowDriver::Text(m_hWnd));
    }
    bool m_shotDuringBuild = false;
    std::atomic<bool> m_shotTaken{false};
    std::vector<std::wstring> TakeCaptions() {
        std::lock_guard<std::mutex> guard(m_lock);
        return std::exchange(m_captions, {});
    }

private:
    std::mutex m_lock;
    std::vector<std::wstring> m_captions;
};

fs::path FreshFolder(const char* name) {
    const fs::path folder = fs::temp_directory_path() / (std::wstring(L"tessaly-drop-测试-") +
                                                          std::wstring(name, name + std::strlen(name)));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

std::vector<char> Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A shell drop of `paths` at (120, 80), as Explorer hands it over.
void PostDrop(HWND window, const std::vector<std::wstring>& paths) {
    size_t chars = 1;
    for (const auto& p : paths) chars += p.size() + 1;
    HGLOBAL memory = ::GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
    auto* header = static_cast<DROPFILES*>(::GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->pt = {120, 80};
    header->fNC = FALSE;
    header->fWide = TRUE;
    auto* list = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(header) + sizeof(DROPFILES));
    for (const auto& p : paths) {
        std::memcpy(list, p.c_str(), (p.size() + 1) * sizeof(wchar_t));
        list += p.size() + 1;
    }
    ::GlobalUnlock(memory);
    ::PostMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
}

bool AcceptsDrops(HWND window) { return (::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0; }

struct BoxSeen {
    std::wstring message, caption, statusMeanwhile;
    bool shotTaken = false;
};

BoxSeen AnswerBox(WindowDriver& driver, HWND window, const char* shot = nullptr) {
    BoxSeen seen;
    HWND box = driver.WaitForBox(60s);
    if (box == nullptr) return seen;
    if (shot != nullptr) seen.shotTaken = SavePicture(box, shot, kDrawnBoxBytes);
    seen.message = WindowDriver::BoxMessage(box);
    seen.caption = WindowDriver::Text(box);
    seen.statusMeanwhile = WindowDriver::ItemText(window, 1001);
    WindowDriver::Press(box, IDOK);
    WindowDriver::WaitUntil([&] { return driver.Boxes().empty(); });
    return seen;
}

TEST(DropAndBuild, DemoDiscTwiceInOneRunGivesTheTranslatedImageAndReportsIt) {
    const demo::DemoDisc disc = demo::MakeDemoDisc({});
    const fs::path folder = FreshFolder("build");
    const fs::path source = folder / L"原版.iso";
    demo::WriteOriginalImage(disc, source);
    demo::WriteTranslatedImage(disc, folder / L"expected.iso");
    const std::vector<char> expected = Bytes(folder / L"expected.iso");
    ASSERT_FALSE(expected.empty());

    Seams seams(disc, 0);
    const fs::path outputs[2] = {folder / L"新镜像一.iso", folder / L"新镜像二.iso"};
    seams.script.answers = {outputs[0].wstring(), outputs[1].wstring()};
    ObservedDialog dialog;
    dialog.m_shotDuringBuild = true;
    std::vector<std::wstring> captions[2];
    BoxSeen boxes[2];
    std::wstring captionAfter[2], statusAfter[2];
    bool barHidden[2] = {}, drops[2] = {};
    RunWithDriver([&] { dialog.DoModal(); },
                  [&](WindowDriver& driver) {
                      HWND window = driver.WaitForMainDialog();
                      ASSERT_NE(window, nullptr);
                      for (int run = 0; run < 2; ++run) {
                          // First exactly the room needed, then a volume whose query fails: both go on.
                          if (run == 1) s_available.reset();
                          // Only the first of several dropped files counts.
                          const auto dropped = std::chrono::steady_clock::now();
                          PostDrop(window, {source.wstring(), (folder / L"expected.iso").wstring()});
                          boxes[run] = AnswerBox(driver, window, run == 0 ? "tessaly-done-box.png" : nullptr);
                          // For the record, not checked: drop to the box, the screenshots included.
                          std::printf("drop to completion box, run %d: %.2f s\n", run + 1,
                                      std::chrono::duration<double>(std::chrono::steady_clock::now() - dropped).count());
                          WindowDriver::WaitUntil([&] { return AcceptsDrops(window); });
                          captions[run] = dialog.TakeCaptions();
                          captionAfter[run] = WindowDriver::Text(window);
                          statusAfter[run] = WindowDriver::ItemText(window, 1001);
                          barHidden[run] = !::IsWindowVisible(::GetDlgItem(window, 1000));
                          drops[run] = AcceptsDrops(window);
                      }
                      ::PostMessageW(window, WM_CLOSE, 0, 0);
                  });
    EXPECT_TRUE(dialog.m_shotTaken);
    EXPECT_TRUE(boxes[0].shotTaken);
    ASSERT_EQ(seams.script.calls.size(), 2u);
    const SaveDialogScript::Call& call = seams.script.calls[0];
    EXPECT_EQ(call.fileName, L"TarnelP2_DISC1_cn_1.21.iso");
    EXPECT_EQ(call.title, kSaveTitle);
    EXPECT_EQ(call.folder, folder.wstring() + L"\\");
    EXPECT_EQ(call.extension, L"iso");
    EXPECT_EQ(call.flags, static_cast<DWORD>(OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT));
    ASSERT_EQ(call.filters.size(), 1u);
    EXPECT_EQ(call.filters[0].name, L"VoskP2DISC1汉化镜像");
    EXPECT_EQ(call.filters[0].pattern, L"*.iso");
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        ASSERT_FALSE(captions[run].empty());
        EXPECT_EQ(captions[run].front(), L"已完成 - 0.0%");
        EXPECT_EQ(captions[run].back(), L"已完成 - 100%");
        EXPECT_EQ(boxes[run].message, L"已成功生成新ISO，无任何异常！");
        EXPECT_EQ(boxes[run].caption, L"提示");
        EXPECT_EQ(boxes[run].statusMeanwhile, L"已生成新ISO，无任何异常");
        EXPECT_EQ(statusAfter[run], L"已生成新ISO，无任何异常");
        EXPECT_EQ(captionAfter[run], kTitle);
        EXPECT_TRUE(barHidden[run]);
        EXPECT_TRUE(drops[run]);
        EXPECT_TRUE(Bytes(outputs[run]) == expected);
    }
    fs::remove_all(folder);
}

void SetProductCode(demo::DemoDisc& disc, const char* code) {
    for (auto& file : disc.files) {
        if (file.path != "/UMD_DATA.BIN") continue;
        auto bytes = file.original.Materialise();
        std::memcpy(bytes.data(), code, 10);
        file.original = demo::Contents::Bytes(bytes);
    }
}

TEST(DropAndBuild, SecondDiscIsRefusedAndNothingChanges) {
    demo::DemoDisc disc = demo::MakeDemoDisc({});
    Seams seams(disc);
    SetProductCode(disc, "KVXM-20418");
    const fs::path folder = FreshFolder("second");
    const fs::path source = folder / L"disc2.iso";
    demo::WriteOriginalImage(disc, source);
    ObservedDialog dialog;
    BoxSeen box;
    std::wstring statusBefore, statusAfter, captionAfter;
    bool drops = false, barHidden = false;
    RunWithDriver([&] { dialog.DoModal(); },
                  [&](WindowDriver& driver) {
                      HWND window = driver.WaitForMainDialog();
                      ASSERT_NE(window, nullptr);
                      statusBefore = WindowDriver::ItemText(window, 1001);
                      PostDrop(window, {source.wstring()});
                      box = AnswerBox(driver, window);
                      statusAfter = WindowDriver::ItemText(window, 1001);
                      captionAfter = WindowDriver::Text(window);
                      drops = AcceptsDrops(window);
                      barHidden = !::IsWindowVisible(::GetDlgItem(window, 1000));
                      ::PostMessageW(window, WM_CLOSE, 0, 0);
                  });
    EXPECT_EQ(box.message, L"这是《Quillmoor 2》DISC2的镜像！\n\n请拖放DISC1的镜像。");
    EXPECT_EQ(box.caption, L"错误");
    EXPECT_EQ(statusAfter, statusBefore);
    EXPECT_EQ(captionAfter, kTitle);
    EXPECT_TRUE(drops);
    EXPECT_TRUE(barHidden);
    EXPECT_TRUE(seams.script.calls.empty());
    fs::remove_all(folder);
}

struct RefusalCase {
    const char* name;
    // The first answer, from the source's path.
    std::wstring (*answer)(const fs::path& source);
    int64_t spare;
    const wchar_t* message;
};

void PrintTo(const RefusalCase& row, std::ostream* out) { *out << row.name; }

class OutputRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(OutputRefusal, ExplainsThenAsksAgainAndCancellingEndsTheChoice) {
    const RefusalCase& row = GetParam();
    const demo::DemoDisc disc = demo::MakeDemoDisc({});
    Seams seams(disc, row.spare);
    const fs::path folder = FreshFolder(row.name);
    const fs::path source = folder / L"original.iso";
    demo::WriteOriginalImage(disc, source);
    const std::vector<char> sourceBefore = Bytes(source);
    seams.script.answers = {row.answer(source), L""};
    ObservedDialog dialog;
    BoxSeen box;
    std::wstring statusAfter;
    bool drops = false, barHidden = false;
    RunWithDriver([&] { dialog.DoModal(); },
                  [&](WindowDriver& driver) {
                      HWND window = driver.WaitForMainDialog();
                      ASSERT_NE(window, nullptr);
                      PostDrop(window, {source.wstring()});
                      box = AnswerBox(driver, window);
                      WindowDriver::WaitUntil([&] {
                          return WindowDriver::ItemText(window, 1001) == kCancelled;
                      });
                      statusAfter = WindowDriver::ItemText(window, 1001);
                      drops = AcceptsDrops(window);
                      barHidden = !::IsWindowVisible(::GetDlgItem(window, 1000));
                      ::PostMessageW(window, WM_CLOSE, 0, 0);
                  });
    EXPECT_EQ(box.message, row.message);
    EXPECT_EQ(box.caption, L"提示");
    EXPECT_EQ(box.statusMeanwhile, kChoosing);
    ASSERT_EQ(seams.script.calls.size(), 2u);
    EXPECT_EQ(seams.script.calls[1].fileName, seams.script.calls[0].fileName);
    EXPECT_EQ(seams.script.calls[1].folder, folder.wstring() + L"\\");
    EXPECT_EQ(statusAfter, kCancelled);
    EXPECT_TRUE(drops);
    EXPECT_TRUE(barHidden);
    EXPECT_TRUE(Bytes(source) == sourceBefore);
    fs::remove_all(folder);
}

std::wstring Upper(std::wstring text) {
    for (auto& c : text)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, OutputRefusal,
    ::testing::Values(
        RefusalCase{"SourceItself", [](const fs::path& s) { return s.wstring(); }, int64_t{1} << 40,
                    L"请选择与原版镜像不同的路径！"},
        RefusalCase{"SourceInCapitals", [](const fs::path& s) { return Upper(s.wstring()); }, int64_t{1} << 40,
                    L"请选择与原版镜像不同的路径！"},
        RefusalCase{"SourceThroughAnAlias",
                    [](const fs::path& s) { return (s.parent_path() / L"." / s.filename()).wstring(); },
                    int64_t{1} << 40, L"请选择与原版镜像不同的路径！"},
        RefusalCase{"VolumeOneByteShort", [](const fs::path& s) { return (s.parent_path() / L"new.iso").wstring(); },
                    int64_t{-1}, L"磁盘空间不足，请选择其他分区！"}),
    [](const ::testing::TestParamInfo<RefusalCase>& row) { return std::string(row.param.name); });

TEST(DropAndBuild, SourceFailingVerificationIsReportedAsSuch) {
    demo::DemoDisc disc = demo::MakeDemoDisc({});
    Seams seams(disc);
    for (auto& file : disc.files)
        if (file.path == "/PSP_GAME/USRDIR/BGM.PBD") file.original = demo::Contents::Pattern(4242, file.original.size + 70000);
    const fs::path folder = FreshFolder("verify");
    const fs::path source = folder / L"changed.iso";
    demo::WriteOriginalImage(disc, source);
    seams.script.answers = {(folder / L"out.iso").wstring()};
    ObservedDialog dialog;
    BoxSeen box;
    std::wstring statusAfter;
    RunWithDriver([&] { dialog.DoModal(); },
                  [&](WindowDriver& driver) {
                      HWND window = driver.WaitForMainDialog();
                      ASSERT_NE(window, nullptr);
                      PostDrop(window, {source.wstring()});
                      box = AnswerBox(driver, window);
                      WindowDriver::WaitUntil([&] { return AcceptsDrops(window); });
                      statusAfter = WindowDriver::ItemText(window, 1001);
                      ::PostMessageW(window, WM_CLOSE, 0, 0);
                  });
    EXPECT_EQ(box.message, L"已生成新ISO，但部份文件未能通过校验，生成的新ISO可能不可用！\n建议更换原版ISO后重试。");
    EXPECT_EQ(box.caption, L"提示");
    EXPECT_EQ(statusAfter, L"已生成新ISO");
    fs::remove_all(folder);
}

// Holds the real job at its first report after the output is open, until the test lets it go on
// or the close path raises the cancel flag, so that the close question meets a running build.
class GatedDialog : public ObservedDialog {
public:
    void ReportProgress(uint32_t perMille) override {
        ObservedDialog::ReportProgress(perMille);
        if (perMille != 31) return;
        m_held = true;
        while (!m_gateOpen && !CancelFlag()) std::this_thread::sleep_for(5ms);
    }
    std::atomic<bool> m_held{false}, m_gateOpen{false};
};

// An open without sharing fails while any other handle to the file is open.
bool NobodyHasItOpen(const fs::path& path) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return true;
}

struct CloseCase {
    const char* name;
    int answer;  // to question 158
};

void PrintTo(const CloseCase& row, std::ostream* out) { *out << row.name; }

class CloseDuringRealBuild : public ::testing::TestWithParam<CloseCase> {};

// No: the build goes on and is reported as usual. Yes: the build stops at its next cancel test,
// nothing is reported, the program ends with both files closed and the source untouched.
TEST_P(CloseDuringRealBuild, AnswerDecidesBetweenFinishingAndStopping) {
    const CloseCase& row = GetParam();
    const demo::DemoDisc disc = demo::MakeDemoDisc({});
    Seams seams(disc);
    const fs::path folder = FreshFolder(row.name);
    const fs::path source = folder / L"original.iso";
    const fs::path output = folder / L"新镜像.iso";
    demo::WriteOriginalImage(disc, source);
    demo::WriteTranslatedImage(disc, folder / L"expected.iso");
    const std::vector<char> sourceBefore = Bytes(source);
    seams.script.answers = {output.wstring()};
    GatedDialog dialog;
    INT_PTR ended = 0;
    std::wstring question;
    BoxSeen completion;
    size_t boxesAfterYes = 0;
    bool aliveAfterNo = false;
    RunWithDriver([&] { ended = dialog.DoModal(); },
                  [&](WindowDriver& driver) {
                      HWND window = driver.WaitForMainDialog();
                      ASSERT_NE(window, nullptr);
                      PostDrop(window, {source.wstring()});
                      ASSERT_TRUE(WindowDriver::WaitUntil([&] { return dialog.m_held.load(); }, 60s));
                      ::PostMessageW(window, WM_CLOSE, 0, 0);
                      HWND box = driver.WaitForBox();
                      ASSERT_NE(box, nullptr);
                      question = WindowDriver::BoxMessage(box);
                      WindowDriver::Press(box, row.answer);
                      if (row.answer == IDNO) {
                          ASSERT_TRUE(WindowDriver::WaitUntil([&] { return driver.Boxes().empty(); }));
                          aliveAfterNo = driver.MainDialogExists();
                          dialog.m_gateOpen = true;
                          completion = AnswerBox(driver, window);
                          WindowDriver::WaitUntil([&] { return AcceptsDrops(window); });
                          ::PostMessageW(window, WM_CLOSE, 0, 0);
                          return;
                      }
                      boxesAfterYes = driver.BoxesUntilTheDialogEnds();
                  });
    EXPECT_EQ(question, L"正在生成新镜像，中断并退出？");
    EXPECT_FALSE(dialog.CancelFlag());
    EXPECT_TRUE(Bytes(source) == sourceBefore);
    if (row.answer == IDNO) {
        EXPECT_TRUE(aliveAfterNo);
        EXPECT_EQ(completion.message, L"已成功生成新ISO，无任何异常！");
        EXPECT_TRUE(Bytes(output) == Bytes(folder / L"expected.iso"));
    } else {
        EXPECT_EQ(ended, IDCANCEL);
        EXPECT_EQ(boxesAfterYes, 0u);  // no completion box
        EXPECT_NE(Bytes(output), Bytes(folder / L"expected.iso"));
    }
    EXPECT_TRUE(NobodyHasItOpen(output));
    EXPECT_TRUE(NobodyHasItOpen(source));
    fs::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(Answers, CloseDuringRealBuild,
                         ::testing::Values(CloseCase{"No", IDNO}, CloseCase{"Yes", IDYES}),
                         [](const ::testing::TestParamInfo<CloseCase>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace tessaly
