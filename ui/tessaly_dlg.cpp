// The main dialog: construction, initialisation, window procedure, message map and closing.

#include "ui/tessaly_dlg.h"

#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <cwchar>
#include <string>

#include "resources/resource.h"
#include "resources/version.h"
#include "ui/message_catalogue.h"
#include "ui/shell_seams.h"
#include "ui/version_text.h"

namespace tessaly {

namespace {

const UINT s_taskbarButtonCreated = ::RegisterWindowMessageW(L"TaskbarButtonCreated");

constexpr int kCloseWaitMs = 3000;     // how long the cancel request is given to be acknowledged
constexpr DWORD kCloseTestMs = 50;     // how often the acknowledgement is looked for

template <size_t N>
void CopyText(wchar_t (&buffer)[N], const wchar_t* text) {
    const size_t length = std::min(std::wcslen(text), N - 1);
    std::wmemcpy(buffer, text, length);
    buffer[length] = L'\0';
}

// Serves the messages other threads send to this one (the worker's progress and completion)
// and waits until the worker has ended, another message is sent, or `milliseconds` have passed.
// Posted messages and input stay queued: nothing but the worker's calls runs meanwhile.
void ServeSentMessages(HANDLE worker, DWORD milliseconds) {
    MSG message;
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    ::MsgWaitForMultipleObjectsEx(1, &worker, milliseconds, QS_SENDMESSAGE, 0);
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

}  // namespace

UINT TaskbarButtonCreatedMessage() { return s_taskbarButtonCreated; }

CTessaly_Dlg::CTessaly_Dlg() : CDialog(IDD_TESSALY_DIALOG, nullptr) {
    // The thread that builds the window shows it: its catalogue texts have a ring of their own.
    MessageCatalogue::SetWindowThread();
    CopyText(m_versionText, ShortenVersionText(TESSALY_VERSION_WIDE_TEXT).c_str());
    CopyText(m_windowTitle, MessageCatalogue::Load(133));
    m_appIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

CTessaly_Dlg::~CTessaly_Dlg() {
    // The dialog can end without OnClose (Enter or Escape). The worker must not outlive what
    // it works on.
    if (m_buildThread) {
        m_cancelRequested = true;
        ::WaitForSingleObject(m_buildThread->m_hThread, INFINITE);
    }
    if (m_taskbarList != nullptr) m_taskbarList->Release();
}

std::filesystem::path CTessaly_Dlg::SourcePath() const { return std::filesystem::path(m_sourcePath); }

std::filesystem::path CTessaly_Dlg::OutputPath() const { return std::filesystem::path(m_outputPath); }

PatchPackage& CTessaly_Dlg::Package() { return *m_package; }

std::atomic<bool>& CTessaly_Dlg::CancelFlag() { return m_cancelRequested; }

void CTessaly_Dlg::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_PROGRESS, m_progress);
}

const MessageMap* CTessaly_Dlg::GetMessageMap() const {
    // WM_SYSCOMMAND: default processing only, which is what a message without an entry gets.
    static constexpr MessageMapEntry kEntries[] = {
        ON_MESSAGE<&CTessaly_Dlg::OnPaint>(WM_PAINT),
        ON_MESSAGE<&CTessaly_Dlg::OnQueryDragIcon>(WM_QUERYDRAGICON),
        ON_MESSAGE<&CTessaly_Dlg::OnDropFiles>(WM_DROPFILES),
        ON_MESSAGE<&CTessaly_Dlg::OnBuildComplete>(WM_BUILD_COMPLETE),
        ON_MESSAGE<&CTessaly_Dlg::OnShowProgress>(WM_APP_SHOW_PROGRESS),
        ON_MESSAGE<&CTessaly_Dlg::OnMouseMove>(WM_MOUSEMOVE),
        ON_MESSAGE<&CTessaly_Dlg::OnLButtonDown>(WM_LBUTTONDOWN),
        ON_MESSAGE<&CTessaly_Dlg::OnClose>(WM_CLOSE),
        ON_MESSAGE<&CTessaly_Dlg::OnEraseBkgnd>(WM_ERASEBKGND),
    };
    static const MessageMap kMap{CDialog::GetMessageMap(), kEntries, std::size(kEntries)};
    return &kMap;
}

BOOL CTessaly_Dlg::OnInitDialog() {
    CDialog::OnInitDialog();

    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_appIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_appIcon));
    SetWindowText(m_windowTitle);

    m_statusText = GetDlgItem(IDC_STATUS_TEXT);
    m_versionLabel = GetDlgItem(IDC_VERSION_LABEL);
    m_statusText->SetWindowText(MessageCatalogue::Load(159));
    const std::wstring versionLabel = std::wstring(L"ver ") + m_versionText;
    m_versionLabel->SetWindowText(versionLabel.c_str());

    // Without a picture the window simply shows the dialog background.
    LoadBackgroundImage(&m_backgroundImage);

    DragAcceptFiles(TRUE);
    m_progress.ShowWindow(SW_HIDE);
    m_progress.SetRange(0, 1000);
    m_progress.SetStep(1);

    const std::span<const uint8_t> bytes = seams::EmbeddedPackage();
    m_package = std::make_unique<PatchPackage>();
    m_package->load(bytes.data(), bytes.size());
    if (m_package->corrupt) {
        // The loader has emptied the package already; the program just ends.
        MessageBox(MessageCatalogue::Load(138), MessageCatalogue::Load(136), MB_OK | MB_ICONERROR);
        CDialog::OnOK();
    }
    return TRUE;
}

LRESULT CTessaly_Dlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == s_taskbarButtonCreated) CreateTaskbarList();
    return CDialog::WindowProc(message, wParam, lParam);
}

void CTessaly_Dlg::CreateTaskbarList() {
    if (FAILED(::CoInitialize(nullptr))) return;
    // The shell sends the message again when it recreates the button (after a restart of the
    // shell): the new object takes the old one's place.
    if (m_taskbarList != nullptr) {
        m_taskbarList->Release();
        m_taskbarList = nullptr;
    }
    ITaskbarList4* created = nullptr;
    if (FAILED(seams::CreateTaskbarList(&created)) || created == nullptr) return;
    if (FAILED(created->HrInit())) {
        created->Release();
        return;
    }
    m_taskbarList = created;
}

void CTessaly_Dlg::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(m_hWnd, &paint);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(&client);
    const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, m_appIcon);
    ::EndPaint(m_hWnd, &paint);
}

HCURSOR CTessaly_Dlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_appIcon); }

void CTessaly_Dlg::OnOK() {
    if (m_buildThread) {
        SendMessage(WM_CLOSE);
        return;
    }
    CDialog::OnOK();
}

void CTessaly_Dlg::OnCancel() {
    if (m_buildThread) {
        SendMessage(WM_CLOSE);
        return;
    }
    CDialog::OnCancel();
}

void CTessaly_Dlg::OnClose() {
    if (m_buildThread) {
        if (MessageBox(MessageCatalogue::Load(158), MessageCatalogue::Load(137), MB_YESNO | MB_ICONQUESTION) != IDYES)
            return;
        // The build may have ended while the question was open.
        if (m_buildThread) {
            m_cancelRequested = true;
            WaitForWorkerToEnd();
        }
    }
    if (m_taskbarList != nullptr) {
        m_taskbarList->Release();
        m_taskbarList = nullptr;
    }
    ::CoUninitialize();
    if (m_package) {
        m_package->release();
        m_package.reset();
    }
    // Ends the modal dialog (through IDCANCEL; no build runs any more).
    Default();
}

void CTessaly_Dlg::WaitForWorkerToEnd() {
    m_closing = true;
    const std::unique_ptr<CWinThread> worker = std::move(m_buildThread);
    // The job acknowledges at its next cancel test, which it reaches only if its synchronous
    // reports into this thread are served meanwhile.
    const DWORD start = ::GetTickCount();
    while (m_cancelRequested && ::GetTickCount() - start < static_cast<DWORD>(kCloseWaitMs))
        ServeSentMessages(worker->m_hThread, kCloseTestMs);
    // Acknowledged or not, the package is released only once the thread can no longer touch it.
    while (::WaitForSingleObject(worker->m_hThread, 0) == WAIT_TIMEOUT) ServeSentMessages(worker->m_hThread, kCloseTestMs);
    m_closing = false;
}

}  // namespace tessaly
