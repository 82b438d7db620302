// kelvane-view: a window that shows one disk image through the preview handler DLL beside it,
// exactly as Explorer's preview pane hosts it.
//
//   kelvane-view IMAGE [--stream] [--shot OUT.bmp] [--size WxH] [--dll PATH]
//   kelvane-view --associations-changed

#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "view/preview_host.h"

namespace {

using kelvane::view::TKvPreviewHost;

constexpr wchar_t kUsage[] =
    L"usage: kelvane-view IMAGE [--stream] [--shot OUT.bmp] [--size WxH] [--dll PATH]\n"
    L"       kelvane-view --associations-changed\n"
    L"  --stream      read the image through a stream only, as for a file inside an archive\n"
    L"  --shot FILE   save the preview's pixels as a 32-bit BMP after the first paint and exit\n"
    L"  --size WxH    the preview's size in pixels (default 640x480)\n"
    L"  --dll PATH    the preview handler to load (default: kelvane_preview.dll beside this)\n"
    L"  --associations-changed\n"
    L"                tell Explorer that file associations changed (after installing or\n"
    L"                removing the preview handler) and exit\n";

struct Options {
  std::wstring image;
  std::wstring shot;
  std::wstring dll;
  bool stream = false;
  bool associations_changed = false;
  int width = 640;
  int height = 480;
};

struct App {
  TKvPreviewHost* host = nullptr;
  std::wstring shot;
  bool shot_taken = false;
  bool shot_ok = false;
};

App g_app;

void Complain(const std::wstring& text) {
  std::fwprintf(stderr, L"kelvane-view: %ls\n", text.c_str());
}

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--stream") {
      options.stream = true;
    } else if (arg == L"--associations-changed") {
      options.associations_changed = true;
    } else if (arg == L"--dll" && i + 1 < argc) {
      options.dll = argv[++i];
    } else if (arg == L"--shot" && i + 1 < argc) {
      options.shot = argv[++i];
    } else if (arg == L"--size" && i + 1 < argc) {
      if (std::swscanf(argv[++i], L"%dx%d", &options.width, &options.height) != 2 ||
          options.width < 1 || options.height < 1 || options.width > 16384 ||
          options.height > 16384) {
        Complain(L"--size takes WIDTHxHEIGHT, for example 640x480");
        return false;
      }
    } else if (!arg.empty() && arg[0] == L'-') {
      Complain(L"unknown option '" + arg + L"'");
      return false;
    } else if (options.image.empty()) {
      options.image = arg;
    } else {
      Complain(L"give one image");
      return false;
    }
  }
  if (options.associations_changed) {
    if (options.image.empty()) return true;
    Complain(L"--associations-changed takes no image");
    return false;
  }
  if (options.image.empty()) {
    std::fwprintf(stderr, L"%ls", kUsage);
    return false;
  }
  return true;
}

std::wstring Beside(const std::wstring& name) {
  wchar_t own[MAX_PATH * 4] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, own, MAX_PATH * 4);
  std::wstring path(own, length);
  const std::size_t slash = path.find_last_of(L"\\/");
  return (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) + name;
}

std::wstring FullPath(const std::wstring& path) {
  wchar_t full[MAX_PATH * 4] = {};
  const DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
  return length > 0 && length < MAX_PATH * 4 ? std::wstring(full, length) : path;
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SIZE:
      if (g_app.host != nullptr) {
        RECT rect{0, 0, LOWORD(lparam), HIWORD(lparam)};
        g_app.host->Resize(rect);
      }
      return 0;
    case WM_SETFOCUS:
      if (g_app.host != nullptr && g_app.host->Handler() != nullptr) {
        g_app.host->Handler()->SetFocus();
      }
      return 0;
    case WM_CLOSE:
      ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wparam, lparam);
  }
}

int Run(const Options& options) {
  const std::wstring image = FullPath(options.image);
  if (::GetFileAttributesW(image.c_str()) == INVALID_FILE_ATTRIBUTES) {
    Complain(L"cannot open " + options.image);
    return 1;
  }
  const std::wstring dll =
      options.dll.empty() ? Beside(L"kelvane_preview.dll") : FullPath(options.dll);
  TKvPreviewHost host(dll);
  if (!host.Ok()) {
    Complain(L"the preview handler could not be loaded from " + dll);
    return 1;
  }
  g_app.host = &host;
  g_app.shot = options.shot;

  WNDCLASSEXW frame_class{};
  frame_class.cbSize = sizeof(frame_class);
  frame_class.lpfnWndProc = FrameProc;
  frame_class.hInstance = ::GetModuleHandleW(nullptr);
  frame_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  frame_class.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
  frame_class.lpszClassName = L"KelvaneViewFrame";
  if (!::RegisterClassExW(&frame_class)) return 1;

  RECT outer{0, 0, options.width, options.height};
  const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  ::AdjustWindowRect(&outer, style, FALSE);
  const std::wstring title = L"Kelvane - " + options.image;
  const HWND frame =
      ::CreateWindowExW(0, frame_class.lpszClassName, title.c_str(), style, CW_USEDEFAULT,
                        CW_USEDEFAULT, outer.right - outer.left, outer.bottom - outer.top, nullptr,
                        nullptr, frame_class.hInstance, nullptr);
  if (frame == nullptr) return 1;
  RECT client{};
  ::GetClientRect(frame, &client);
  if (!host.Open(image, options.stream, frame, client)) {
    Complain(L"the preview could not be started");
    ::DestroyWindow(frame);
    return 1;
  }
  ::ShowWindow(frame, options.shot.empty() ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE);
  ::UpdateWindow(frame);

  if (!options.shot.empty()) {
    // The first paint has happened once UpdateWindow returns; the pixels are taken from the
    // handler's window itself.
    ::UpdateWindow(host.Window());
    const bool saved =
        kelvane::view::KvWriteBmp(options.shot, kelvane::view::KvCaptureWindow(host.Window()));
    host.Close();
    ::DestroyWindow(frame);
    if (!saved) Complain(L"the picture could not be saved to " + options.shot);
    return saved ? 0 : 1;
  }

  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  host.Close();
  g_app.host = nullptr;
  return 0;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argv == nullptr) return 2;
  Options options;
  const bool parsed = ParseOptions(argc, argv, options);
  ::LocalFree(argv);
  if (!parsed) return 2;
  if (options.associations_changed) {
    kelvane::view::KvTellShellAssociationsChanged();
    return 0;
  }
  if (FAILED(::OleInitialize(nullptr))) return 1;
  const int status = Run(options);
  ::OleUninitialize();
  return status;
}
