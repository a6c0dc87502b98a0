// platform/com/class_registry.h: creating objects by CLSID or ProgID, and the module path.
// The platform's own classes register a factory at load time; any other class is looked up in the
// registry and served by its module (platform/com/class_factory.h). CoCreateInstance answers
// REGDB_E_CLASSNOTREG for a class registered nowhere, and the results of class_factory.h otherwise.
#pragma once

#include "platform/com/basetypes.h"
#include "platform/com/guid.h"
#include "platform/com/unknown.h"

using ComFactory = HRESULT (*)(REFIID riid, void** out);

// Registers a class; a second registration of the same CLSID replaces the first. progId may be null.
void registerComClass(REFCLSID clsid, const char* progId, ComFactory factory);
void unregisterComClass(REFCLSID clsid);
// The factory of a class of the program's own table, or null.
ComFactory findComClass(REFCLSID clsid);

// A static object in a class's .cpp registers it when the library loads:
//   static ComClassRegistrar reg(CLSID_Point, "Geometry.Point.1", &createComInstance<Point>);
struct ComClassRegistrar {
    ComClassRegistrar(REFCLSID clsid, const char* progId, ComFactory factory) {
        registerComClass(clsid, progId, factory);
    }
};

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** out);
// A "{...}" text, a ProgID of the program's own table, or a ProgID of the registry (HKCR\ProgID\CLSID,
// or through its CurVer when it has none). CO_E_CLASSSTRING for any other text.
HRESULT CLSIDFromProgID(const char* progId, CLSID* clsid);
HRESULT CoInitialize(void* reserved);
void CoUninitialize();

// Path of the shared object (or executable) that contains the address `module`; null is the
// executable. Returns the length copied (the path is cut to size - 1 and NUL-terminated), 0 on failure.
DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size);
