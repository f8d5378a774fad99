#include "installer/windows/WindowPicture.h"

#include <wincodec.h>

#include <vector>

#include "installer/windows/WinHandles.h"

namespace qvl {
namespace {

template <class T>
struct ComPtr {
    T* p = nullptr;
    ~ComPtr() {
        if (p) p->Release();
    }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
};

struct ComScope {
    HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~ComScope() {
        if (SUCCEEDED(hr)) ::CoUninitialize();
    }
};

struct ScreenDc {
    explicit ScreenDc(HWND w) : hwnd(w), dc(::GetDC(w)) {}
    ~ScreenDc() {
        if (dc) ::ReleaseDC(hwnd, dc);
    }
    HWND hwnd;
    HDC dc;
};

struct MemoryDc {
    explicit MemoryDc(HDC like) : dc(::CreateCompatibleDC(like)) {}
    ~MemoryDc() {
        if (dc) ::DeleteDC(dc);
    }
    HDC dc;
};

std::wstring Wide(const std::string& text) {
    const int n = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out.data(), n);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

}  // namespace

bool SaveWindowPicture(HWND hwnd, const std::string& file) {
    RECT client;
    if (!::GetClientRect(hwnd, &client) || client.right <= 0 || client.bottom <= 0) return false;
    const int width = client.right, height = client.bottom;

    ScreenDc screen(hwnd);
    if (!screen.dc) return false;
    MemoryDc memory(screen.dc);
    Bitmap bitmap(::CreateCompatibleBitmap(screen.dc, width, height));
    if (!memory.dc || !bitmap) return false;
    const HGDIOBJ old = ::SelectObject(memory.dc, bitmap.get());
    const bool copied = ::BitBlt(memory.dc, 0, 0, width, height, screen.dc, 0, 0, SRCCOPY) != FALSE;
    ::SelectObject(memory.dc, old);
    if (!copied) return false;

    ComScope com;
    if (FAILED(com.hr)) return false;
    ComPtr<IWICImagingFactory> factory;
    if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  reinterpret_cast<void**>(&factory))))
        return false;
    ComPtr<IWICBitmap> source;
    if (FAILED(factory->CreateBitmapFromHBITMAP(bitmap.get(), nullptr, WICBitmapIgnoreAlpha, &source))) return false;
    ComPtr<IWICStream> stream;
    if (FAILED(factory->CreateStream(&stream))) return false;
    if (FAILED(stream->InitializeFromFilename(Wide(file).c_str(), GENERIC_WRITE))) return false;
    ComPtr<IWICBitmapEncoder> encoder;
    if (FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder))) return false;
    if (FAILED(encoder->Initialize(stream.p, WICBitmapEncoderNoCache))) return false;
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
    if (FAILED(encoder->CreateNewFrame(&frame, &options))) return false;
    if (FAILED(frame->Initialize(options.p))) return false;
    if (FAILED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height)))) return false;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(frame->SetPixelFormat(&format))) return false;
    if (FAILED(frame->WriteSource(source.p, nullptr))) return false;
    if (FAILED(frame->Commit())) return false;
    return SUCCEEDED(encoder->Commit());
}

}  // namespace qvl
