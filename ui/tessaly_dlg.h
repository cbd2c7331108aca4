#pragma once
// The main dialog: owns the patch package for the whole run, holds what the build job works from
// (paths, package, cancel flag), shows the background picture with its links, and reports the
// build's progress and outcome.

#include <windows.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <atomic>
#include <cstddef>
#include <memory>

#include "builder/build_context.h"
#include "package/patch_package.h"
#include "platform/win32/dialog.h"
#include "platform/win32/image.h"
#include "platform/win32/thread.h"

namespace tessaly {

// Sent by the build's thread entry with the JobResult (wParam) and, for a path error, the ID of
// its message (lParam).
constexpr UINT WM_BUILD_COMPLETE = WM_USER + 101;

// Sent by ReportProgress from the worker thread for a report that is to be shown: the window
// thread moves the bar, sets the caption and updates the taskbar button, which it created.
constexpr UINT WM_APP_SHOW_PROGRESS = WM_APP + 1;

constexpr size_t kWindowTextLength = 512;  // characters of a window text buffer, plus the terminator

// The number of the shell's "TaskbarButtonCreated" message (registered during static
// initialisation).
UINT TaskbarButtonCreatedMessage();

// Loads picture 129 into `image`. False when there is no image or no resource; true otherwise,
// also when the picture cannot be decoded (the image then stays empty).
bool LoadBackgroundImage(CImage* image);

class CTessaly_Dlg : public CDialog, public BuildContext {
public:
    CTessaly_Dlg();
    ~CTessaly_Dlg() override;

    // What the build job works from, and where it reports (on its worker thread).
    std::filesystem::path SourcePath() const override;
    std::filesystem::path OutputPath() const override;
    PatchPackage& Package() override;
    std::atomic<bool>& CancelFlag() override;
    void ReportProgress(uint32_t perMille) override;
    void BuildComplete(JobResult result, int messageId) override;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnInitDialog() override;
    // Enter and Escape end the dialog at once, except during a build: then they close it the
    // way the close box does (question, cancel, wait for the worker).
    void OnOK() override;
    void OnCancel() override;
    const MessageMap* GetMessageMap() const override;

    // Switches drops off, shows the bar and starts the build job on a worker thread.
    void StartBuild();

private:
    friend struct TessalyDlgTestAccess;

    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnDropFiles(HDROP drop);
    LRESULT OnBuildComplete(WPARAM wParam, LPARAM lParam);
    LRESULT OnShowProgress(WPARAM wParam, LPARAM lParam);
    void OnMouseMove(UINT flags, POINT point);
    void OnLButtonDown(UINT flags, POINT point);
    void OnClose();
    BOOL OnEraseBkgnd(HDC dc);

    void CreateTaskbarList();
    void WaitForWorkerToEnd();
    static UINT BuildThreadStart(LPVOID dialog);

    HICON m_appIcon = nullptr;
    CProgressCtrl m_progress;
    CImage m_backgroundImage;
    CWnd* m_statusText = nullptr;
    CWnd* m_versionLabel = nullptr;
    wchar_t m_sourcePath[kWindowTextLength + 1] = {};
    wchar_t m_outputPath[kWindowTextLength + 1] = {};
    std::unique_ptr<PatchPackage> m_package;
    // Non-null exactly while a build runs. Owned here (not self-deleting) so that closing can
    // wait for the thread itself.
    std::unique_ptr<CWinThread> m_buildThread;
    std::atomic<bool> m_cancelRequested{false};
    ITaskbarList4* m_taskbarList = nullptr;
    wchar_t m_versionText[kWindowTextLength + 1] = {};
    wchar_t m_windowTitle[kWindowTextLength + 1] = {};
    // Set while closing waits for the worker: a completion that slips in then is not reported.
    bool m_closing = false;
};

}  // namespace tessaly
