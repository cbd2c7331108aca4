// A build in the real dialog, run by a stand-in worker: closing during the build (question,
// cancel, waiting for the worker), and the progress and completion reports.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/ui/window_driver.h"
#include "ui/shell_seams.h"
#include "ui/tessaly_dlg.h"

namespace tessaly {

struct TessalyDlgTestAccess {
    static void StartBuild(CTessaly_Dlg& d) { d.StartBuild(); }
    static bool BuildRunning(CTessaly_Dlg& d) { return d.m_buildThread != nullptr; }
};

namespace {

using namespace std::chrono_literals;
using test::RunWithDriver;
using test::WindowDriver;
using Access = TessalyDlgTestAccess;
using Clock = std::chrono::steady_clock;

const std::wstring kTitle = L"《Quillmoor 2》DISC1 - 汉化补丁";

using test::TestDialog;

class BuildEntryOverride {
public:
    explicit BuildEntryOverride(uint32_t (*entry)(BuildContext*)) : m_original(seams::BuildThreadEntry) {
        seams::BuildThreadEntry = entry;
    }
    ~BuildEntryOverride() { seams::BuildThreadEntry = m_original; }

private:
    uint32_t (*m_original)(BuildContext*);
};

// A worker that keeps reporting (every report of 1 to 30 reaches the window thread, synchronously)
// and acknowledges a cancel request only `ackDelay` after it saw it, as a job stuck in a slow
// piece of work would.
struct SlowWorker {
    std::chrono::milliseconds ackDelay{0};
    std::atomic<int> reports{0};
    std::atomic<int> reportsAfterCancel{0};
    std::atomic<bool> sawCancel{false};
    std::atomic<bool> packageAliveAtEnd{false};
    std::atomic<bool> ended{false};
    Clock::time_point endedAt{};
};
SlowWorker* s_slowWorker = nullptr;

uint32_t SlowWorkerEntry(BuildContext* context) {
    SlowWorker& w = *s_slowWorker;
    context->ReportProgress(0);
    Clock::time_point cancelSeen{};
    for (uint32_t value = 1;; value = value % 30 + 1) {
        context->ReportProgress(value);
        ++w.reports;
        if (context->CancelFlag()) {
            if (!w.sawCancel) cancelSeen = Clock::now();
            w.sawCancel = true;
            ++w.reportsAfterCancel;
            if (Clock::now() - cancelSeen >= w.ackDelay) {
                const PatchPackage& package = context->Package();
                w.packageAliveAtEnd = package.entries != nullptr && package.entryCount > 0;
                // The thread entry's acknowledgement: lower the flag, report nothing.
                context->CancelFlag() = false;
                w.endedAt = Clock::now();
                w.ended = true;
                return static_cast<uint32_t>(JobResult::Cancelled);
            }
        }
        std::this_thread::sleep_for(10ms);
    }
}

bool AcceptsDrops(HWND window) { return (::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0; }

TEST(CloseDuringBuild, EscapeAsksAndNoGoesOnEnterAsksAndYesWaitsForTheWorkerItself) {
    SlowWorker worker;
    worker.ackDelay = 3500ms;  // longer than the close's 3,000 ms wait for the acknowledgement
    s_slowWorker = &worker;
    BuildEntryOverride entry(&SlowWorkerEntry);

    TestDialog dialog;
    INT_PTR result = 0;
    std::wstring statusDuringBuild, question, questionCaption;
    bool barShown = false, dropsRefused = false, goesOnAfterNo = false, aliveAfterNo = false;
    bool cancelledAfterNo = true;
    size_t boxesAfterYes = 0;
    Clock::time_point dialogEndedAt{};
    RunWithDriver(
        [&] {
            result = dialog.DoModal();
            dialogEndedAt = Clock::now();
        },
                  [&](WindowDriver& driver) {
                      HWND window = driver.WaitForMainDialog();
                      ASSERT_NE(window, nullptr);
                      dialog.RunOnWindowThread(window, [&] { Access::StartBuild(dialog); });
                      statusDuringBuild = WindowDriver::ItemText(window, 1001);
                      barShown = ::IsWindowVisible(::GetDlgItem(window, 1000)) != FALSE;
                      dropsRefused = !AcceptsDrops(window);
                      ASSERT_TRUE(WindowDriver::WaitUntil([&] { return worker.reports.load() >= 5; }));

                      ::PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
                      HWND box = driver.WaitForBox();
                      ASSERT_NE(box, nullptr);
                      question = WindowDriver::BoxMessage(box);
                      questionCaption = WindowDriver::Text(box);
                      WindowDriver::Press(box, IDNO);
                      ASSERT_TRUE(WindowDriver::WaitUntil([&] { return driver.Boxes().empty(); }));
                      const int reportsAtNo = worker.reports.load();
                      goesOnAfterNo = WindowDriver::WaitUntil([&] { return worker.reports.load() >= reportsAtNo + 5; });
                      aliveAfterNo = driver.MainDialogExists();
                      cancelledAfterNo = worker.sawCancel.load();

                      ::PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
                      box = driver.WaitForBox();
                      ASSERT_NE(box, nullptr);
                      WindowDriver::Press(box, IDYES);
                      boxesAfterYes = driver.BoxesUntilTheDialogEnds();
                  });
    EXPECT_EQ(statusDuringBuild, L"正在生成汉化版镜像...");
    EXPECT_TRUE(barShown);
    EXPECT_TRUE(dropsRefused);
    EXPECT_EQ(question, L"正在生成新镜像，中断并退出？");
    EXPECT_EQ(questionCaption, L"询问");
    EXPECT_TRUE(goesOnAfterNo);
    EXPECT_TRUE(aliveAfterNo);
    EXPECT_FALSE(cancelledAfterNo);
    EXPECT_EQ(result, IDCANCEL);
    // A cancelled job reports nothing: no completion box.
    EXPECT_EQ(boxesAfterYes, 0u);
    EXPECT_TRUE(worker.sawCancel);
    // The worker ended, and found the package intact, before the window went away...
    ASSERT_TRUE(worker.ended);
    EXPECT_LE(worker.endedAt, dialogEndedAt);
    EXPECT_TRUE(worker.packageAliveAtEnd);
    // ...because its reports were served while the window waited for it.
    EXPECT_GT(worker.reportsAfterCancel.load(), 10);
    s_slowWorker = nullptr;
}

// A worker that reports a short build and then its outcome.
struct ReportingWorker {
    JobResult result = JobResult::Ok;
    int messageId = 0;
    std::vector<std::wstring> captions;  // after each report
    std::vector<int> positions;
    HWND window = nullptr;
    std::atomic<bool> completionReturned{false};
};
ReportingWorker* s_reporting = nullptr;

uint32_t ReportingWorkerEntry(BuildContext* context) {
    ReportingWorker& w = *s_reporting;
    for (uint32_t value : {0u, 1u, 30u, 999u, 1000u}) {
        context->ReportProgress(value);
        w.captions.push_back(WindowDriver::Text(w.window));
        w.positions.push_back(static_cast<int>(::SendDlgItemMessageW(w.window, 1000, PBM_GETPOS, 0, 0)));
    }
    context->BuildComplete(w.result, w.messageId);
    w.completionReturned = true;
    return static_cast<uint32_t>(w.result);
}

TEST(BuildProgress, ReportsMoveTheBarAndTheCaption) {
    ReportingWorker worker;
    s_reporting = &worker;
    BuildEntryOverride entry(&ReportingWorkerEntry);
    TestDialog dialog;
    RunWithDriver([&] { dialog.DoModal(); },
                  [&](WindowDriver& driver) {
                      HWND window = driver.WaitForMainDialog();
                      ASSERT_NE(window, nullptr);
                      worker.window = window;
                      dialog.RunOnWindowThread(window, [&] { Access::StartBuild(dialog); });
                      HWND box = driver.WaitForBox();
                      ASSERT_NE(box, nullptr);
                      WindowDriver::Press(box, IDOK);
                      WindowDriver::WaitUntil([&] { return worker.completionReturned.load(); });
                      ::PostMessageW(window, WM_CLOSE, 0, 0);
                  });
    EXPECT_EQ(worker.captions, (std::vector<std::wstring>{L"已完成 - 0.0%", L"已完成 - 0.1%", L"已完成 - 3.0%",
                                                          L"已完成 - 99.9%", L"已完成 - 100%"}));
    EXPECT_EQ(worker.positions, (std::vector<int>{0, 1, 30, 999, 1000}));
    s_reporting = nullptr;
}

struct OutcomeCase {
    const char* name;
    JobResult result;
    int messageId;
    const wchar_t* message;
    const wchar_t* caption;
    const wchar_t* status;
    bool error;
};

void PrintTo(const OutcomeCase& row, std::ostream* out) { *out << row.name; }

class BuildOutcome : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(BuildOutcome, IsShownInABoxAndTheStatusThenTheWindowWaitsForTheNextDrop) {
    const OutcomeCase& c = GetParam();
    ReportingWorker worker;
    worker.result = c.result;
    worker.messageId = c.messageId;
    s_reporting = &worker;
    BuildEntryOverride entry(&ReportingWorkerEntry);
    TestDialog dialog;
    std::wstring message, caption, statusWithBox, captionAfter;
    HICON icon = nullptr;
    bool barHiddenAfter = false, dropsAfter = false, runningAfter = true;
    size_t boxesAfterClose = 0;
    RunWithDriver([&] { dialog.DoModal(); },
                  [&](WindowDriver& driver) {
                      HWND window = driver.WaitForMainDialog();
                      ASSERT_NE(window, nullptr);
                      worker.window = window;
                      dialog.RunOnWindowThread(window, [&] { Access::StartBuild(dialog); });
                      HWND box = driver.WaitForBox();
                      ASSERT_NE(box, nullptr);
                      message = WindowDriver::BoxMessage(box);
                      caption = WindowDriver::Text(box);
                      icon = WindowDriver::BoxIcon(box);
                      statusWithBox = WindowDriver::ItemText(window, 1001);
                      WindowDriver::Press(box, IDOK);
                      ASSERT_TRUE(WindowDriver::WaitUntil([&] { return worker.completionReturned.load(); }));
                      captionAfter = WindowDriver::Text(window);
                      barHiddenAfter = !::IsWindowVisible(::GetDlgItem(window, 1000));
                      dropsAfter = AcceptsDrops(window);
                      dialog.RunOnWindowThread(window, [&] { runningAfter = Access::BuildRunning(dialog); });
                      // No build runs: closing asks nothing.
                      ::PostMessageW(window, WM_CLOSE, 0, 0);
                      WindowDriver::WaitUntil([&] {
                          boxesAfterClose = std::max(boxesAfterClose, driver.Boxes().size());
                          return !driver.MainDialogExists();
                      });
                  });
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(caption, c.caption);
    EXPECT_EQ(icon, ::LoadIconW(nullptr, c.error ? IDI_ERROR : IDI_INFORMATION));
    EXPECT_EQ(statusWithBox, c.status);
    EXPECT_EQ(captionAfter, kTitle);
    EXPECT_TRUE(barHiddenAfter);
    EXPECT_TRUE(dropsAfter);
    EXPECT_FALSE(runningAfter);
    EXPECT_EQ(boxesAfterClose, 0u);
    s_reporting = nullptr;
}

INSTANTIATE_TEST_SUITE_P(
    Results, BuildOutcome,
    ::testing::Values(
        OutcomeCase{"Ok", JobResult::Ok, 0, L"已成功生成新ISO，无任何异常！", L"提示", L"已生成新ISO，无任何异常", false},
        OutcomeCase{"VerifyFailed", JobResult::VerifyFailed, 0,
                    L"已生成新ISO，但部份文件未能通过校验，生成的新ISO可能不可用！\n建议更换原版ISO后重试。", L"提示",
                    L"已生成新ISO", false},
        OutcomeCase{"PathErrorCreatingTheOutput", JobResult::PathError, 150, L"创建新ISO时出错！", L"错误",
                    L"生成ISO时出错！", true},
        OutcomeCase{"FileError", JobResult::FileError, 0, L"读写出错，未能生成新ISO！", L"错误", L"生成ISO时出错！",
                    true},
        OutcomeCase{"OtherError", JobResult::OtherError, 0, L"发送未知错误，未能生成新ISO！", L"错误",
                    L"生成ISO时出错！", true},
        OutcomeCase{"UnlistedResult", static_cast<JobResult>(9), 0, L"发送未知错误，未能生成新ISO！", L"错误",
                    L"生成ISO时出错！", true}),
    [](const ::testing::TestParamInfo<OutcomeCase>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace tessaly
