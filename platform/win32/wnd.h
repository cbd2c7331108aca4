#pragma once
// Our thin stand-in for the application framework's window classes: a window object over an
// HWND, a static message map per class (message -> member handler, parameters cracked from the
// handler's signature), an overridable WindowProc and default processing.

#include <windows.h>

#include <cstddef>
#include <map>
#include <memory>

namespace tessaly {

class CWnd;

struct MessageMapEntry {
    UINT message;
    LRESULT (*handler)(CWnd& window, WPARAM wParam, LPARAM lParam);
};

// A class's own entries, then its base class's map.
struct MessageMap {
    const MessageMap* base;
    const MessageMapEntry* entries;
    size_t count;
};

class CWnd {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd();

    HWND GetSafeHwnd() const { return m_hWnd; }

    void SetWindowText(const wchar_t* text);
    // The child control `id`, as a window object owned by this one; null when there is none.
    CWnd* GetDlgItem(int id);
    BOOL ShowWindow(int command);
    BOOL IsIconic() const;
    void GetClientRect(RECT* rect) const;
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // A message box owned by this window; returns the button pressed.
    int MessageBox(const wchar_t* text, const wchar_t* caption, UINT type);
    void DragAcceptFiles(BOOL accept);
    HWND SetActiveWindow();
    BOOL SetForegroundWindow();
    // Brings this window's top-level window to the foreground unless the foreground window is
    // this one or one of its children.
    void ActivateTopParent();

    HWND m_hWnd = nullptr;

protected:
    // Every message of a subclassed window comes here first: the message map, else default
    // processing.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual const MessageMap* GetMessageMap() const;
    // Default processing of the message being handled (the window class's own procedure).
    LRESULT Default();

    // Routes the window's messages through WindowProc from now on.
    void AttachSubclass(HWND window);

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Detach();

    struct CurrentMessage {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    WNDPROC m_superProc = nullptr;
    CurrentMessage m_current{};
    std::map<int, std::unique_ptr<CWnd>> m_children;
};

// Handlers of a message map, called with the parameters their signature asks for.
namespace message_map_detail {

template <class C>
LRESULT Crack(C& self, void (C::*f)(), WPARAM, LPARAM) {
    (self.*f)();
    return 0;
}
template <class C>
LRESULT Crack(C& self, LRESULT (C::*f)(WPARAM, LPARAM), WPARAM wParam, LPARAM lParam) {
    return (self.*f)(wParam, lParam);
}
template <class C>
LRESULT Crack(C& self, BOOL (C::*f)(HDC), WPARAM wParam, LPARAM) {
    return (self.*f)(reinterpret_cast<HDC>(wParam));
}
template <class C>
LRESULT Crack(C& self, HCURSOR (C::*f)(), WPARAM, LPARAM) {
    return reinterpret_cast<LRESULT>((self.*f)());
}
template <class C>
LRESULT Crack(C& self, void (C::*f)(UINT, POINT), WPARAM wParam, LPARAM lParam) {
    // Signed: client coordinates left of or above the window are negative.
    const POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    (self.*f)(static_cast<UINT>(wParam), point);
    return 0;
}
template <class C>
LRESULT Crack(C& self, void (C::*f)(HDROP), WPARAM wParam, LPARAM) {
    (self.*f)(reinterpret_cast<HDROP>(wParam));
    return 0;
}

template <class F>
struct HandlerClass;
template <class C, class R, class... A>
struct HandlerClass<R (C::*)(A...)> {
    using type = C;
};

}  // namespace message_map_detail

// ON_MESSAGE<&CMyDialog::OnPaint>(WM_PAINT): one entry of a message map.
template <auto Handler>
constexpr MessageMapEntry ON_MESSAGE(UINT message) {
    using Class = typename message_map_detail::HandlerClass<decltype(Handler)>::type;
    return MessageMapEntry{message, [](CWnd& window, WPARAM wParam, LPARAM lParam) -> LRESULT {
                               return message_map_detail::Crack(static_cast<Class&>(window), Handler, wParam,
                                                                lParam);
                           }};
}

// A progress bar control (msctls_progress32).
class CProgressCtrl : public CWnd {
public:
    void SetRange(short lower, short upper);
    int SetStep(int step);
    int SetPos(int position);
};

// Data exchange between a dialog and its controls: here only binding controls to window objects.
struct CDataExchange {
    CWnd* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};

// Binds dialog control `id` to `control` (the control keeps its own window procedure).
void DDX_Control(CDataExchange* dx, int id, CWnd& control);

}  // namespace tessaly
