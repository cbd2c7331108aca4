#include "platform/win32/file_dialog.h"

#include <shobjidl.h>

#include "platform/win32/wnd.h"

namespace tessaly {

namespace {

CFileDialog::ShowFunction s_show = &CFileDialog::ShowSaveDialog;

// Releases a COM interface when it goes out of scope.
template <class T>
struct ComRelease {
    T* p = nullptr;
    ~ComRelease() {
        if (p != nullptr) p->Release();
    }
};

}  // namespace

CFileDialog::CFileDialog(const wchar_t* defaultExtension, const wchar_t* fileName, DWORD flags,
                         const wchar_t* filter, CWnd* parent)
    : m_fileName(fileName != nullptr ? fileName : L""),
      m_filters(ParseFilter(filter)),
      m_owner(parent != nullptr ? parent->m_hWnd : nullptr) {
    m_ofn.lStructSize = sizeof(m_ofn);
    m_ofn.hwndOwner = m_owner;
    m_ofn.Flags = flags;
    m_ofn.lpstrDefExt = defaultExtension;
}

std::vector<CFileDialog::FilterSpec> CFileDialog::ParseFilter(const wchar_t* filter) {
    std::vector<FilterSpec> recipes;
    if (filter == nullptr) return recipes;
    std::vector<std::wstring> parts;
    std::wstring part;
    for (const wchar_t* c = filter; *c != L'\0'; ++c) {
        if (*c != L'|') {
            part += *c;
            continue;
        }
        if (part.empty()) break;  // "||": the end of the list
        parts.push_back(part);
        part.clear();
    }
    for (size_t i = 0; i + 1 < parts.size(); i += 2) recipes.push_back({parts[i], parts[i + 1]});
    return recipes;
}

INT_PTR CFileDialog::DoModal() {
    std::wstring path;
    const INT_PTR result = s_show(*this, path);
    if (result == IDOK) m_pathName = path;
    return result;
}

CFileDialog::ShowFunction CFileDialog::SetShowFunction(ShowFunction show) {
    const ShowFunction previous = s_show;
    s_show = show;
    return previous;
}

INT_PTR CFileDialog::ShowSaveDialog(const CFileDialog& dialog, std::wstring& path) {
    // The dialog is a COM object; balance our own initialisation (S_FALSE: already initialised).
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INT_PTR result = IDCANCEL;
    {
        ComRelease<IFileSaveDialog> save;
        if (SUCCEEDED(::CoCreateInstance(CLSID_FileSaveDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileSaveDialog,
                                         reinterpret_cast<void**>(&save.p)))) {
            const OPENFILENAMEW& ofn = dialog.m_ofn;
            FILEOPENDIALOGOPTIONS options = 0;
            save.p->GetOptions(&options);
            options |= FOS_FORCEFILESYSTEM;
            if (ofn.Flags & OFN_OVERWRITEPROMPT) {
                options |= FOS_OVERWRITEPROMPT;
            } else {
                options &= ~static_cast<FILEOPENDIALOGOPTIONS>(FOS_OVERWRITEPROMPT);
            }
            save.p->SetOptions(options);

            std::vector<COMDLG_FILTERSPEC> types;
            for (const FilterSpec& recipe : dialog.Filters()) types.push_back({recipe.name.c_str(), recipe.pattern.c_str()});
            if (!types.empty()) save.p->SetFileTypes(static_cast<UINT>(types.size()), types.data());
            if (ofn.lpstrDefExt != nullptr) save.p->SetDefaultExtension(ofn.lpstrDefExt);
            if (!dialog.FileName().empty()) save.p->SetFileName(dialog.FileName().c_str());
            if (ofn.lpstrTitle != nullptr) save.p->SetTitle(ofn.lpstrTitle);
            if (ofn.lpstrInitialDir != nullptr && ofn.lpstrInitialDir[0] != L'\0') {
                ComRelease<IShellItem> folder;
                if (SUCCEEDED(::SHCreateItemFromParsingName(ofn.lpstrInitialDir, nullptr, IID_IShellItem,
                                                            reinterpret_cast<void**>(&folder.p))))
                    save.p->SetFolder(folder.p);
            }

            ComRelease<IShellItem> chosen;
            if (SUCCEEDED(save.p->Show(dialog.Owner())) && SUCCEEDED(save.p->GetResult(&chosen.p))) {
                PWSTR name = nullptr;
                if (SUCCEEDED(chosen.p->GetDisplayName(SIGDN_FILESYSPATH, &name))) {
                    path = name;
                    ::CoTaskMemFree(name);
                    result = IDOK;
                }
            }
        }
    }
    if (SUCCEEDED(com)) ::CoUninitialize();
    return result;
}

}  // namespace tessaly
