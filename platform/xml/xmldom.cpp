// platform/xml/xmldom.cpp: the DOM document over pugixml. A loaded tree is shared by the document
// and every node handed out, so nodes stay valid after the document loads another file or is
// released. Every method body runs in comGuard: nothing is thrown out of a COM method.
#include "platform/xml/xmldom.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <pugixml.hpp>

namespace {

struct Parsed;
using Tree = std::shared_ptr<const Parsed>;

// Hands out a new reference to obj as interface I.
template <class I, class T>
HRESULT giveOut(T* obj, I** out) {
    obj->AddRef();
    *out = obj;
    return S_OK;
}

// A new BSTR of UTF-8 text (null for ""). Nearly every name and value of the catalogue is ASCII:
// that is widened straight into the string, without a std::wstring between.
HRESULT giveText(std::string_view utf8, BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (utf8.empty()) return S_OK;
    if (utf8.size() > 0x3FFFFFFFu) return E_OUTOFMEMORY;
    std::size_t ascii = 0;
    while (ascii < utf8.size() && static_cast<unsigned char>(utf8[ascii]) < 0x80) ++ascii;
    if (ascii == utf8.size()) {
        BSTR s = SysAllocStringLen(nullptr, UINT(utf8.size()));
        if (!s) return E_OUTOFMEMORY;
        for (std::size_t i = 0; i < utf8.size(); ++i) s[i] = OLECHAR(utf8[i]);
        *out = s;
        return S_OK;
    }
    const std::wstring wide = fromUtf8(utf8);
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

const char* nodeName(const pugi::xml_node& node) {
    switch (node.type()) {
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

// Calls f(element) for every element below root of that tag ("*": all), in document order.
template <class F>
void elementsNamed(const pugi::xml_node& root, std::string_view tag, F&& f) {
    const bool all = tag == "*";
    pugi::xml_node n = root.first_child();
    while (n) {
        // Most names differ from the tag in their first byte; text nodes have the name "".
        const char* name = n.name();
        if (all ? n.type() == pugi::node_element
                : !tag.empty() && name[0] == tag[0] && tag == std::string_view(name) &&
                      n.type() == pugi::node_element)
            f(n);
        if (const pugi::xml_node child = n.first_child()) {
            n = child;
            continue;
        }
        while (n != root && !n.next_sibling()) n = n.parent();
        if (n == root) break;
        n = n.next_sibling();
    }
}

// A parsed file and, made on the first search, its elements by tag name: the readers search one
// tree for several tags, and each search after the first is a look-up instead of a walk over every
// node.
struct Parsed {
    pugi::xml_document doc;

    // The elements of that tag (exact; "*": all), in document order.
    const std::vector<pugi::xml_node>& elements(std::string_view tag) const {
        if (tag == "*") {
            std::call_once(allOnce_, [&] { elementsNamed(doc, "*", [&](pugi::xml_node n) { all_.push_back(n); }); });
            return all_;
        }
        // Names point into the parsed text, which lives as long as the document.
        std::call_once(indexOnce_, [&] {
            elementsNamed(doc, "*", [&](pugi::xml_node n) { byTag_[std::string_view(n.name())].push_back(n); });
        });
        const auto it = byTag_.find(tag);
        return it == byTag_.end() ? none_ : it->second;
    }

private:
    mutable std::once_flag allOnce_, indexOnce_;
    mutable std::vector<pugi::xml_node> all_;
    mutable std::unordered_map<std::string_view, std::vector<pugi::xml_node>> byTag_;
    const std::vector<pugi::xml_node> none_;
};

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

// The attributes of an element, walked in place: items asked for in order (as every reader does)
// cost one step each.
class AttributeMap final : public ComObject<IXMLDOMNamedNodeMap> {
public:
    AttributeMap(Tree tree, pugi::xml_node element) : tree_(std::move(tree)), first_(element.first_attribute()) {
        for (pugi::xml_attribute a = first_; a; a = a.next_attribute()) ++count_;
        next_ = first_;
    }

    HRESULT get_length(LONG* length) override {
        if (!length) return E_POINTER;
        *length = count_;
        return S_OK;
    }
    HRESULT get_item(LONG index, IXMLDOMNode** node) override {
        return comGuard([&]() -> HRESULT {
            if (!node) return E_POINTER;
            *node = nullptr;
            if (index < 0 || index >= count_) return S_FALSE;
            if (index != nextIndex_) {
                next_ = first_;
                for (nextIndex_ = 0; nextIndex_ < index; ++nextIndex_) next_ = next_.next_attribute();
            }
            const pugi::xml_attribute at = next_;
            next_ = next_.next_attribute();
            ++nextIndex_;
            return giveOut<IXMLDOMNode>(new Attribute(tree_, at), node);
        });
    }

private:
    Tree tree_;
    pugi::xml_attribute first_;
    LONG count_ = 0;
    pugi::xml_attribute next_;  // the attribute of index nextIndex_
    LONG nextIndex_ = 0;
};

class Document final : public NodeImpl<IXMLDOMDocument> {
public:
    Document() : tree_(std::make_shared<Parsed>()) {}

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
                tree_ = std::make_shared<Parsed>();
                error_ = path + ": not a readable file";
                return S_FALSE;
            }
            // The old tree goes first (the document holds nothing else either way), so that its
            // memory can serve the new one.
            tree_ = std::make_shared<Parsed>();
            auto parsed = std::make_shared<Parsed>();
            const pugi::xml_parse_result r = parsed->doc.load_file(path.c_str());
            if (!r) {
                tree_ = std::make_shared<Parsed>();
                error_ = path + ": " + r.description();
                if (r.status != pugi::status_file_not_found && r.status != pugi::status_io_error)
                    error_ += " at offset " + std::to_string(r.offset);
                return S_FALSE;
            }
            tree_ = std::move(parsed);
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
            return makeNodeList(tree_, tree_->elements(tag), list);
        });
    }
    HRESULT get_parseErrorText(BSTR* text) override {
        return comGuard([&] { return giveText(error_, text); });
    }
    Tree tree() const override { return tree_; }

private:
    pugi::xml_node node() const override { return tree_->doc; }
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

// ---- XmlTree ----------------------------------------------------------------------------------------

namespace {
pugi::xml_node nodeOf(void* p) { return pugi::xml_node(static_cast<pugi::xml_node_struct*>(p)); }
pugi::xml_attribute attributeOf(void* p) { return pugi::xml_attribute(static_cast<pugi::xml_attribute_struct*>(p)); }
pugi::xml_node elementFrom(pugi::xml_node n) {
    while (n && n.type() != pugi::node_element) n = n.next_sibling();
    return n;
}
}  // namespace

const char* XmlAttribute::name() const { return attributeOf(p_).name(); }
const char* XmlAttribute::value() const { return attributeOf(p_).value(); }
XmlAttribute XmlAttribute::next() const { return XmlAttribute(attributeOf(p_).next_attribute().internal_object()); }

const char* XmlElement::name() const { return nodeOf(p_).name(); }
XmlAttribute XmlElement::firstAttribute() const {
    return XmlAttribute(nodeOf(p_).first_attribute().internal_object());
}
XmlElement XmlElement::firstChildElement() const {
    return XmlElement(elementFrom(nodeOf(p_).first_child()).internal_object());
}
XmlElement XmlElement::nextSiblingElement() const {
    return XmlElement(elementFrom(nodeOf(p_).next_sibling()).internal_object());
}

HRESULT XmlTree::of(IXMLDOMDocument* document, XmlTree* out) {
    if (!document || !out) return E_POINTER;
    const auto* own = dynamic_cast<const Document*>(document);
    if (!own) return E_NOINTERFACE;
    out->keep_ = own->tree();
    return S_OK;
}

std::vector<XmlElement> XmlTree::elementsByTagName(std::string_view tag) const {
    std::vector<XmlElement> found;
    if (!keep_) return found;
    const std::vector<pugi::xml_node>& elements = static_cast<const Parsed*>(keep_.get())->elements(tag);
    found.reserve(elements.size());
    for (const pugi::xml_node& n : elements) found.push_back(XmlElement(n.internal_object()));
    return found;
}
