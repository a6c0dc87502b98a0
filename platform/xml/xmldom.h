// platform/xml/xmldom.h: the XML DOM document class (CLSID_DOMDocument) the catalogue loader reads
// its files with: load a file, find elements by tag name anywhere, walk nodes, their attributes,
// children and text. Read-only; built on pugixml (never visible here).
// Raw methods return HRESULTs (E_POINTER for a null out pointer, E_INVALIDARG for an index out of
// range); the wrappers without the raw_/get_ prefix throw _com_error on failure.
#pragma once

#include "platform/com/com.h"

struct IXMLDOMNodeList;
struct IXMLDOMNamedNodeMap;

// An element, attribute, text or the document itself.
struct IXMLDOMNode : IDispatch {
    static constexpr GUID iid = makeGuid("{2933BF80-7B36-11D2-B20E-00C04F983E60}");
    using base_interface = IDispatch;

    // Tag name of an element, name of an attribute, "#text", "#comment", "#document"...
    virtual HRESULT get_nodeName(BSTR* name) = 0;
    // The attributes of an element; null (and S_FALSE) for any other node.
    virtual HRESULT get_attributes(IXMLDOMNamedNodeMap** attributes) = 0;
    // The children in document order (an attribute has none).
    virtual HRESULT get_childNodes(IXMLDOMNodeList** children) = 0;
    // The text of the node and its descendants, concatenated; an attribute's value.
    virtual HRESULT get_text(BSTR* text) = 0;

    _bstr_t GetnodeName();
    _com_ptr_t<IXMLDOMNamedNodeMap> Getattributes();
    _com_ptr_t<IXMLDOMNodeList> GetchildNodes();
    _bstr_t Gettext();

protected:
    ~IXMLDOMNode() = default;
};

// A fixed list of nodes (a snapshot taken when the list was asked for).
struct IXMLDOMNodeList : IDispatch {
    static constexpr GUID iid = makeGuid("{2933BF82-7B36-11D2-B20E-00C04F983E60}");
    using base_interface = IDispatch;

    virtual HRESULT get_length(LONG* length) = 0;
    // Node `index` (0-based); null and S_FALSE past the end, as the DOM has it.
    virtual HRESULT get_item(LONG index, IXMLDOMNode** node) = 0;

    LONG Getlength();
    _com_ptr_t<IXMLDOMNode> Getitem(LONG index);

protected:
    ~IXMLDOMNodeList() = default;
};

// The attributes of an element, in document order.
struct IXMLDOMNamedNodeMap : IDispatch {
    static constexpr GUID iid = makeGuid("{2933BF83-7B36-11D2-B20E-00C04F983E60}");
    using base_interface = IDispatch;

    virtual HRESULT get_length(LONG* length) = 0;
    virtual HRESULT get_item(LONG index, IXMLDOMNode** node) = 0;

    LONG Getlength();
    _com_ptr_t<IXMLDOMNode> Getitem(LONG index);

protected:
    ~IXMLDOMNamedNodeMap() = default;
};

struct IXMLDOMDocument : IXMLDOMNode {
    static constexpr GUID iid = makeGuid("{2933BF81-7B36-11D2-B20E-00C04F983E60}");
    using base_interface = IXMLDOMNode;

    // Loads a file (a VT_BSTR path; '/' or '\' separators) in place of the current content.
    // *ok is VARIANT_TRUE on success; a file that cannot be read or parsed leaves the document
    // empty and gives VARIANT_FALSE with S_FALSE. A path that is not text gives E_INVALIDARG.
    virtual HRESULT raw_load(VARIANT source, VARIANT_BOOL* ok) = 0;
    // Every element of that tag name (exact, case-sensitive; "*" matches all), in document order.
    virtual HRESULT raw_getElementsByTagName(BSTR tagName, IXMLDOMNodeList** list) = 0;
    // Why the last load failed ("" after a successful one).
    virtual HRESULT get_parseErrorText(BSTR* text) = 0;

    VARIANT_BOOL load(const _variant_t& source);
    _com_ptr_t<IXMLDOMNodeList> getElementsByTagName(const _bstr_t& tagName);
    _bstr_t GetparseErrorText();

protected:
    ~IXMLDOMDocument() = default;
};

_COM_SMARTPTR_TYPEDEF(IXMLDOMNode, __uuidof(IXMLDOMNode));
_COM_SMARTPTR_TYPEDEF(IXMLDOMNodeList, __uuidof(IXMLDOMNodeList));
_COM_SMARTPTR_TYPEDEF(IXMLDOMNamedNodeMap, __uuidof(IXMLDOMNamedNodeMap));
_COM_SMARTPTR_TYPEDEF(IXMLDOMDocument, __uuidof(IXMLDOMDocument));

inline constexpr CLSID CLSID_DOMDocument = makeGuid("{2933BF90-7B36-11D2-B20E-00C04F983E60}");
inline constexpr char kDOMDocumentProgId[] = "Xml.DOMDocument.1";
