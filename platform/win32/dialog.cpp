#include "platform/win32/dialog.h"

namespace tessaly {

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_parent(parent) {}

INT_PTR CDialog::DoModal() {
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId),
                             m_parent != nullptr ? m_parent->m_hWnd : nullptr, &CDialog::DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(int result) { ::EndDialog(m_hWnd, result); }

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CDialog*>(lParam);
        // From here on every message reaches WindowProc first; this procedure is then only the
        // system dialog procedure's hook and leaves everything to it.
        self->AttachSubclass(window);
        return self->OnInitDialog();
    }
    return FALSE;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx{this, saveAndValidate};
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK() {
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::OnPaint() { Default(); }

LRESULT CDialog::OnCommand(WPARAM wParam, LPARAM) {
    // Enter and Escape arrive as the commands IDOK and IDCANCEL (the dialog manager's keyboard
    // handling), and so does the default processing of WM_CLOSE.
    switch (LOWORD(wParam)) {
        case IDOK:
            OnOK();
            return 0;
        case IDCANCEL:
            OnCancel();
            return 0;
        default:
            return Default();
    }
}

const MessageMap* CDialog::GetMessageMap() const {
    static constexpr MessageMapEntry kEntries[] = {
        ON_MESSAGE<&CDialog::OnCommand>(WM_COMMAND),
    };
    static constexpr MessageMap kMap{nullptr, kEntries, std::size(kEntries)};
    return &kMap;
}

}  // namespace tessaly
