// PNG files through the system's imaging component (WIC), which every Windows
// since XP SP3 has: no image library to carry in the program. Pixels go in and
// out as 32-bit BGRA with straight alpha, the memory order of QZ_Pix_A32.
#include <initguid.h>  // the WIC class and format GUIDs, defined in this file
#include <windows.h>
#include <wincodec.h>

#include <cstring>
#include <string>
#include <vector>

#include "gui/png.h"

namespace {

// COM for the calling thread, for as long as the call runs. A thread already
// in another apartment model keeps it (RPC_E_CHANGED_MODE): WIC works in both.
class Com_Scope {
public:
    Com_Scope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~Com_Scope() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    Com_Scope(const Com_Scope&) = delete;
    Com_Scope& operator=(const Com_Scope&) = delete;

private:
    HRESULT hr_;
};

template <class T>
class Ref {
public:
    Ref() = default;
    ~Ref() {
        if (p_) p_->Release();
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T** out() { return &p_; }
    T* operator->() const { return p_; }
    T* get() const { return p_; }

private:
    T* p_ = nullptr;
};

std::wstring wide(const char* path) {
    const int n = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (n <= 0) return {};
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path, -1, w.data(), n);
    w.resize(static_cast<std::size_t>(n - 1));
    return w;
}

bool factory(Ref<IWICImagingFactory>& f) {
    return SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWICImagingFactory, reinterpret_cast<void**>(f.out())));
}

bool write_with(IWICImagingFactory* f, const std::wstring& path, const QZ_Picture& pic) {
    Ref<IWICStream> stream;
    if (FAILED(f->CreateStream(stream.out())) || FAILED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)))
        return false;
    Ref<IWICBitmapEncoder> enc;
    if (FAILED(f->CreateEncoder(GUID_ContainerFormatPng, nullptr, enc.out())) ||
        FAILED(enc->Initialize(stream.get(), WICBitmapEncoderNoCache)))
        return false;
    Ref<IWICBitmapFrameEncode> frame;
    Ref<IPropertyBag2> options;
    if (FAILED(enc->CreateNewFrame(frame.out(), options.out())) || FAILED(frame->Initialize(options.get())) ||
        FAILED(frame->SetSize(static_cast<UINT>(pic.width), static_cast<UINT>(pic.height))))
        return false;
    // The encoder may offer another format than the one asked for; then the
    // pixels would be read wrongly, so that is a failure.
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    if (FAILED(frame->SetPixelFormat(&format)) || !IsEqualGUID(format, GUID_WICPixelFormat32bppBGRA)) return false;
    const UINT stride = static_cast<UINT>(pic.width) * sizeof(QZ_Pix_A32);
    const UINT bytes = stride * static_cast<UINT>(pic.height);
    return SUCCEEDED(frame->WritePixels(static_cast<UINT>(pic.height), stride, bytes,
                                        reinterpret_cast<BYTE*>(pic.pixels))) &&
           SUCCEEDED(frame->Commit()) && SUCCEEDED(enc->Commit());
}

}  // namespace

bool QZ_png_write(const char* path, const QZ_Picture& pic) {
    if (!path || !pic.pixels || pic.width <= 0 || pic.height <= 0 || pic.width > 16384 || pic.height > 16384)
        return false;
    const std::wstring w = wide(path);
    if (w.empty()) return false;
    Com_Scope com;
    Ref<IWICImagingFactory> f;
    if (!factory(f)) return false;
    if (write_with(f.get(), w, pic)) return true;
    // No half-written picture stays behind under the name asked for.
    DeleteFileW(w.c_str());
    return false;
}

bool QZ_png_read(const char* path, QZ_Picture& pic) {
    if (!path) return false;
    const std::wstring w = wide(path);
    if (w.empty()) return false;
    Com_Scope com;
    Ref<IWICImagingFactory> f;
    if (!factory(f)) return false;
    Ref<IWICBitmapDecoder> dec;
    if (FAILED(f->CreateDecoderFromFilename(w.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                            dec.out())))
        return false;
    GUID container{};
    if (FAILED(dec->GetContainerFormat(&container)) || !IsEqualGUID(container, GUID_ContainerFormatPng)) return false;
    Ref<IWICBitmapFrameDecode> frame;
    UINT width = 0, height = 0;
    if (FAILED(dec->GetFrame(0, frame.out())) || FAILED(frame->GetSize(&width, &height))) return false;
    if (width == 0 || height == 0 || width > 16384 || height > 16384) return false;
    Ref<IWICFormatConverter> conv;
    if (FAILED(f->CreateFormatConverter(conv.out())) ||
        FAILED(conv->Initialize(frame.get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                WICBitmapPaletteTypeCustom)))
        return false;
    std::vector<QZ_Pix_A32> buf(static_cast<std::size_t>(width) * height);
    const UINT stride = width * sizeof(QZ_Pix_A32);
    if (FAILED(conv->CopyPixels(nullptr, stride, stride * height, reinterpret_cast<BYTE*>(buf.data())))) return false;
    pic.allocate(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
    std::memcpy(pic.pixels, buf.data(), buf.size() * sizeof(QZ_Pix_A32));
    return true;
}
