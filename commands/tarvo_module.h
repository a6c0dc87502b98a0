// commands/tarvo_module.h: the converter's module object, kept from load to unload: the object map
// of its two command classes, its lock count and its type library. The four entry points that make
// libtarvo.so an in-process server are exported from tarvo_module.cpp:
//   DllCanUnloadNow      S_OK when no object, class object or server lock is alive, else S_FALSE
//   DllGetClassObject    the class object of s572gdbCmd or gdb2s57Cmd; CLASS_E_CLASSNOTAVAILABLE otherwise
//   DllRegisterServer    both registry scripts, the command category of both classes, the type library
//   DllUnregisterServer  the reverse, in one atomic edit of the registry
#pragma once

#include "platform/com/class_factory.h"
#include "platform/com/module.h"

extern ComModule tarvoModule;

extern "C" {
HRESULT DllCanUnloadNow();
HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** out);
HRESULT DllRegisterServer();
HRESULT DllUnregisterServer();
}
