// commands/tarvo_lib.h: the converter's type library TarvoLib: the identifiers of its two command
// classes and their automation interfaces, and the description that drives their IDispatch.
#pragma once

#include "platform/com/categories.h"
#include "platform/com/com.h"
#include "platform/com/typelib.h"

inline constexpr CLSID CLSID_s572gdbCmd = makeGuid("{E9AC688E-46B0-4769-B0C8-F365F88402BF}");
inline constexpr CLSID CLSID_gdb2s57Cmd = makeGuid("{0C555C90-771A-4BE8-8714-13448F26D48D}");
inline constexpr GUID LIBID_TarvoLib = makeGuid("{90069FE3-3677-4628-A2EB-3746B3CF07BC}");

inline constexpr DISPID DISPID_s572gdb = 1;
inline constexpr DISPID DISPID_gdb2s57 = 1;

struct Is572gdbCmd : IDispatch {
    static constexpr GUID iid = makeGuid("{A5346882-CB84-4F8E-A565-89BC1CD69EF6}");
    using base_interface = IDispatch;
    virtual HRESULT s572gdb(BSTR s57file, BSTR gdbConn, BSTR fctdataset) = 0;

protected:
    ~Is572gdbCmd() = default;
};

struct Igdb2s57Cmd : IDispatch {
    static constexpr GUID iid = makeGuid("{44F0FCDF-7B49-4E57-A4C4-9BB102DE1DB9}");
    using base_interface = IDispatch;
    virtual HRESULT gdb2s57(BSTR gdbConn, BSTR fctdataset, BSTR s57path, BSTR s57cellname, BSTR catalogPath,
                            VARIANT_BOOL createTopology) = 0;

protected:
    ~Igdb2s57Cmd() = default;
};

_COM_SMARTPTR_TYPEDEF(Is572gdbCmd, __uuidof(Is572gdbCmd));
_COM_SMARTPTR_TYPEDEF(Igdb2s57Cmd, __uuidof(Igdb2s57Cmd));

inline constexpr ParamInfo kS572gdbParams[] = {{"s57file", VT_BSTR}, {"gdbConn", VT_BSTR}, {"fctdataset", VT_BSTR}};
inline constexpr MethodInfo kS572gdbMethods[] = {{"s572gdb", DISPID_s572gdb, kS572gdbParams}};
inline constexpr InterfaceInfo kIs572gdbCmdInfo = {"Is572gdbCmd", Is572gdbCmd::iid, "Is572gdbCmd Interface",
                                                  kS572gdbMethods};

inline constexpr ParamInfo kGdb2s57Params[] = {{"gdbConn", VT_BSTR},     {"fctdataset", VT_BSTR},
                                               {"s57path", VT_BSTR},     {"s57cellname", VT_BSTR},
                                               {"catalogPath", VT_BSTR}, {"createTopology", VT_BOOL}};
inline constexpr MethodInfo kGdb2s57Methods[] = {{"gdb2s57", DISPID_gdb2s57, kGdb2s57Params}};
inline constexpr InterfaceInfo kIgdb2s57CmdInfo = {"Igdb2s57Cmd", Igdb2s57Cmd::iid, "Igdb2s57Cmd Interface",
                                                  kGdb2s57Methods};

inline constexpr CoclassInfo kTarvoCoclasses[] = {
    {"s572gdbCmd", CLSID_s572gdbCmd, "s572gdbCmd Class", &kIs572gdbCmdInfo},
    {"gdb2s57Cmd", CLSID_gdb2s57Cmd, "gdb2s57Cmd Class", &kIgdb2s57CmdInfo},
};
inline constexpr TypeLibInfo kTarvoLib = {"TarvoLib", LIBID_TarvoLib, 1, 0, "Tarvo 1.0 Type Library",
                                          kTarvoCoclasses};
