#pragma once
// A modal dialog from a dialog template resource, with the framework's default behaviour: Enter
// and Escape end it through OnOK and OnCancel, closing it ends it with IDCANCEL.

#include "platform/win32/wnd.h"

namespace tessaly {

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);

    // Runs the dialog until EndDialog; returns the value given to it (-1 when it failed to start).
    INT_PTR DoModal();
    void EndDialog(int result);

    // Runs the data exchange; returns TRUE. The return value of OnInitDialog asks the system to
    // set the focus.
    virtual BOOL OnInitDialog();
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

protected:
    virtual void DoDataExchange(CDataExchange* dx);
    virtual void OnOK();
    virtual void OnCancel();

    const MessageMap* GetMessageMap() const override;
    void OnPaint();

private:
    LRESULT OnCommand(WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    CWnd* m_parent;
};

}  // namespace tessaly
