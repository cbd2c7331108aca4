// The main dialog's background picture and its link areas.

#include <objbase.h>

#include <cstring>

#include "resources/resource.h"
#include "ui/hot_spot.h"
#include "ui/shell_seams.h"
#include "ui/tessaly_dlg.h"

namespace tessaly {

bool LoadBackgroundImage(CImage* image) {
    if (image == nullptr) return false;
    if (!image->IsNull()) image->Destroy();

    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(IDB_BACKGROUND), L"PNG");
    if (resource == nullptr) return false;
    HGLOBAL loaded = ::LoadResource(module, resource);
    if (loaded == nullptr) return false;
    const void* bytes = ::LockResource(loaded);
    const DWORD size = ::SizeofResource(module, resource);

    // The decoder reads from a stream; a stream over global memory needs a movable block.
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (block == nullptr) return true;
    if (void* copy = ::GlobalLock(block)) {
        if (bytes != nullptr) std::memcpy(copy, bytes, size);
        ::GlobalUnlock(block);
    }
    IStream* stream = nullptr;
    if (SUCCEEDED(::CreateStreamOnHGlobal(block, FALSE, &stream))) {
        image->Load(stream);
        stream->Release();
    }
    ::GlobalFree(block);
    return true;
}

BOOL CTessaly_Dlg::OnEraseBkgnd(HDC dc) {
    if (Default() == 0) return FALSE;
    const int width = m_backgroundImage.GetWidth();
    const int height = m_backgroundImage.GetHeight();
    // One picture pixel per screen pixel: the hot spots are in picture coordinates.
    return m_backgroundImage.Draw(dc, 0, 0, width, height, 0, 0, width, height);
}

void CTessaly_Dlg::OnMouseMove(UINT, POINT point) {
    if (HotSpotAt(point.x, point.y) != nullptr) ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
    Default();
}

void CTessaly_Dlg::OnLButtonDown(UINT, POINT point) {
    if (const HotSpot* spot = HotSpotAt(point.x, point.y)) seams::OpenPage(spot->page);
    Default();
}

}  // namespace tessaly
