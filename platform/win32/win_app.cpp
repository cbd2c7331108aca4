#include "platform/win32/win_app.h"

namespace tessaly {

namespace {
CWinApp* s_currentApp = nullptr;
}

CWinApp::CWinApp() : m_hInstance(::GetModuleHandleW(nullptr)) { s_currentApp = this; }

CWinApp::~CWinApp() {
    if (s_currentApp == this) s_currentApp = nullptr;
}

CWinApp* CWinApp::Current() { return s_currentApp; }

BOOL CWinApp::InitInstance() {
    if (m_dwRestartManagerSupportFlags & AFX_RESTART_MANAGER_SUPPORT_RESTART) {
        // No command line: a restarted program starts as it always does.
        ::RegisterApplicationRestart(nullptr, 0);
    }
    return TRUE;
}

}  // namespace tessaly

// The program's entry point: the application object is already constructed.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    tessaly::CWinApp* app = tessaly::CWinApp::Current();
    if (app == nullptr) return 1;
    app->m_hInstance = instance;
    // There is no message loop of the application's own: the program is its modal dialog.
    app->InitInstance();
    return 0;
}
