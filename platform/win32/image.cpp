#include "platform/win32/image.h"

#include <gdiplus.h>

namespace tessaly {

namespace {

// GDI+ is needed only while decoding: the picture is then an ordinary GDI bitmap.
class GdiplusSession {
public:
    GdiplusSession() {
        Gdiplus::GdiplusStartupInput input;
        m_ok = Gdiplus::GdiplusStartup(&m_token, &input, nullptr) == Gdiplus::Ok;
    }
    ~GdiplusSession() {
        if (m_ok) Gdiplus::GdiplusShutdown(m_token);
    }
    bool ok() const { return m_ok; }

private:
    ULONG_PTR m_token = 0;
    bool m_ok = false;
};

}  // namespace

HRESULT CImage::Load(IStream* stream) {
    Destroy();
    if (stream == nullptr) return E_POINTER;
    GdiplusSession gdiplus;
    if (!gdiplus.ok()) return E_FAIL;
    HBITMAP bitmap = nullptr;
    UINT width = 0, height = 0;
    {
        Gdiplus::Bitmap decoded(stream);
        if (decoded.GetLastStatus() != Gdiplus::Ok) return E_FAIL;
        width = decoded.GetWidth();
        height = decoded.GetHeight();
        // The background colour matters only for transparent pixels, which our pictures lack.
        if (decoded.GetHBITMAP(Gdiplus::Color(0, 0, 0), &bitmap) != Gdiplus::Ok) return E_FAIL;
    }
    m_bitmap = bitmap;
    m_width = static_cast<int>(width);
    m_height = static_cast<int>(height);
    return S_OK;
}

void CImage::Destroy() {
    if (m_bitmap != nullptr) ::DeleteObject(m_bitmap);
    m_bitmap = nullptr;
    m_width = m_height = 0;
}

BOOL CImage::Draw(HDC dc, int xDest, int yDest, int widthDest, int heightDest, int xSrc, int ySrc, int widthSrc,
                  int heightSrc) const {
    if (m_bitmap == nullptr) return FALSE;
    HDC source = ::CreateCompatibleDC(dc);
    if (source == nullptr) return FALSE;
    HGDIOBJ previous = ::SelectObject(source, m_bitmap);
    const BOOL drawn = ::StretchBlt(dc, xDest, yDest, widthDest, heightDest, source, xSrc, ySrc, widthSrc,
                                    heightSrc, SRCCOPY);
    ::SelectObject(source, previous);
    ::DeleteDC(source);
    return drawn;
}

}  // namespace tessaly
