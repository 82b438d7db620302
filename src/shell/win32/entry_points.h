#pragma once

// The operations the handler reaches only through this table, so that each can be replaced
// (by a test, say) without touching the handler: set to the normal implementations when the
// module starts.

#include <ole2.h>
#include <windows.h>

#include <string>

#include "common/bytes.h"
#include "render/charset.h"
#include "render/listing_render.h"

namespace kelvane::win {

struct TKvEntryPoints {
  // Draws the listing's rows (RenderRows); `max_rows` as DkRenderDiskPreview takes it.
  bool (*Render)(const TRenderRows& rows, int min_width, int scale, int max_rows,
                 TDkRenderImage& image, TDkCharset charset) = nullptr;
  // OleInitialize, DoDragDrop, OleUninitialize.
  HRESULT(*DragLoop)
  (IDataObject* data, IDropSource* source, DWORD allowed, DWORD* effect) = nullptr;
  SHORT(WINAPI* KeyState)(int virtual_key) = nullptr;
  HWND(WINAPI* MakeWindow)
  (DWORD ex_style, LPCWSTR class_name, LPCWSTR title, DWORD style, int x, int y, int width,
   int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID parameter) = nullptr;
  // The charset setting, in the key a process of that integrity may write.
  TDkCharset (*ReadCharset)(bool low_integrity) = nullptr;
  void (*WriteCharset)(TDkCharset charset, bool low_integrity) = nullptr;
  // The process's integrity level (KvProcessIntegrityLevel).
  DWORD (*IntegrityLevel)() = nullptr;
  // The DPI a window is drawn at (KvWindowDpi).
  int (*WindowDpi)(HWND window) = nullptr;
};

TKvEntryPoints& KvEntryPoints();
// Puts the normal implementations back.
void KvResetEntryPoints();

// The per-user charset setting: HKCU\Software\Kelvane (at low integrity
// HKCU\Software\AppDataLow\Software\Kelvane), value "Charset" (REG_DWORD, 1 for the lower/upper
// set). Reading anything else gives the upper/graphics set; write failures are ignored.
TDkCharset KvReadCharsetSetting(bool low_integrity);
void KvWriteCharsetSetting(TDkCharset charset, bool low_integrity);

// The DPI of `window` as its monitor and the process's awareness make it (GetDpiForWindow, looked
// up at run time: Windows before 10 version 1607 lacks it); the screen's where that is missing
// or answers 0, and 96 where neither can be read.
int KvWindowDpi(HWND window);

}  // namespace kelvane::win
