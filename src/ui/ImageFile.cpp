#include "ui/ImageFile.h"

#include <wincodec.h>

#include <fstream>
#include <vector>

namespace ui {

namespace {

// Releases a COM interface at the end of its scope.
template <typename T>
struct ComRef {
    T* p = nullptr;
    ~ComRef() { Reset(); }
    void Reset() {
        if (p) p->Release();
        p = nullptr;
    }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
};

std::wstring Wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), n);
    wide.resize(static_cast<size_t>(n - 1));
    return wide;
}

enum class PngResult { Written, NoCodec, Failed };

PngResult WritePng(const std::string& path, const ImagePixels& image) {
    // COM on this thread for the codec; the file dialog has usually initialised it already.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    struct ComScope {
        bool own;
        ~ComScope() {
            if (own) CoUninitialize();
        }
    } scope{SUCCEEDED(com)};

    ComRef<IWICImagingFactory> factory;
    ComRef<IWICBitmapEncoder> encoder;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))) ||
        FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)))
        return PngResult::NoCodec;

    const std::wstring widePath = Wide(path);
    bool opened = false;
    const bool written = [&] {  // in a scope of its own, so the file is closed after it
        ComRef<IWICStream> stream;
        if (widePath.empty() || FAILED(factory->CreateStream(&stream)) ||
            FAILED(stream->InitializeFromFilename(widePath.c_str(), GENERIC_WRITE)))
            return false;
        opened = true;
        ComRef<IWICBitmapFrameEncode> frame;
        ComRef<IPropertyBag2> options;
        WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
        const UINT stride = image.Stride();
        return SUCCEEDED(encoder->Initialize(stream.p, WICBitmapEncoderNoCache)) &&
               SUCCEEDED(encoder->CreateNewFrame(&frame, &options)) &&
               SUCCEEDED(frame->Initialize(options.p)) &&
               SUCCEEDED(frame->SetSize(static_cast<UINT>(image.width),
                                        static_cast<UINT>(image.height))) &&
               SUCCEEDED(frame->SetPixelFormat(&format)) &&
               IsEqualGUID(format, GUID_WICPixelFormat24bppBGR) &&
               SUCCEEDED(frame->WritePixels(static_cast<UINT>(image.height), stride,
                                            stride * static_cast<UINT>(image.height),
                                            static_cast<BYTE*>(const_cast<void*>(image.bits)))) &&
               SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    }();
    encoder.Reset();  // it holds the stream, and so the file, open
    if (!written && opened) DeleteFileA(path.c_str());  // no half-written file left behind
    return written ? PngResult::Written : PngResult::Failed;
}

bool WriteBmp(const std::string& path, const ImagePixels& image) {
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = image.width;
    info.biHeight = -image.height;  // top-down rows, as they are in memory
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = image.Stride() * static_cast<UINT>(image.height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + info.biSizeImage;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    out.write(static_cast<const char*>(image.bits), info.biSizeImage);
    return static_cast<bool>(out.flush());
}

}  // namespace

std::string WriteImageFile(const std::string& path, const ImagePixels& image) {
    switch (WritePng(path, image)) {
        case PngResult::Written:
            return path;
        case PngResult::Failed:
            return {};
        case PngResult::NoCodec:
            break;
    }
    const size_t slash = path.find_last_of("\\/");
    const size_t dot = path.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string bmp = (hasExtension ? path.substr(0, dot) : path) + ".bmp";
    return WriteBmp(bmp, image) ? bmp : std::string{};
}

}  // namespace ui
