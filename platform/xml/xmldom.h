// platform/xml/xmldom.h: the XML DOM document class (CLSID_DOMDocument) the catalogue loader reads
// its files with: load a file, find elements by tag name anywhere, walk nodes, their attributes,
// children and text. Read-only; built on pugixml (never visible here). XmlTree reads the same tree
// without a node object or a string per node, for readers that walk thousands of elements.
// Raw methods return HRESULTs (E_POINTER for a null out pointer, E_INVALIDARG for an index out of
// range); the wrappers without the raw_/get_ prefix throw _com_error on failure.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

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

// ---- Reading a loaded tree in place ---------------------------------------------------------------
// Elements and attributes seen where they stand, names and values being the tree's own UTF-8 text
// (as the parser left it: text that is no valid UTF-8 stays as it is, where the DOM methods give
// U+FFFD). A view stays valid while the XmlTree it came from lives, also after the document loads
// another file. Nothing here throws.

class XmlAttribute {
public:
    XmlAttribute() = default;
    explicit operator bool() const { return p_ != nullptr; }
    const char* name() const;
    const char* value() const;
    XmlAttribute next() const;

private:
    friend class XmlElement;
    explicit XmlAttribute(void* p) : p_(p) {}
    void* p_ = nullptr;
};

class XmlElement {
public:
    XmlElement() = default;
    explicit operator bool() const { return p_ != nullptr; }
    const char* name() const;
    XmlAttribute firstAttribute() const;
    // The first child, and the next sibling, that is an element (text between is skipped).
    XmlElement firstChildElement() const;
    XmlElement nextSiblingElement() const;

private:
    friend class XmlTree;
    explicit XmlElement(void* p) : p_(p) {}
    void* p_ = nullptr;
};

class XmlTree {
public:
    // The tree `document` holds now: S_OK; E_POINTER for a null document, E_NOINTERFACE for a
    // document that is not of this platform.
    [[nodiscard]] static HRESULT of(IXMLDOMDocument* document, XmlTree* out);
    // Every element of that tag name (exact, case-sensitive), in document order: the elements
    // getElementsByTagName lists.
    std::vector<XmlElement> elementsByTagName(std::string_view tag) const;

private:
    std::shared_ptr<const void> keep_;  // the parsed document and its index
};
