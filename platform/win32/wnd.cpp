#include "platform/win32/wnd.h"

#include <commctrl.h>
#include <shellapi.h>

#include <exception>
#include <string>

#include "platform/text.h"

namespace tessaly {

CWnd::~CWnd() { Detach(); }

void CWnd::SetWindowText(const wchar_t* text) { ::SetWindowTextW(m_hWnd, text); }

CWnd* CWnd::GetDlgItem(int id) {
    HWND child = ::GetDlgItem(m_hWnd, id);
    if (child == nullptr) return nullptr;
    std::unique_ptr<CWnd>& item = m_children[id];
    if (!item) item = std::make_unique<CWnd>();
    item->m_hWnd = child;
    return item.get();
}

BOOL CWnd::ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }

BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }

void CWnd::GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

int CWnd::MessageBox(const wchar_t* text, const wchar_t* caption, UINT type) {
    return ::MessageBoxW(m_hWnd, text, caption, type);
}

void CWnd::DragAcceptFiles(BOOL accept) { ::DragAcceptFiles(m_hWnd, accept); }

HWND CWnd::SetActiveWindow() { return ::SetActiveWindow(m_hWnd); }

BOOL CWnd::SetForegroundWindow() { return ::SetForegroundWindow(m_hWnd); }

void CWnd::ActivateTopParent() {
    HWND foreground = ::GetForegroundWindow();
    if (foreground == m_hWnd || (foreground != nullptr && ::IsChild(m_hWnd, foreground))) return;
    ::SetForegroundWindow(::GetAncestor(m_hWnd, GA_ROOT));
}

const MessageMap* CWnd::GetMessageMap() const { return nullptr; }

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    for (const MessageMap* map = GetMessageMap(); map != nullptr; map = map->base) {
        for (size_t i = 0; i < map->count; ++i) {
            if (map->entries[i].message == message) return map->entries[i].handler(*this, wParam, lParam);
        }
    }
    return Default();
}

LRESULT CWnd::Default() {
    if (m_superProc == nullptr)
        return ::DefWindowProcW(m_hWnd, m_current.message, m_current.wParam, m_current.lParam);
    return ::CallWindowProcW(m_superProc, m_hWnd, m_current.message, m_current.wParam, m_current.lParam);
}

void CWnd::AttachSubclass(HWND window) {
    m_hWnd = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_superProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::SubclassProc)));
}

void CWnd::Detach() {
    if (m_hWnd != nullptr && m_superProc != nullptr && ::IsWindow(m_hWnd)) {
        ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_superProc));
        ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
    }
    m_superProc = nullptr;
    m_hWnd = nullptr;
}

LRESULT CALLBACK CWnd::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CWnd*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);

    // Handlers may send messages to their own window: keep the outer message for Default().
    const CurrentMessage outer = self->m_current;
    self->m_current = {message, wParam, lParam};
    LRESULT result = 0;
    try {
        result = self->WindowProc(message, wParam, lParam);
    } catch (const std::exception& e) {
        // An exception must not unwind through the system's frames; report it as the framework
        // does, in a box of its own.
        ::MessageBoxW(window, WideFromUtf8(e.what()).c_str(), nullptr, MB_OK | MB_ICONSTOP);
    }
    self->m_current = outer;

    if (message == WM_NCDESTROY) {
        // The window is gone (its default processing has run); the object may outlive it, as a
        // modal dialog does after DoModal.
        self->m_superProc = nullptr;
        self->m_hWnd = nullptr;
    }
    return result;
}

void CProgressCtrl::SetRange(short lower, short upper) {
    SendMessage(PBM_SETRANGE, 0, MAKELPARAM(lower, upper));
}

int CProgressCtrl::SetStep(int step) { return static_cast<int>(SendMessage(PBM_SETSTEP, static_cast<WPARAM>(step))); }

int CProgressCtrl::SetPos(int position) {
    return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(position)));
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    control.m_hWnd = ::GetDlgItem(dx->m_pDlgWnd->m_hWnd, id);
}

}  // namespace tessaly
