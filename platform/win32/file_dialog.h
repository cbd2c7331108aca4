#pragma once
// The save dialog in the platform's newer style (IFileSaveDialog), configured the way the
// framework's file dialog class is: default extension, default file name, a filter in the
// framework's "name|pattern|...||" notation, flags, and title and initial folder in m_ofn.
// Showing it goes through a replaceable function, so tests can stand in for the user.

#include <windows.h>
#include <commdlg.h>

#include <string>
#include <vector>

namespace tessaly {

class CWnd;

class CFileDialog {
public:
    struct FilterSpec {
        std::wstring name;
        std::wstring pattern;
    };

    // The default extension is referred to (it must outlive the dialog); the file name and the
    // filter are copied.
    CFileDialog(const wchar_t* defaultExtension, const wchar_t* fileName, DWORD flags, const wchar_t* filter,
                CWnd* parent);
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;

    // IDOK when a path was chosen, IDCANCEL when the user cancelled or the dialog failed.
    INT_PTR DoModal();
    // The full path chosen by the last DoModal that returned IDOK.
    const std::wstring& GetPathName() const { return m_pathName; }

    // Title (lpstrTitle), initial folder (lpstrInitialDir), flags and default extension; the
    // texts are referred to and must outlive DoModal.
    OPENFILENAMEW m_ofn{};

    const std::wstring& FileName() const { return m_fileName; }
    const std::vector<FilterSpec>& Filters() const { return m_filters; }
    HWND Owner() const { return m_owner; }

    // "name|pattern|name|pattern||": each "|" ends a part, the doubled one ends the list.
    static std::vector<FilterSpec> ParseFilter(const wchar_t* filter);

    // Shows the dialog for `dialog`'s settings; on IDOK puts the full path into `path`.
    using ShowFunction = INT_PTR (*)(const CFileDialog& dialog, std::wstring& path);
    static INT_PTR ShowSaveDialog(const CFileDialog& dialog, std::wstring& path);
    // Replaces how DoModal shows the dialog (tests); returns the previous function.
    static ShowFunction SetShowFunction(ShowFunction show);

private:
    std::wstring m_fileName;
    std::vector<FilterSpec> m_filters;
    HWND m_owner = nullptr;
    std::wstring m_pathName;
};

}  // namespace tessaly
