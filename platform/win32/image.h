#pragma once
// A decoded picture: PNG (or any format GDI+ reads) from a stream, kept as a device-independent
// bitmap and drawn one picture pixel per device pixel.

#include <windows.h>
#include <objidl.h>

namespace tessaly {

class CImage {
public:
    CImage() = default;
    CImage(const CImage&) = delete;
    CImage& operator=(const CImage&) = delete;
    ~CImage() { Destroy(); }

    // Decodes the stream; on failure the image stays empty and the failure code is returned.
    HRESULT Load(IStream* stream);
    void Destroy();
    bool IsNull() const { return m_bitmap == nullptr; }
    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    HBITMAP GetBitmap() const { return m_bitmap; }

    // Copies the source rectangle to the destination rectangle (stretched if their sizes
    // differ). FALSE when the image is empty or the copy fails.
    BOOL Draw(HDC dc, int xDest, int yDest, int widthDest, int heightDest, int xSrc, int ySrc, int widthSrc,
              int heightSrc) const;

private:
    HBITMAP m_bitmap = nullptr;
    int m_width = 0;
    int m_height = 0;
};

}  // namespace tessaly
