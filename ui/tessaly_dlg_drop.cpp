// The main dialog's side of a drop: identifying the image, choosing the output, starting the build.

#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "builder/output_checks.h"
#include "iso/disc_identity.h"
#include "platform/file_identity.h"
#include "platform/win32/file_dialog.h"
#include "ui/message_catalogue.h"
#include "ui/output_choice.h"
#include "ui/shell_seams.h"
#include "ui/tessaly_dlg.h"

namespace tessaly {

void CTessaly_Dlg::OnDropFiles(HDROP drop) {
    wchar_t dropped[MAX_PATH] = {};
    ::DragQueryFileW(drop, 0, dropped, MAX_PATH);
    ::DragFinish(drop);
    std::wmemcpy(m_sourcePath, dropped, MAX_PATH);
    SetActiveWindow();
    SetForegroundWindow();

    const int refusal = RefusalMessageFor(static_cast<int>(identifyDisc(SourcePath())));
    if (refusal != 0) {
        MessageBox(MessageCatalogue::Load(refusal), MessageCatalogue::Load(136), MB_OK | MB_ICONERROR);
        return;
    }
    m_statusText->SetWindowText(MessageCatalogue::Load(160));

    for (;;) {
        // Catalogue texts live in a ring of slots: the dialog keeps copies of its own.
        const std::wstring extension = MessageCatalogue::Load(140);
        const std::wstring fileName = DefaultOutputFileName(MessageCatalogue::Load(134), m_versionText);
        const std::wstring filter = MessageCatalogue::Load(141);
        const std::wstring title = MessageCatalogue::Load(142);
        std::vector<wchar_t> folder(std::wcslen(m_sourcePath) + 1);
        GetParentDirectory(m_sourcePath, folder.data());

        CFileDialog dialog(extension.c_str(), fileName.c_str(), OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                           filter.c_str(), this);
        dialog.m_ofn.lpstrTitle = title.c_str();
        dialog.m_ofn.lpstrInitialDir = folder[0] != L'\0' ? folder.data() : nullptr;
        if (dialog.DoModal() != IDOK) {
            m_statusText->SetWindowText(MessageCatalogue::Load(159));
            return;
        }
        const std::wstring& chosen = dialog.GetPathName();
        const size_t length = std::min(chosen.size(), kWindowTextLength);
        std::wmemcpy(m_outputPath, chosen.c_str(), length);
        m_outputPath[length] = L'\0';

        // Any alias of the source counts too: the job would truncate the user's only image.
        const bool sameAsSource = IsSamePath(m_outputPath, m_sourcePath) || IsSameFile(OutputPath(), SourcePath());
        const OutputVerdict verdict =
            JudgeOutput(sameAsSource, seams::AvailableBytes(OutputPath()), RequiredFreeBytes(*m_package));
        if (verdict == OutputVerdict::Accept) break;
        MessageBox(MessageCatalogue::Load(verdict == OutputVerdict::SameAsSource ? 143 : 144),
                   MessageCatalogue::Load(135), MB_OK | MB_ICONINFORMATION);
    }
    StartBuild();
}

}  // namespace tessaly
