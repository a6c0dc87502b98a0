// platform/host/host.h: the GIS desktop host as the add-ins see it: the application with its status
// bar, extensions and command bars; the map document and its events; the focus map, its feature
// layers, renderers and labels; layer files; the file system object; and the interfaces that the
// add-ins implement (ICommand, IExtension, IExtensionConfig).
//
// As in platform/gdb, each interface has raw methods (get_X / put_X / putref_X / raw_Name) that
// return an HRESULT and never throw, and wrappers (GetX / PutX / PutRefX / Name) that raise
// _com_error with the description the method left. The host's own objects (platform/host/*.h)
// are made by the host program; the creatable classes are at the end of this file.
//
// Semantics a caller relies on:
// - A UID's value is a ProgID or a "{GUID}" text; two UIDs name the same class when their values
//   resolve to one CLSID (a value that names no registered class compares as text, case ignored).
// - The map's layer enumeration walks a snapshot taken when it was made: removing layers while
//   enumerating skips none.
// - ICommandBars::Find finds bars, items on bars, and then the commands of the application's
//   pool that no bar holds yet (as an item that stands on no bar).
// - The document keeps its event sinks until they are unadvised.
#pragma once

#include "platform/com/com.h"
#include "platform/gdb/gdb.h"
#include "platform/geometry/geometry.h"

// ---- Results -------------------------------------------------------------------------------------
constexpr HRESULT HOST_E_BAD_LAYER_FILE = hresultOf(0x80042001);  // not a layer file; description says why
constexpr HRESULT HOST_E_NOT_FOUND = hresultOf(0x80042002);       // no such layer, item or class
constexpr HRESULT HOST_E_BAD_MAP = hresultOf(0x80042003);         // not a map document

namespace host_detail {
using ::check;  // com_error.h's, for the wrapper bodies below
inline _bstr_t takeText(BSTR s) { return _bstr_t(s, false); }
}  // namespace host_detail

#define HOST_TEXT_GET(Name)                              \
    _bstr_t Get##Name() {                                \
        BSTR out = nullptr;                              \
        host_detail::check(get_##Name(&out));            \
        return host_detail::takeText(out);               \
    }
#define HOST_TEXT_PUT(Name) \
    void Put##Name(const _bstr_t& v) { host_detail::check(put_##Name(v.GetBSTR())); }
#define HOST_VALUE_GET(Type, Name)             \
    Type Get##Name() {                         \
        Type out{};                            \
        host_detail::check(get_##Name(&out));  \
        return out;                            \
    }
#define HOST_VALUE_PUT(Type, Name) \
    void Put##Name(Type v) { host_detail::check(put_##Name(v)); }
#define HOST_PTR_GET(Iface, Name)                  \
    _com_ptr_t<Iface> Get##Name() {                \
        Iface* out = nullptr;                      \
        host_detail::check(get_##Name(&out));      \
        return _com_ptr_t<Iface>(out, false);      \
    }
#define HOST_PTR_PUTREF(Iface, Name) \
    void PutRef##Name(Iface* v) { host_detail::check(putref_##Name(v)); }

// ---- Identifiers ---------------------------------------------------------------------------------

struct IUID : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E01}");
    using base_interface = IUnknown;
    virtual HRESULT get_Value(BSTR* value) = 0;
    virtual HRESULT put_Value(BSTR value) = 0;

    HOST_TEXT_GET(Value)
    HOST_TEXT_PUT(Value)
};

// ---- Status bar and files ------------------------------------------------------------------------

struct IStatusBar : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E02}");
    using base_interface = IUnknown;
    virtual HRESULT put_Message(LONG pane, BSTR text) = 0;
    virtual HRESULT get_Message(LONG pane, BSTR* text) = 0;

    void PutMessage(LONG pane, const _bstr_t& text) { host_detail::check(put_Message(pane, text.GetBSTR())); }
    _bstr_t GetMessage(LONG pane) {
        BSTR out = nullptr;
        host_detail::check(get_Message(pane, &out));
        return host_detail::takeText(out);
    }
};

// "Scripting.FileSystemObject": "\" and "/" both separate folders in a path.
struct IFileSystemObject : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E03}");
    using base_interface = IUnknown;
    virtual HRESULT raw_FileExists(BSTR path, VARIANT_BOOL* exists) = 0;

    VARIANT_BOOL FileExists(const _bstr_t& path) {
        VARIANT_BOOL out = VARIANT_FALSE;
        host_detail::check(raw_FileExists(path.GetBSTR(), &out));
        return out;
    }
};

// ---- Renderers and labels ------------------------------------------------------------------------

// How a feature layer is drawn. The kinds (simple, unique values, class breaks) are host objects
// (platform/host/renderer.h); an add-in only moves them between layer files and layers.
struct IFeatureRenderer : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E10}");
    using base_interface = IUnknown;
    // False (with the reason as the description left) when the class lacks a field it draws by.
    virtual HRESULT raw_CanRender(IFeatureClass* featureClass, VARIANT_BOOL* can) = 0;

    VARIANT_BOOL CanRender(IFeatureClass* featureClass) {
        VARIANT_BOOL out = VARIANT_FALSE;
        host_detail::check(raw_CanRender(featureClass, &out));
        return out;
    }
};

struct IAnnotateLayerProperties : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E11}");
    using base_interface = IUnknown;
    virtual HRESULT get_Class(BSTR* name) = 0;
    virtual HRESULT put_Class(BSTR name) = 0;

    HOST_TEXT_GET(Class)
    HOST_TEXT_PUT(Class)
};

// A label class whose text is an expression over the fields ("[Depth]").
struct ILabelEngineLayerProperties : IAnnotateLayerProperties {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E12}");
    using base_interface = IAnnotateLayerProperties;
    virtual HRESULT get_Expression(BSTR* text) = 0;
    virtual HRESULT put_Expression(BSTR text) = 0;

    HOST_TEXT_GET(Expression)
    HOST_TEXT_PUT(Expression)
};

struct IAnnotateLayerPropertiesCollection : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E13}");
    using base_interface = IUnknown;
    virtual HRESULT raw_Clear() = 0;
    virtual HRESULT raw_Add(IAnnotateLayerProperties* item) = 0;
    virtual HRESULT get_Count(LONG* count) = 0;
    virtual HRESULT raw_QueryItem(LONG index, IAnnotateLayerProperties** item) = 0;

    void Clear() { host_detail::check(raw_Clear()); }
    void Add(IAnnotateLayerProperties* item) { host_detail::check(raw_Add(item)); }
    HOST_VALUE_GET(LONG, Count)
    _com_ptr_t<IAnnotateLayerProperties> QueryItem(LONG index) {
        IAnnotateLayerProperties* out = nullptr;
        host_detail::check(raw_QueryItem(index, &out));
        return _com_ptr_t<IAnnotateLayerProperties>(out, false);
    }
};

// ---- Layers and maps -----------------------------------------------------------------------------

struct ILayer : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E20}");
    using base_interface = IUnknown;
    virtual HRESULT get_Name(BSTR* name) = 0;
    virtual HRESULT put_Name(BSTR name) = 0;
    // The full extent of what the layer shows (an empty envelope for no features); a new object.
    virtual HRESULT get_AreaOfInterest(IEnvelope** extent) = 0;
    virtual HRESULT get_Valid(VARIANT_BOOL* valid) = 0;  // false when its data source is broken

    HOST_TEXT_GET(Name)
    HOST_TEXT_PUT(Name)
    HOST_PTR_GET(IEnvelope, AreaOfInterest)
    HOST_VALUE_GET(VARIANT_BOOL, Valid)
};

struct IFeatureLayer : ILayer {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E21}");
    using base_interface = ILayer;
    virtual HRESULT get_FeatureClass(IFeatureClass** featureClass) = 0;  // null when the source is broken
    virtual HRESULT putref_FeatureClass(IFeatureClass* featureClass) = 0;

    HOST_PTR_GET(IFeatureClass, FeatureClass)
    HOST_PTR_PUTREF(IFeatureClass, FeatureClass)
};

// A feature layer with a renderer and labels.
struct IGeoFeatureLayer : IFeatureLayer {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E22}");
    using base_interface = IFeatureLayer;
    virtual HRESULT get_Renderer(IFeatureRenderer** renderer) = 0;
    virtual HRESULT putref_Renderer(IFeatureRenderer* renderer) = 0;
    virtual HRESULT get_AnnotationProperties(IAnnotateLayerPropertiesCollection** labels) = 0;
    virtual HRESULT get_DisplayAnnotation(VARIANT_BOOL* on) = 0;
    virtual HRESULT put_DisplayAnnotation(VARIANT_BOOL on) = 0;

    HOST_PTR_GET(IFeatureRenderer, Renderer)
    HOST_PTR_PUTREF(IFeatureRenderer, Renderer)
    HOST_PTR_GET(IAnnotateLayerPropertiesCollection, AnnotationProperties)
    HOST_VALUE_GET(VARIANT_BOOL, DisplayAnnotation)
    HOST_VALUE_PUT(VARIANT_BOOL, DisplayAnnotation)
};

// Next gives S_FALSE and null after the last.
struct IEnumLayer : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E23}");
    using base_interface = IUnknown;
    virtual HRESULT raw_Next(ILayer** layer) = 0;
    virtual HRESULT raw_Reset() = 0;

    _com_ptr_t<ILayer> Next() {
        ILayer* out = nullptr;
        host_detail::check(raw_Next(&out));
        return _com_ptr_t<ILayer>(out, false);
    }
    void Reset() { host_detail::check(raw_Reset()); }
};

struct IMap : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E24}");
    using base_interface = IUnknown;
    virtual HRESULT get_Name(BSTR* name) = 0;
    virtual HRESULT get_LayerCount(LONG* count) = 0;
    virtual HRESULT get_Layer(LONG index, ILayer** layer) = 0;  // E_INVALIDARG out of range
    // filter: a UID naming an interface the layers must have (ILayer's iid as "{...}"), or null for
    // all; recursive is accepted (the map holds no group layers).
    virtual HRESULT get_Layers(IUID* filter, VARIANT_BOOL recursive, IEnumLayer** layers) = 0;
    virtual HRESULT raw_AddLayer(ILayer* layer) = 0;     // at the top (index 0)
    virtual HRESULT raw_DeleteLayer(ILayer* layer) = 0;  // HOST_E_NOT_FOUND when not in the map

    HOST_TEXT_GET(Name)
    HOST_VALUE_GET(LONG, LayerCount)
    _com_ptr_t<ILayer> GetLayer(LONG index) {
        ILayer* out = nullptr;
        host_detail::check(get_Layer(index, &out));
        return _com_ptr_t<ILayer>(out, false);
    }
    _com_ptr_t<IEnumLayer> GetLayers(IUID* filter, VARIANT_BOOL recursive) {
        IEnumLayer* out = nullptr;
        host_detail::check(get_Layers(filter, recursive, &out));
        return _com_ptr_t<IEnumLayer>(out, false);
    }
    void AddLayer(ILayer* layer) { host_detail::check(raw_AddLayer(layer)); }
    void DeleteLayer(ILayer* layer) { host_detail::check(raw_DeleteLayer(layer)); }
};

// The map seen as the view that shows it.
struct IActiveView : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E25}");
    using base_interface = IUnknown;
    virtual HRESULT get_Extent(IEnvelope** extent) = 0;  // a copy
    virtual HRESULT put_Extent(IEnvelope* extent) = 0;
    virtual HRESULT raw_Refresh() = 0;

    HOST_PTR_GET(IEnvelope, Extent)
    void PutExtent(IEnvelope* e) { host_detail::check(put_Extent(e)); }
    void Refresh() { host_detail::check(raw_Refresh()); }
};

// The layer-file object: Open reads a layer file; Layer is null when the file holds none.
struct ILayerFile : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E26}");
    using base_interface = IUnknown;
    virtual HRESULT raw_Open(BSTR path) = 0;  // HOST_E_BAD_LAYER_FILE, the reason as description
    virtual HRESULT get_Layer(ILayer** layer) = 0;
    virtual HRESULT raw_Close() = 0;

    void Open(const _bstr_t& path) { host_detail::check(raw_Open(path.GetBSTR())); }
    HOST_PTR_GET(ILayer, Layer)
    void Close() { host_detail::check(raw_Close()); }
};

// ---- Commands, command bars, extensions ----------------------------------------------------------

// A command of an add-in. The host calls OnCreate once with the application as the hook, asks
// Enabled before each click, and calls OnClick.
struct ICommand : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E30}");
    using base_interface = IUnknown;
    virtual HRESULT get_Enabled(VARIANT_BOOL* enabled) = 0;
    virtual HRESULT get_Checked(VARIANT_BOOL* checked) = 0;
    virtual HRESULT get_Name(BSTR* name) = 0;
    virtual HRESULT get_Caption(BSTR* caption) = 0;
    virtual HRESULT get_Tooltip(BSTR* tooltip) = 0;
    virtual HRESULT get_Message(BSTR* message) = 0;
    virtual HRESULT get_HelpFile(BSTR* file) = 0;
    virtual HRESULT get_HelpContextID(LONG* id) = 0;
    virtual HRESULT get_Bitmap(LONG* bitmap) = 0;
    virtual HRESULT get_Category(BSTR* category) = 0;
    virtual HRESULT raw_OnCreate(IUnknown* hook) = 0;
    virtual HRESULT raw_OnClick() = 0;

    HOST_VALUE_GET(VARIANT_BOOL, Enabled)
    HOST_VALUE_GET(VARIANT_BOOL, Checked)
    HOST_TEXT_GET(Name)
    HOST_TEXT_GET(Caption)
    HOST_TEXT_GET(Tooltip)
    HOST_TEXT_GET(Message)
    HOST_TEXT_GET(Category)
    void OnCreate(IUnknown* hook) { host_detail::check(raw_OnCreate(hook)); }
    void OnClick() { host_detail::check(raw_OnClick()); }
};

// One entry of a command bar (a command's button, or a bar itself).
struct ICommandItem : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E31}");
    using base_interface = IUnknown;
    virtual HRESULT get_ID(IUID** id) = 0;  // a new UID holding the item's value
    virtual HRESULT get_Caption(BSTR* caption) = 0;
    virtual HRESULT get_Group(VARIANT_BOOL* group) = 0;  // a separator stands before the item
    virtual HRESULT put_Group(VARIANT_BOOL group) = 0;
    virtual HRESULT raw_Refresh() = 0;
    virtual HRESULT raw_Execute() = 0;  // clicks the command when it is enabled

    HOST_PTR_GET(IUID, ID)
    HOST_TEXT_GET(Caption)
    HOST_VALUE_GET(VARIANT_BOOL, Group)
    HOST_VALUE_PUT(VARIANT_BOOL, Group)
    void Refresh() { host_detail::check(raw_Refresh()); }
    void Execute() { host_detail::check(raw_Execute()); }
};

// A bar: its items by index; Add places a command (by UID) at an index, 0 to Count (E_INVALIDARG
// otherwise; VT_EMPTY appends).
struct ICommandBar : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E32}");
    using base_interface = IUnknown;
    virtual HRESULT get_Count(LONG* count) = 0;
    virtual HRESULT get_Item(LONG index, ICommandItem** item) = 0;
    virtual HRESULT raw_Add(IUID* id, const VARIANT* index, ICommandItem** item) = 0;

    HOST_VALUE_GET(LONG, Count)
    _com_ptr_t<ICommandItem> GetItem(LONG index) {
        ICommandItem* out = nullptr;
        host_detail::check(get_Item(index, &out));
        return _com_ptr_t<ICommandItem>(out, false);
    }
    _com_ptr_t<ICommandItem> Add(IUID* id, const _variant_t& index) {
        ICommandItem* out = nullptr;
        host_detail::check(raw_Add(id, &index, &out));
        return _com_ptr_t<ICommandItem>(out, false);
    }
};

// Find gives null (S_OK) when nothing matches.
struct ICommandBars : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E33}");
    using base_interface = IUnknown;
    virtual HRESULT raw_Find(IUID* id, VARIANT_BOOL noRecurse, VARIANT_BOOL noCreate, ICommandItem** item) = 0;
    virtual HRESULT get_Count(LONG* count) = 0;

    _com_ptr_t<ICommandItem> Find(IUID* id, VARIANT_BOOL noRecurse = VARIANT_FALSE,
                                  VARIANT_BOOL noCreate = VARIANT_FALSE) {
        ICommandItem* out = nullptr;
        host_detail::check(raw_Find(id, noRecurse, noCreate, &out));
        return _com_ptr_t<ICommandItem>(out, false);
    }
    HOST_VALUE_GET(LONG, Count)
};

enum esriExtensionState { esriESEnabled = 1, esriESDisabled = 2, esriESUnavailable = 4 };

struct IExtension : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E34}");
    using base_interface = IUnknown;
    virtual HRESULT get_Name(BSTR* name) = 0;
    virtual HRESULT raw_Startup(VARIANT* initializationData) = 0;  // VT_UNKNOWN: the application
    virtual HRESULT raw_Shutdown() = 0;

    HOST_TEXT_GET(Name)
    void Startup(VARIANT* data) { host_detail::check(raw_Startup(data)); }
    void Shutdown() { host_detail::check(raw_Shutdown()); }
};

struct IExtensionConfig : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E35}");
    using base_interface = IUnknown;
    virtual HRESULT get_ProductName(BSTR* name) = 0;
    virtual HRESULT get_Description(BSTR* text) = 0;
    virtual HRESULT get_State(esriExtensionState* state) = 0;
    virtual HRESULT put_State(esriExtensionState state) = 0;

    HOST_TEXT_GET(ProductName)
    HOST_TEXT_GET(Description)
    HOST_VALUE_GET(esriExtensionState, State)
    HOST_VALUE_PUT(esriExtensionState, State)
};

// ---- Document and application --------------------------------------------------------------------

// What a document tells its listeners. A sink is held by the document until Unadvise.
struct IDocumentEvents : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E40}");
    using base_interface = IUnknown;
    virtual HRESULT raw_NewDocument() = 0;
    virtual HRESULT raw_OpenDocument() = 0;
    virtual HRESULT raw_CloseDocument() = 0;
};

struct IDocumentEventsSource : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E41}");
    using base_interface = IUnknown;
    virtual HRESULT raw_Advise(IDocumentEvents* sink, DWORD* cookie) = 0;
    virtual HRESULT raw_Unadvise(DWORD cookie) = 0;  // HOST_E_NOT_FOUND for an unknown cookie

    DWORD Advise(IDocumentEvents* sink) {
        DWORD cookie = 0;
        host_detail::check(raw_Advise(sink, &cookie));
        return cookie;
    }
    void Unadvise(DWORD cookie) { host_detail::check(raw_Unadvise(cookie)); }
};

// The map document: its focus map (also the active view), the layer the user picked in the table
// of contents, the command bars, and the contents update after layers change.
struct IMxDocument : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E42}");
    using base_interface = IUnknown;
    virtual HRESULT get_FocusMap(IMap** map) = 0;
    virtual HRESULT get_ActiveView(IActiveView** view) = 0;
    virtual HRESULT get_SelectedLayer(ILayer** layer) = 0;  // null when none is picked
    virtual HRESULT get_CommandBars(ICommandBars** bars) = 0;
    virtual HRESULT raw_UpdateContents() = 0;

    HOST_PTR_GET(IMap, FocusMap)
    HOST_PTR_GET(IActiveView, ActiveView)
    HOST_PTR_GET(ILayer, SelectedLayer)
    HOST_PTR_GET(ICommandBars, CommandBars)
    void UpdateContents() { host_detail::check(raw_UpdateContents()); }
};

struct IApplication : IUnknown {
    static constexpr GUID iid = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E43}");
    using base_interface = IUnknown;
    virtual HRESULT get_Document(IMxDocument** document) = 0;
    virtual HRESULT get_StatusBar(IStatusBar** bar) = 0;
    virtual HRESULT get_hWnd(LONG* window) = 0;
    // The started extension whose class the UID names; null (S_OK) when there is none.
    virtual HRESULT raw_FindExtensionByCLSID(IUID* id, IExtension** extension) = 0;
    virtual HRESULT raw_FindExtensionByName(BSTR name, IExtension** extension) = 0;

    HOST_PTR_GET(IMxDocument, Document)
    HOST_PTR_GET(IStatusBar, StatusBar)
    HOST_VALUE_GET(LONG, hWnd)
    _com_ptr_t<IExtension> FindExtensionByCLSID(IUID* id) {
        IExtension* out = nullptr;
        host_detail::check(raw_FindExtensionByCLSID(id, &out));
        return _com_ptr_t<IExtension>(out, false);
    }
    _com_ptr_t<IExtension> FindExtensionByName(const _bstr_t& name) {
        IExtension* out = nullptr;
        host_detail::check(raw_FindExtensionByName(name.GetBSTR(), &out));
        return _com_ptr_t<IExtension>(out, false);
    }
};

#undef HOST_TEXT_GET
#undef HOST_TEXT_PUT
#undef HOST_VALUE_GET
#undef HOST_VALUE_PUT
#undef HOST_PTR_GET
#undef HOST_PTR_PUTREF

_COM_SMARTPTR_TYPEDEF(IUID, __uuidof(IUID));
_COM_SMARTPTR_TYPEDEF(IStatusBar, __uuidof(IStatusBar));
_COM_SMARTPTR_TYPEDEF(IFileSystemObject, __uuidof(IFileSystemObject));
_COM_SMARTPTR_TYPEDEF(IFeatureRenderer, __uuidof(IFeatureRenderer));
_COM_SMARTPTR_TYPEDEF(IAnnotateLayerProperties, __uuidof(IAnnotateLayerProperties));
_COM_SMARTPTR_TYPEDEF(ILabelEngineLayerProperties, __uuidof(ILabelEngineLayerProperties));
_COM_SMARTPTR_TYPEDEF(IAnnotateLayerPropertiesCollection, __uuidof(IAnnotateLayerPropertiesCollection));
_COM_SMARTPTR_TYPEDEF(ILayer, __uuidof(ILayer));
_COM_SMARTPTR_TYPEDEF(IFeatureLayer, __uuidof(IFeatureLayer));
_COM_SMARTPTR_TYPEDEF(IGeoFeatureLayer, __uuidof(IGeoFeatureLayer));
_COM_SMARTPTR_TYPEDEF(IEnumLayer, __uuidof(IEnumLayer));
_COM_SMARTPTR_TYPEDEF(IMap, __uuidof(IMap));
_COM_SMARTPTR_TYPEDEF(IActiveView, __uuidof(IActiveView));
_COM_SMARTPTR_TYPEDEF(ILayerFile, __uuidof(ILayerFile));
_COM_SMARTPTR_TYPEDEF(ICommand, __uuidof(ICommand));
_COM_SMARTPTR_TYPEDEF(ICommandItem, __uuidof(ICommandItem));
_COM_SMARTPTR_TYPEDEF(ICommandBar, __uuidof(ICommandBar));
_COM_SMARTPTR_TYPEDEF(ICommandBars, __uuidof(ICommandBars));
_COM_SMARTPTR_TYPEDEF(IExtension, __uuidof(IExtension));
_COM_SMARTPTR_TYPEDEF(IExtensionConfig, __uuidof(IExtensionConfig));
_COM_SMARTPTR_TYPEDEF(IDocumentEvents, __uuidof(IDocumentEvents));
_COM_SMARTPTR_TYPEDEF(IDocumentEventsSource, __uuidof(IDocumentEventsSource));
_COM_SMARTPTR_TYPEDEF(IMxDocument, __uuidof(IMxDocument));
_COM_SMARTPTR_TYPEDEF(IApplication, __uuidof(IApplication));

// ---- Creatable classes (registered when libplatform is loaded) -----------------------------------
// UID: IUID ("Host.UID"); LayerFile: ILayerFile ("Host.LayerFile");
// LabelEngineLayerProperties: ILabelEngineLayerProperties IAnnotateLayerProperties
// ("Host.LabelEngineLayerProperties");
// FileSystemObject: IFileSystemObject ("Scripting.FileSystemObject").
inline constexpr CLSID CLSID_UID = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E80}");
inline constexpr CLSID CLSID_LayerFile = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E81}");
inline constexpr CLSID CLSID_LabelEngineLayerProperties = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E82}");
inline constexpr CLSID CLSID_FileSystemObject = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5E83}");

// The component categories a host loads: its extensions (started with the application) and its
// commands (put into the command pool).
inline constexpr GUID CATID_HostExtensions = makeGuid("{0A2C3A1B-7E3D-4F67-9E0B-3B1C4F2D5EC0}");
inline constexpr GUID CATID_HostCommands = makeGuid("{B56A7C42-83D4-11D2-A2E9-080009B6F22B}");

// The command bar that the add-ins place their commands on.
inline constexpr char kStandardToolbarUid[] = "{F42891B5-2C92-11D2-AE07-080009EC732A}";
