// platform/xml/xmldom.cpp: the DOM document over pugixml. A loaded tree is shared by the document
// and every node handed out, so nodes stay valid after the document loads another file or is
// released. Every method body runs in comGuard: nothing is thrown out of a COM method.
#include "platform/xml/xmldom.h"

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <pugixml.hpp>

namespace {

using Tree = std::shared_ptr<const pugi::xml_document>;

// Hands out a new reference to obj as interface I.
template <class I, class T>
HRESULT giveOut(T* obj, I** out) {
    obj->AddRef();
    *out = obj;
    return S_OK;
}

HRESULT giveText(const std::string& utf8, BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    const std::wstring wide = fromUtf8(utf8);
    if (wide.empty()) return S_OK;
    *out = SysAllocStringLen(wide.data(), UINT(wide.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

void collectText(const pugi::xml_node& node, std::string& out) {
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
        out += node.value();
        return;
    }
    for (const auto& child : node.children()) collectText(child, out);
}

std::string nodeName(const pugi::xml_node& node) {
    switch (node.type()) {
        case pugi::node_element:
        case pugi::node_pi:
            return node.name();
        case pugi::node_pcdata:
            return "#text";
        case pugi::node_cdata:
            return "#cdata-section";
        case pugi::node_comment:
            return "#comment";
        case pugi::node_document:
            return "#document";
        default:
            return node.name();
    }
}

HRESULT makeNode(const Tree& tree, pugi::xml_node node, IXMLDOMNode** out);
HRESULT makeNodeList(const Tree& tree, std::vector<pugi::xml_node> nodes, IXMLDOMNodeList** out);
HRESULT makeAttributeMap(const Tree& tree, pugi::xml_node element, IXMLDOMNamedNodeMap** out);

// The node behaviour shared by elements, texts and the document itself. Comments and blank text
// between elements are not parsed, so they never appear among the children.
template <class Base>
class NodeImpl : public ComObject<Base> {
public:
    HRESULT get_nodeName(BSTR* name) override {
        return comGuard([&] { return giveText(nodeName(node()), name); });
    }
    HRESULT get_attributes(IXMLDOMNamedNodeMap** attributes) override {
        return comGuard([&]() -> HRESULT {
            if (!attributes) return E_POINTER;
            *attributes = nullptr;
            if (node().type() != pugi::node_element) return S_FALSE;
            return makeAttributeMap(tree(), node(), attributes);
        });
    }
    HRESULT get_childNodes(IXMLDOMNodeList** children) override {
        return comGuard([&]() -> HRESULT {
            if (!children) return E_POINTER;
            *children = nullptr;
            std::vector<pugi::xml_node> nodes;
            for (const auto& child : node().children()) nodes.push_back(child);
            return makeNodeList(tree(), std::move(nodes), children);
        });
    }
    HRESULT get_text(BSTR* text) override {
        return comGuard([&] {
            std::string s;
            collectText(node(), s);
            return giveText(s, text);
        });
    }

protected:
    virtual pugi::xml_node node() const = 0;
    virtual Tree tree() const = 0;
};

class Node final : public NodeImpl<IXMLDOMNode> {
public:
    Node(Tree tree, pugi::xml_node node) : tree_(std::move(tree)), node_(node) {}

private:
    pugi::xml_node node() const override { return node_; }
    Tree tree() const override { return tree_; }
    Tree tree_;
    pugi::xml_node node_;
};

class Attribute final : public ComObject<IXMLDOMNode> {
public:
    Attribute(Tree tree, pugi::xml_attribute attr) : tree_(std::move(tree)), attr_(attr) {}

    HRESULT get_nodeName(BSTR* name) override {
        return comGuard([&] { return giveText(attr_.name(), name); });
    }
    HRESULT get_attributes(IXMLDOMNamedNodeMap** attributes) override {
        if (!attributes) return E_POINTER;
        *attributes = nullptr;
        return S_FALSE;
    }
    HRESULT get_childNodes(IXMLDOMNodeList** children) override {
        return comGuard([&]() -> HRESULT {
            if (!children) return E_POINTER;
            *children = nullptr;
            return makeNodeList(tree_, {}, children);
        });
    }
    HRESULT get_text(BSTR* text) override {
        return comGuard([&] { return giveText(attr_.value(), text); });
    }

private:
    Tree tree_;
    pugi::xml_attribute attr_;
};

class NodeList final : public ComObject<IXMLDOMNodeList> {
public:
    NodeList(Tree tree, std::vector<pugi::xml_node> nodes)
        : tree_(std::move(tree)), nodes_(std::move(nodes)) {}

    HRESULT get_length(LONG* length) override {
        if (!length) return E_POINTER;
        *length = LONG(nodes_.size());
        return S_OK;
    }
    HRESULT get_item(LONG index, IXMLDOMNode** node) override {
        return comGuard([&]() -> HRESULT {
            if (!node) return E_POINTER;
            *node = nullptr;
            if (index < 0 || std::size_t(index) >= nodes_.size()) return S_FALSE;
            return makeNode(tree_, nodes_[std::size_t(index)], node);
        });
    }

private:
    Tree tree_;
    std::vector<pugi::xml_node> nodes_;
};

class AttributeMap final : public ComObject<IXMLDOMNamedNodeMap> {
public:
    AttributeMap(Tree tree, pugi::xml_node element) : tree_(std::move(tree)) {
        for (const auto& a : element.attributes()) attrs_.push_back(a);
    }

    HRESULT get_length(LONG* length) override {
        if (!length) return E_POINTER;
        *length = LONG(attrs_.size());
        return S_OK;
    }
    HRESULT get_item(LONG index, IXMLDOMNode** node) override {
        return comGuard([&]() -> HRESULT {
            if (!node) return E_POINTER;
            *node = nullptr;
            if (index < 0 || std::size_t(index) >= attrs_.size()) return S_FALSE;
            return giveOut<IXMLDOMNode>(new Attribute(tree_, attrs_[std::size_t(index)]), node);
        });
    }

private:
    Tree tree_;
    std::vector<pugi::xml_attribute> attrs_;
};

class Document final : public NodeImpl<IXMLDOMDocument> {
public:
    Document() : tree_(std::make_shared<pugi::xml_document>()) {}

    HRESULT raw_load(VARIANT source, VARIANT_BOOL* ok) override {
        return comGuard([&]() -> HRESULT {
            if (!ok) return E_POINTER;
            *ok = VARIANT_FALSE;
            if (source.vt != VT_BSTR) return E_INVALIDARG;
            std::string path = toUtf8(source.bstrVal);
            for (char& c : path)
                if (c == '\\') c = '/';
            // Only a regular file is read: the parser would size a directory or a device as if it
            // were one and try to allocate that much.
            std::error_code ec;
            if (!std::filesystem::is_regular_file(path, ec)) {
                tree_ = std::make_shared<pugi::xml_document>();
                error_ = path + ": not a readable file";
                return S_FALSE;
            }
            auto doc = std::make_shared<pugi::xml_document>();
            const pugi::xml_parse_result r = doc->load_file(path.c_str());
            if (!r) {
                tree_ = std::make_shared<pugi::xml_document>();
                error_ = path + ": " + r.description();
                if (r.status != pugi::status_file_not_found && r.status != pugi::status_io_error)
                    error_ += " at offset " + std::to_string(r.offset);
                return S_FALSE;
            }
            tree_ = std::move(doc);
            error_.clear();
            *ok = VARIANT_TRUE;
            return S_OK;
        });
    }
    HRESULT raw_getElementsByTagName(BSTR tagName, IXMLDOMNodeList** list) override {
        return comGuard([&]() -> HRESULT {
            if (!list) return E_POINTER;
            *list = nullptr;
            const std::string tag = toUtf8(tagName);
            const bool all = tag == "*";
            std::vector<pugi::xml_node> found;
            struct Walker : pugi::xml_tree_walker {
                const std::string* tag;
                bool all;
                std::vector<pugi::xml_node>* found;
                bool for_each(pugi::xml_node& n) override {
                    if (n.type() == pugi::node_element && (all || *tag == n.name()))
                        found->push_back(n);
                    return true;
                }
            } walker;
            walker.tag = &tag;
            walker.all = all;
            walker.found = &found;
            pugi::xml_node root = *tree_;
            root.traverse(walker);
            return makeNodeList(tree_, std::move(found), list);
        });
    }
    HRESULT get_parseErrorText(BSTR* text) override {
        return comGuard([&] { return giveText(error_, text); });
    }

private:
    pugi::xml_node node() const override { return *tree_; }
    Tree tree() const override { return tree_; }
    Tree tree_;
    std::string error_;
};

HRESULT makeNode(const Tree& tree, pugi::xml_node node, IXMLDOMNode** out) {
    return giveOut<IXMLDOMNode>(new Node(tree, node), out);
}

HRESULT makeNodeList(const Tree& tree, std::vector<pugi::xml_node> nodes, IXMLDOMNodeList** out) {
    return giveOut<IXMLDOMNodeList>(new NodeList(tree, std::move(nodes)), out);
}

HRESULT makeAttributeMap(const Tree& tree, pugi::xml_node element, IXMLDOMNamedNodeMap** out) {
    return giveOut<IXMLDOMNamedNodeMap>(new AttributeMap(tree, element), out);
}

ComClassRegistrar registrar(CLSID_DOMDocument, kDOMDocumentProgId, &createComInstance<Document>);

_bstr_t takeBstr(BSTR s) { return _bstr_t(s, false); }

}  // namespace

// ---- Throwing wrappers -----------------------------------------------------------------------------

_bstr_t IXMLDOMNode::GetnodeName() {
    BSTR s = nullptr;
    check(get_nodeName(&s));
    return takeBstr(s);
}

IXMLDOMNamedNodeMapPtr IXMLDOMNode::Getattributes() {
    IXMLDOMNamedNodeMap* p = nullptr;
    check(get_attributes(&p));
    return IXMLDOMNamedNodeMapPtr(p, false);
}

IXMLDOMNodeListPtr IXMLDOMNode::GetchildNodes() {
    IXMLDOMNodeList* p = nullptr;
    check(get_childNodes(&p));
    return IXMLDOMNodeListPtr(p, false);
}

_bstr_t IXMLDOMNode::Gettext() {
    BSTR s = nullptr;
    check(get_text(&s));
    return takeBstr(s);
}

LONG IXMLDOMNodeList::Getlength() {
    LONG n = 0;
    check(get_length(&n));
    return n;
}

IXMLDOMNodePtr IXMLDOMNodeList::Getitem(LONG index) {
    IXMLDOMNode* p = nullptr;
    check(get_item(index, &p));
    return IXMLDOMNodePtr(p, false);
}

LONG IXMLDOMNamedNodeMap::Getlength() {
    LONG n = 0;
    check(get_length(&n));
    return n;
}

IXMLDOMNodePtr IXMLDOMNamedNodeMap::Getitem(LONG index) {
    IXMLDOMNode* p = nullptr;
    check(get_item(index, &p));
    return IXMLDOMNodePtr(p, false);
}

VARIANT_BOOL IXMLDOMDocument::load(const _variant_t& source) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    check(raw_load(source, &ok));
    return ok;
}

IXMLDOMNodeListPtr IXMLDOMDocument::getElementsByTagName(const _bstr_t& tagName) {
    IXMLDOMNodeList* p = nullptr;
    check(raw_getElementsByTagName(tagName.GetBSTR(), &p));
    return IXMLDOMNodeListPtr(p, false);
}

_bstr_t IXMLDOMDocument::GetparseErrorText() {
    BSTR s = nullptr;
    check(get_parseErrorText(&s));
    return takeBstr(s);
}
