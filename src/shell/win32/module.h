#pragma once

// Module-wide state of the COM server: the two counters that decide whether the DLL may be
// unloaded, the module's instance, and the page background brush.

#include <windows.h>

namespace kelvane::win {

// Live COM objects (factories and handlers) and server locks; changed atomically.
void AddLiveObject();
void RemoveLiveObject();
void ChangeServerLocks(bool lock);
bool ModuleInUse();

HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);

// The solid 0x2A2A2A brush, made on first use (the stock black brush when it cannot be made).
HBRUSH PageBrush();
// DllGetClassObject: a factory of preview handlers or thumbnail providers for their class ids.
HRESULT KvGetClassObject(REFCLSID clsid, REFIID iid, void** out);

// Frees what the module made: the brush, the window class.
void ModuleShutdown();

// Counts its owner among the live objects for as long as it exists.
class LiveObject {
 public:
  LiveObject() { AddLiveObject(); }
  LiveObject(const LiveObject&) = delete;
  LiveObject& operator=(const LiveObject&) = delete;
  ~LiveObject() { RemoveLiveObject(); }
};

}  // namespace kelvane::win
