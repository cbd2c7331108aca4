// The main dialog's side of a build: starting the worker, its progress reports and its outcome.

#include <windows.h>
#include <mmsystem.h>

#include <string>

#include "resources/resource.h"
#include "ui/message_catalogue.h"
#include "ui/progress_report.h"
#include "ui/shell_seams.h"
#include "ui/tessaly_dlg.h"

namespace tessaly {

namespace {

uint32_t s_lastShownTime = 0;       // worker thread only; one build at a time
std::wstring s_progressCaption;     // window thread only

uint32_t ClockMs() { return ::timeGetTime(); }

struct Outcome {
    int caption;
    int message;  // 0: the message ID that came with the result
    int status;
    UINT icon;
};

Outcome OutcomeOf(JobResult result) {
    switch (result) {
        case JobResult::Ok: return {135, 154, 162, MB_ICONINFORMATION};
        case JobResult::VerifyFailed: return {135, 155, 163, MB_ICONINFORMATION};
        case JobResult::PathError: return {136, 0, 165, MB_ICONERROR};
        case JobResult::FileError: return {136, 152, 165, MB_ICONERROR};
        default: return {136, 153, 165, MB_ICONERROR};
    }
}

}  // namespace

void CTessaly_Dlg::StartBuild() {
    DragAcceptFiles(FALSE);
    m_progress.SetPos(0);
    m_progress.ShowWindow(SW_SHOWNORMAL);
    m_statusText->SetWindowText(MessageCatalogue::Load(161));
    m_cancelRequested = false;
    m_buildThread = AfxBeginThread(&CTessaly_Dlg::BuildThreadStart, this);
    // No worker, so no completion would ever come: report the failure now, as an unidentified
    // error, and the window is ready for the next drop.
    if (!m_buildThread) OnBuildComplete(static_cast<WPARAM>(JobResult::OtherError), 0);
}

UINT CTessaly_Dlg::BuildThreadStart(LPVOID dialog) {
    return seams::BuildThreadEntry(static_cast<CTessaly_Dlg*>(dialog));
}

void CTessaly_Dlg::ReportProgress(uint32_t perMille) {
    // Most reports are dropped here, on the worker, at the cost of reading the clock.
    if (!AdmitProgressReport(perMille, &ClockMs, s_lastShownTime)) return;
    ::SendMessageW(m_hWnd, WM_APP_SHOW_PROGRESS, perMille, 0);
}

LRESULT CTessaly_Dlg::OnShowProgress(WPARAM wParam, LPARAM) {
    const auto perMille = static_cast<uint32_t>(wParam);
    m_progress.SetPos(static_cast<int>(perMille));
    if (perMille == 1000) {
        SetWindowText(MessageCatalogue::Load(157));
    } else {
        s_progressCaption = FormatProgressCaption(MessageCatalogue::Load(156), perMille);
        SetWindowText(s_progressCaption.c_str());
    }
    if (m_taskbarList != nullptr) {
        m_taskbarList->SetProgressState(m_hWnd, TBPF_INDETERMINATE);
        m_taskbarList->SetProgressValue(m_hWnd, perMille, 1000);
    }
    return 0;
}

void CTessaly_Dlg::BuildComplete(JobResult result, int messageId) {
    ::SendMessageW(m_hWnd, WM_BUILD_COMPLETE, static_cast<WPARAM>(result), static_cast<LPARAM>(messageId));
}

LRESULT CTessaly_Dlg::OnBuildComplete(WPARAM wParam, LPARAM lParam) {
    // The worker waits in its send and touches nothing of the package any more.
    if (m_package) m_package->releaseArchives();
    const auto result = static_cast<JobResult>(wParam);
    if (result == JobResult::Cancelled) return 0;
    m_buildThread.reset();
    // The user has asked to quit and is waiting for the worker: nothing to report.
    if (m_closing) return 0;

    const Outcome outcome = OutcomeOf(result);
    const wchar_t* caption = MessageCatalogue::Load(outcome.caption);
    const wchar_t* text = MessageCatalogue::Load(outcome.message != 0 ? outcome.message : static_cast<int>(lParam));
    const wchar_t* status = MessageCatalogue::Load(outcome.status);

    if (result != JobResult::Ok && m_taskbarList != nullptr) m_taskbarList->SetProgressState(m_hWnd, TBPF_ERROR);
    ActivateTopParent();
    m_statusText->SetWindowText(status);
    MessageBox(text, caption, MB_OK | outcome.icon);

    if (m_taskbarList != nullptr) m_taskbarList->SetProgressState(m_hWnd, TBPF_NOPROGRESS);
    DragAcceptFiles(TRUE);
    SetActiveWindow();
    SetForegroundWindow();
    m_progress.ShowWindow(SW_HIDE);
    SetWindowText(m_windowTitle);
    return 0;
}

}  // namespace tessaly
