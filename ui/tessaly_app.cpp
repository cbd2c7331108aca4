#include "ui/tessaly_app.h"

#include <commctrl.h>

#include "ui/tessaly_dlg.h"

namespace tessaly {

CTessaly_App::CTessaly_App() { m_dwRestartManagerSupportFlags = AFX_RESTART_MANAGER_SUPPORT_RESTART; }

BOOL CTessaly_App::InitInstance() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&controls);

    CWinApp::InitInstance();

    CTessaly_Dlg dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;

    // No message loop of the application's own: the program ends with its dialog.
    return FALSE;
}

}  // namespace tessaly
