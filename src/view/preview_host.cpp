#include "view/preview_host.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "shell/win32/dib.h"
#include "shell/win32/kelvane_clsid.h"

namespace kelvane::view {

namespace {

constexpr GUID kBhidStream = {
    0x1cebb3ab, 0x7c10, 0x499a, {0xa4, 0x17, 0x92, 0xca, 0x16, 0xc4, 0xcb, 0x83}};

wchar_t* TaskCopy(const std::wstring& text) {
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(::CoTaskMemAlloc(bytes));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), bytes);
  return copy;
}

Bytes ReadFileBytes(const std::wstring& path) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  Bytes bytes;
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (1LL << 30)) {
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) read = 0;
    bytes.resize(read);
  }
  ::CloseHandle(file);
  return bytes;
}

}  // namespace

// ---- TKvStreamItem

TKvStreamItem::TKvStreamItem(ComPtr<IStream> stream, std::wstring name)
    : stream_(std::move(stream)), name_(std::move(name)) {}

STDMETHODIMP TKvStreamItem::BindToHandler(IBindCtx*, REFGUID handler, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (handler != kBhidStream || !stream_) return MK_E_NOOBJECT;
  return stream_->QueryInterface(iid, out);
}

STDMETHODIMP TKvStreamItem::GetParent(IShellItem** parent) {
  if (parent != nullptr) *parent = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP TKvStreamItem::GetDisplayName(SIGDN kind, LPWSTR* name) {
  if (name == nullptr) return E_POINTER;
  *name = nullptr;
  // Like an entry inside an archive: a name, but no file-system path.
  if (kind == SIGDN_FILESYSPATH) return E_FAIL;
  *name = TaskCopy(name_);
  return *name != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP TKvStreamItem::GetAttributes(SFGAOF, SFGAOF* attributes) {
  if (attributes != nullptr) *attributes = SFGAO_STREAM;
  return S_OK;
}

STDMETHODIMP TKvStreamItem::Compare(IShellItem* other, SICHINTF, int* order) {
  if (order != nullptr) *order = other == this ? 0 : 1;
  return other == this ? S_OK : S_FALSE;
}

// ---- TKvPreviewFrame

STDMETHODIMP TKvPreviewFrame::GetWindowContext(PREVIEWHANDLERFRAMEINFO* info) {
  if (info == nullptr) return E_INVALIDARG;
  info->haccel = nullptr;
  info->cAccelEntries = 0;
  return S_OK;
}

STDMETHODIMP TKvPreviewFrame::TranslateAccelerator(MSG* message) {
  ++keys_offered_;
  if (message != nullptr) offered_.push_back(*message);
  return take_keys ? S_OK : S_FALSE;
}

// ---- Helpers

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int size =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(size, 0)), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

ComPtr<IStream> KvMemoryStream(const Bytes& bytes) {
  return Adopt(
      ::SHCreateMemStream(bytes.empty() ? nullptr : bytes.data(), static_cast<UINT>(bytes.size())));
}

ComPtr<IShellItem> KvItemForPath(const std::wstring& path, bool stream_only) {
  ComPtr<IShellItem> item;
  if (stream_only) {
    const std::size_t slash = path.find_last_of(L"\\/");
    const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    ComPtr<IStream> stream = KvMemoryStream(ReadFileBytes(path));
    if (!stream) return item;
    return Adopt<IShellItem>(new TKvStreamItem(stream, name));
  }
  ::SHCreateItemFromParsingName(path.c_str(), nullptr, IID_PPV_ARGS(&item));
  return item;
}

TKvWindowPixels KvCaptureWindow(HWND window) {
  TKvWindowPixels out;
  RECT client{};
  if (window == nullptr || !::GetClientRect(window, &client)) return out;
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  if (width < 1 || height < 1) return out;
  const BITMAPINFO info = kelvane::win::KvTopDownInfo(width, height);
  const HDC dc = ::CreateCompatibleDC(nullptr);
  void* bits = nullptr;
  const HBITMAP bitmap = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (dc != nullptr && bitmap != nullptr && bits != nullptr) {
    const HGDIOBJ previous = ::SelectObject(dc, bitmap);
    ::SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    ::GdiFlush();
    out.Width = width;
    out.Height = height;
    const auto* begin = static_cast<const std::uint8_t*>(bits);
    out.Pixels.assign(begin, begin + static_cast<std::size_t>(width) * height * 4);
    ::SelectObject(dc, previous);
  }
  if (bitmap != nullptr) ::DeleteObject(bitmap);
  if (dc != nullptr) ::DeleteDC(dc);
  return out;
}

bool KvWriteBmp(const std::wstring& path, const TKvWindowPixels& pixels) {
  if (pixels.Width < 1 || pixels.Height < 1) return false;
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  info.biSize = sizeof(info);
  info.biWidth = pixels.Width;
  info.biHeight = -pixels.Height;
  info.biPlanes = 1;
  info.biBitCount = 32;
  info.biCompression = BI_RGB;
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(file) + sizeof(info);
  file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.Pixels.size());
  const HANDLE out = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  Bytes all(sizeof(file) + sizeof(info));
  std::memcpy(all.data(), &file, sizeof(file));
  std::memcpy(all.data() + sizeof(file), &info, sizeof(info));
  all.insert(all.end(), pixels.Pixels.begin(), pixels.Pixels.end());
  // What the screen shows is opaque; GDI leaves the alpha bytes of filled areas at 0.
  for (std::size_t i = sizeof(file) + sizeof(info) + 3; i < all.size(); i += 4) all[i] = 255;
  DWORD written = 0;
  const bool ok = ::WriteFile(out, all.data(), static_cast<DWORD>(all.size()), &written, nullptr) &&
                  written == all.size();
  ::CloseHandle(out);
  return ok;
}

// ---- TKvPreviewHost

TKvPreviewHost::TKvPreviewHost(const std::wstring& dll_path) {
  module_ = ::LoadLibraryW(dll_path.c_str());
  if (module_ == nullptr) return;
  get_class_object_ = reinterpret_cast<decltype(get_class_object_)>(
      reinterpret_cast<void*>(::GetProcAddress(module_, "DllGetClassObject")));
}

IClassFactory* TKvPreviewHost::Factory() {
  if (!factory_ && get_class_object_ != nullptr) {
    last_result_ = get_class_object_(kKvPreviewHandlerClsid, IID_IClassFactory,
                                     reinterpret_cast<void**>(factory_.GetAddressOf()));
  }
  return factory_.Get();
}

TKvPreviewHost::~TKvPreviewHost() {
  Close();
  factory_.Reset();
  // The DLL stays loaded: COM objects it made may still be referenced by the caller.
}

bool TKvPreviewHost::Open(const std::wstring& path, bool stream_only, HWND parent,
                          const RECT& rect) {
  const ComPtr<IShellItem> item = KvItemForPath(path, stream_only);
  if (!item) {
    last_result_ = E_FAIL;
    return false;
  }
  return OpenItem(item.Get(), parent, rect);
}

bool TKvPreviewHost::OpenItem(IShellItem* item, HWND parent, const RECT& rect) {
  Close();
  if (Factory() == nullptr) return false;
  last_result_ = factory_->CreateInstance(nullptr, IID_IPreviewHandler,
                                          reinterpret_cast<void**>(handler_.GetAddressOf()));
  if (FAILED(last_result_)) return false;
  ComPtr<IInitializeWithItem> init;
  last_result_ = handler_.As(&init);
  if (FAILED(last_result_)) return false;
  last_result_ = init->Initialize(item, STGM_READ);
  if (FAILED(last_result_)) return false;
  ComPtr<IObjectWithSite> with_site;
  if (SUCCEEDED(handler_.As(&with_site))) {
    frame_ = Adopt(new TKvPreviewFrame());
    with_site->SetSite(static_cast<IPreviewHandlerFrame*>(frame_.Get()));
  }
  last_result_ = handler_->SetWindow(parent, &rect);
  if (FAILED(last_result_)) return false;
  if (background) {
    ComPtr<IPreviewHandlerVisuals> visuals;
    last_result_ = handler_.As(&visuals);
    if (SUCCEEDED(last_result_)) last_result_ = visuals->SetBackgroundColor(*background);
    if (FAILED(last_result_)) return false;
  }
  last_result_ = handler_->DoPreview();
  return SUCCEEDED(last_result_);
}

void TKvPreviewHost::Resize(const RECT& rect) {
  if (handler_) handler_->SetRect(&rect);
}

HWND TKvPreviewHost::Window() const {
  HWND window = nullptr;
  ComPtr<IOleWindow> ole;
  if (handler_ && SUCCEEDED(handler_.As(&ole))) ole->GetWindow(&window);
  return window;
}

void TKvPreviewHost::Close() {
  if (handler_) handler_->Unload();
  handler_.Reset();
  frame_.Reset();
}

void KvTellShellAssociationsChanged() {
  ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

}  // namespace kelvane::view
