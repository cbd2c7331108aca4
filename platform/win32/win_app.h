#pragma once
// The application object: one per process, constructed during static initialisation; wWinMain
// (in this layer) runs its InitInstance and ends the program when it returns.

#include <windows.h>

namespace tessaly {

class CWnd;

// Ask the platform's restart manager to restart the program (after a crash or an update).
constexpr DWORD AFX_RESTART_MANAGER_SUPPORT_RESTART = 0x01;

class CWinApp {
public:
    CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;
    virtual ~CWinApp();

    // Registers with the restart manager when m_dwRestartManagerSupportFlags asks for it.
    // The program's override returns FALSE, which ends the program.
    virtual BOOL InitInstance();

    static CWinApp* Current();

    HINSTANCE m_hInstance = nullptr;
    CWnd* m_pMainWnd = nullptr;
    DWORD m_dwRestartManagerSupportFlags = 0;
};

}  // namespace tessaly
