// s57/dimml.cpp: the catalogue loader. Reads product.xml and s57.xml (from the directory of
// libtarvo.so) through the DOM document into the six program-wide tables; installs the compiled-in
// catalogue on request; translates agency codes and labels.
// Failures: loadDIMEInfo gives E_FAIL for a file that cannot be read or parsed or a catalogue
// without object classes (message 153 and a log line); a reader gives E_FAIL after a COM failure
// (logged) and leaves its table as far as it got. Nothing is thrown to callers.
#include "s57/dimml.h"

#include <strings.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xml/xmldom.h"
#include "s57/s57_util2.h"

constexpr char kModule[] = "dimml";

AgencyRec* agencies = nullptr;
int32_t agencyCount = 0;
S57ObjectRec* s57Objects = nullptr;
int32_t s57ObjectCount = 0;
FieldDef* s57Attributes = nullptr;
int32_t s57AttributeCount = 0;
S57SetRec* s57Sets = nullptr;
int32_t s57SetCount = 0;
ObjectMapRec* objectMaps = nullptr;
int32_t objectMapCount = 0;
AttributeMapRec* attributeMaps = nullptr;
int32_t attributeMapCount = 0;
uint64_t dimmlTablesGeneration = 0;

namespace {

constexpr int kMsgUnableToOpenXml = 153;  // "Unable to open XML file"

// Owners of the tables; the program-wide pointers above always equal their get(). A table of the
// last clean load is shared with what is kept of that load (the tables are read-only once loaded).
std::shared_ptr<AgencyRec[]> agencyStore;
std::shared_ptr<S57ObjectRec[]> objectStore;
std::shared_ptr<FieldDef[]> attributeStore;
std::shared_ptr<S57SetRec[]> setStore;
std::shared_ptr<ObjectMapRec[]> objectMapStore;
std::shared_ptr<AttributeMapRec[]> attributeMapStore;

// Replaces a table by `count` zero-filled records (none for a count below 1).
template <class T>
T* renew(std::shared_ptr<T[]>& store, T*& table, int32_t& count, LONG n) {
    ++dimmlTablesGeneration;
    store.reset(n > 0 ? new T[std::size_t(n)]() : nullptr);
    table = store.get();
    count = n > 0 ? int32_t(n) : 0;
    return table;
}

template <class T>
void release(std::shared_ptr<T[]>& store, T*& table, int32_t& count) {
    ++dimmlTablesGeneration;
    store.reset();
    table = nullptr;
    count = 0;
}

void logText(const char* format, const char* a, const char* b) {
    if (!logFile) return;
    std::fprintf(logFile, format, a, b);
    std::fflush(logFile);
}

void logComError(const char* function, const _com_error& e) { logComErrorOf(kModule, function, e); }

bool sameText(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

// Copies at most N-1 bytes, never cutting a UTF-8 sequence in two; always NUL-terminated.
template <std::size_t N>
void copyText(char (&dst)[N], std::string_view src) {
    std::size_t n = src.size() < N ? src.size() : N - 1;
    if (n < src.size())
        while (n > 0 && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80) --n;
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

int32_t columnType(const char* letter) {
    if (sameText(letter, "E") || sameText(letter, "I")) return 2;
    if (sameText(letter, "F")) return 3;
    return 1;
}

// Width and default of an attribute loaded from XML: those of the built-in entry of the same code
// and type, else what the built-in table gives every attribute of that type.
void completeAttribute(FieldDef& f) {
    for (const FieldDef& b : builtinS57Attributes) {
        if (b.index == f.index && b.type == f.type) {
            f.width = b.width;
            copyText(f.defaultValue, b.defaultValue);
            return;
        }
    }
    switch (f.type) {
        case 2:
            f.width = 4;
            copyText(f.defaultValue, "-1");
            break;
        case 3:
            f.width = 4;
            copyText(f.defaultValue, "-1.0");
            break;
        default:
            f.width = 70;
            copyText(f.defaultValue, "UNKNOWN");
            break;
    }
}

// A text of the tree as the DOM would give it: the same bytes when they are ASCII (nearly every
// name and value of the catalogue), else with U+FFFD for each sequence that is no valid UTF-8.
const char* domText(const char* raw, std::string& buffer) {
    const char* p = raw;
    while (*p && static_cast<unsigned char>(*p) < 0x80) ++p;
    if (!*p) return raw;
    buffer = toUtf8(fromUtf8(raw));
    return buffer.c_str();
}

// Whether `text` equals `ascii` with ASCII letters' case ignored (as strcasecmp compares them).
bool isName(const char* text, const char* ascii) {
    for (;; ++text, ++ascii) {
        unsigned char c = static_cast<unsigned char>(*text);
        unsigned char a = static_cast<unsigned char>(*ascii);
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + ('a' - 'A'));
        if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a + ('a' - 'A'));
        if (c != a) return false;
        if (!c) return true;
    }
}

// One attribute as a reader sees it: its name, and its value as the DOM gives it.
class AttributeView {
public:
    AttributeView(XmlAttribute attribute, std::string& buffer) : attribute_(attribute), buffer_(buffer) {}
    bool is(const char* ascii) const { return isName(attribute_.name(), ascii); }
    const char* value() const { return domText(attribute_.value(), buffer_); }

private:
    XmlAttribute attribute_;
    std::string& buffer_;
};

// Calls f(attribute) for each attribute of the element, in document order.
template <class F>
void forEachAttribute(XmlElement element, std::string& buffer, F&& f) {
    for (XmlAttribute a = element.firstAttribute(); a; a = a.next()) {
        const AttributeView view(a, buffer);
        f(view);
    }
}

// The tree of a loaded document; a COM failure (a null document, one of another kind) is thrown.
XmlTree treeOf(IXMLDOMDocument* document) {
    XmlTree tree;
    check(XmlTree::of(document, &tree));
    return tree;
}

// A table's count from the number of elements found.
LONG countOf(std::size_t n) { return n > std::size_t(INT32_MAX) ? LONG(INT32_MAX) : LONG(n); }

// Message 153 under caption 104 (in both directions), and its text with the detail in the log.
void reportXmlFailure(const std::string& detail) {
    displayMessage(kMsgUnableToOpenXml, kCaptionGdbToS57, detail.c_str());
    const char* text = stringText(kMsgUnableToOpenXml);
    logText("%s %s", text ? text : "", detail.c_str());
}

// The trace of each table on standard output, as each load gives it: the lines printf would
// write, made in one buffer and written at once (thousands of lines per load).
class Trace {
public:
    Trace() { out_.reserve(kBlock + 256); }
    ~Trace() { flush(); }
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;
    Trace& operator<<(const char* text) {
        out_ += text;
        if (out_.size() >= kBlock) flush();
        return *this;
    }
    Trace& operator<<(int32_t value) {
        char digits[16];
        const auto r = std::to_chars(digits, digits + sizeof digits, value);
        out_.append(digits, r.ptr);
        return *this;
    }

private:
    // Written a block at a time: a buffer of the whole table would be fresh memory on each load.
    static constexpr std::size_t kBlock = 32 * 1024;
    void flush() {
        if (!out_.empty()) std::fwrite(out_.data(), 1, out_.size(), stdout);
        out_.clear();
    }
    std::string out_;
};

void printAgencies() {
    Trace t;
    for (int32_t i = 0; i < agencyCount; ++i) t << "agency " << agencies[i].label << " " << agencies[i].code << "\n";
}
void printObjects() {
    Trace t;
    for (int32_t i = 0; i < s57ObjectCount; ++i)
        t << "object code " << s57Objects[i].code << " label " << s57Objects[i].acronym << " desc "
          << s57Objects[i].description << "\n";
}
void printAttributes() {
    Trace t;
    for (int32_t i = 0; i < s57AttributeCount; ++i)
        t << "attr code " << s57Attributes[i].index << " label " << s57Attributes[i].name << " desc "
          << s57Attributes[i].type << "\n";
}
void printSets() {
    Trace t;
    for (int32_t i = 0; i < s57SetCount; ++i)
        t << "object list object " << s57Sets[i].objectCode << " attribute " << s57Sets[i].attributeCode << " set "
          << s57Sets[i].set << "\n";
}

// The files and tables of the last load that went through without a failure: a process that loads
// the same files again (the template, then the import) takes the tables from here instead of
// parsing both documents again.
// What a load keeps of a file it read: its length and two 64-bit digests of its bytes, which tell
// a changed file without holding the bytes for the whole run.
struct FileDigest {
    std::uint64_t size = 0, a = 0, b = 0;
    friend bool operator==(const FileDigest&, const FileDigest&) = default;
};

// The digest of a file's bytes, read a block at a time; false when it cannot be read.
bool digestFile(const std::string& path, FileDigest& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    FileDigest d{0, 0x243F6A8885A308D3u, 0x13198A2E03707344u};
    auto word = [&d](std::uint64_t w) {
        d.a = (d.a ^ w) * 0x9E3779B97F4A7C15u;
        d.a ^= d.a >> 29;
        d.b = (d.b + w) * 0xC2B2AE3D27D4EB4Fu;
        d.b = (d.b << 31) | (d.b >> 33);
    };
    unsigned char buf[65536];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        d.size += n;
        std::size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            std::uint64_t w;
            std::memcpy(&w, buf + i, 8);
            word(w);
        }
        if (i < n) {  // a block ending short of a word (the file's last) is padded with zeros
            std::uint64_t w = 0;
            std::memcpy(&w, buf + i, n - i);
            word(w);
        }
    }
    word(d.size);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    if (ok) out = d;
    return ok;
}

bool sameFile(const std::string& path, const FileDigest& digest) {
    FileDigest now;
    return digestFile(path, now) && now == digest;
}

// A table with its count, as kept of the last clean load (shared with the live table).
template <class T>
struct KeptTable {
    std::shared_ptr<T[]> rows;
    int32_t count = 0;
};

struct LastLoad {
    bool valid = false;
    std::string productPath;  // with '/' separators
    FileDigest product, s57;
    bool extrasValid = false;
    ProductExtras extras;
    KeptTable<AgencyRec> agencies;
    KeptTable<S57ObjectRec> objects;
    KeptTable<FieldDef> attributes;
    KeptTable<S57SetRec> sets;
    KeptTable<ObjectMapRec> objectMaps;
    KeptTable<AttributeMapRec> attributeMaps;
};
LastLoad lastLoad;

template <class T>
void keep(KeptTable<T>& to, const std::shared_ptr<T[]>& store, int32_t count) {
    to.rows = store;
    to.count = store ? count : 0;
}

template <class T>
void restore(std::shared_ptr<T[]>& store, T*& table, int32_t& count, const KeptTable<T>& from) {
    ++dimmlTablesGeneration;
    store = from.rows;
    table = store.get();
    count = store ? from.count : 0;
}

// Loads one file into the document; false (after the message) when it cannot be read or parsed.
bool loadFile(const IXMLDOMDocumentPtr& doc, const std::string& path) {
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fclose(f);
    } else {
        char detail[64 + PATH_MAX];
        std::snprintf(detail, sizeof detail, " %s %d", path.c_str(), -1);
        reportXmlFailure(detail);
        return false;
    }
    if (doc->load(_variant_t(path.c_str())) != VARIANT_TRUE) {
        std::string detail(" ");
        detail += static_cast<const char*>(doc->GetparseErrorText());
        reportXmlFailure(detail);
        return false;
    }
    return true;
}

}  // namespace

std::string parentDirectory(std::string_view path) {
    const std::size_t cut = path.find_last_of("/\\");
    if (cut == std::string_view::npos) return {};
    std::string dir(path.substr(0, cut + 1));
    for (char& c : dir)
        if (c == '\\') c = '/';
    return dir;
}

std::string moduleDirectory(HMODULE module) {
    char path[PATH_MAX + 1];
    const DWORD n = GetModuleFileNameA(module, path, sizeof path);
    // A path as long as the buffer may have been cut: it would name another directory.
    if (n == 0 || n >= sizeof path - 1) return {};
    return parentDirectory(std::string_view(path, n));
}

void releaseDIMEInfo() {
    release(agencyStore, agencies, agencyCount);
    release(objectStore, s57Objects, s57ObjectCount);
    release(attributeStore, s57Attributes, s57AttributeCount);
    release(setStore, s57Sets, s57SetCount);
    release(objectMapStore, objectMaps, objectMapCount);
    release(attributeMapStore, attributeMaps, attributeMapCount);
}

// ---- loadDIMEInfo ------------------------------------------------------------------------------

HRESULT loadDIMEInfo() { return loadDIMEInfoFrom(moduleDirectory(moduleInstance).c_str()); }

HRESULT loadDIMEInfoFrom(const char* directory) {
    try {
        ComSession com;
        releaseDIMEInfo();
        IXMLDOMDocumentPtr doc;
        check(doc.CreateInstance(CLSID_DOMDocument));

        std::string dir = directory ? directory : "";
        if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir += '/';
        for (char& c : dir)
            if (c == '\\') c = '/';

        const std::string productPath = dir + "product.xml";
        const std::string s57Path = dir + "s57.xml";
        if (lastLoad.valid && lastLoad.productPath == productPath && sameFile(productPath, lastLoad.product) &&
            sameFile(s57Path, lastLoad.s57)) {
            restore(objectMapStore, objectMaps, objectMapCount, lastLoad.objectMaps);
            restore(attributeMapStore, attributeMaps, attributeMapCount, lastLoad.attributeMaps);
            restore(agencyStore, agencies, agencyCount, lastLoad.agencies);
            restore(objectStore, s57Objects, s57ObjectCount, lastLoad.objects);
            restore(attributeStore, s57Attributes, s57AttributeCount, lastLoad.attributes);
            restore(setStore, s57Sets, s57SetCount, lastLoad.sets);
            printAgencies();
            printObjects();
            printAttributes();
            printSets();
            return S_OK;
        }
        lastLoad = LastLoad{};
        FileDigest productDigest, s57Digest;
        const bool read = digestFile(productPath, productDigest) && digestFile(s57Path, s57Digest);

        if (!loadFile(doc, productPath)) return E_FAIL;
        bool clean = getMappingInstance(doc) == S_OK;
        ProductExtras extras;
        const bool extrasRead = readProductExtras(doc, &extras) == S_OK;

        if (!loadFile(doc, s57Path)) return E_FAIL;
        // A reader that fails has logged it and leaves its table as far as it got.
        clean = getAgency(doc) == S_OK && clean;
        clean = getS57Object(doc) == S_OK && clean;
        clean = getS57Attribute(doc) == S_OK && clean;
        clean = getS57List(doc) == S_OK && clean;
        if (s57ObjectCount == 0) {
            std::string detail(" ");
            detail += s57Path;
            detail += ": no S57OBJECT element";
            reportXmlFailure(detail);
            return E_FAIL;
        }
        if (clean && read) {
            LastLoad kept;
            kept.productPath = productPath;
            kept.extrasValid = extrasRead;
            kept.extras = std::move(extras);
            kept.product = productDigest;
            kept.s57 = s57Digest;
            keep(kept.agencies, agencyStore, agencyCount);
            keep(kept.objects, objectStore, s57ObjectCount);
            keep(kept.attributes, attributeStore, s57AttributeCount);
            keep(kept.sets, setStore, s57SetCount);
            keep(kept.objectMaps, objectMapStore, objectMapCount);
            keep(kept.attributeMaps, attributeMapStore, attributeMapCount);
            kept.valid = true;
            lastLoad = std::move(kept);
        }
        return S_OK;
    } catch (const _com_error& e) {
        logComError("loadDIMEInfo", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("loadDIMEInfo", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

// ---- The readers -------------------------------------------------------------------------------

HRESULT getAgency(IXMLDOMDocument* document) {
    try {
        const XmlTree tree = treeOf(document);
        const std::vector<XmlElement> list = tree.elementsByTagName("AGENCY");
        AgencyRec* table = renew(agencyStore, agencies, agencyCount, countOf(list.size()));
        std::string buffer;
        for (int32_t i = 0; i < agencyCount; ++i) {
            forEachAttribute(list[std::size_t(i)], buffer, [&](const AttributeView& a) {
                if (a.is("name")) copyText(table[i].label, a.value());
                else if (a.is("code")) copyText(table[i].code, a.value());
            });
        }
        printAgencies();
        return S_OK;
    } catch (const _com_error& e) {
        logComError("getAgency", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("getAgency", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

HRESULT getS57Object(IXMLDOMDocument* document) {
    try {
        const XmlTree tree = treeOf(document);
        const std::vector<XmlElement> list = tree.elementsByTagName("S57OBJECT");
        S57ObjectRec* table = renew(objectStore, s57Objects, s57ObjectCount, countOf(list.size()));
        std::string buffer;
        for (int32_t i = 0; i < s57ObjectCount; ++i) {
            forEachAttribute(list[std::size_t(i)], buffer, [&](const AttributeView& a) {
                if (a.is("code")) table[i].code = decimalInt32(a.value());
                else if (a.is("acronym")) copyText(table[i].acronym, a.value());
                else if (a.is("desc")) copyText(table[i].description, a.value());
            });
        }
        printObjects();
        return S_OK;
    } catch (const _com_error& e) {
        logComError("getS57Object", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("getS57Object", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

HRESULT getS57Attribute(IXMLDOMDocument* document) {
    try {
        const XmlTree tree = treeOf(document);
        const std::vector<XmlElement> list = tree.elementsByTagName("S57ATTRIBUTE");
        FieldDef* table = renew(attributeStore, s57Attributes, s57AttributeCount, countOf(list.size()));
        std::string buffer;
        for (int32_t i = 0; i < s57AttributeCount; ++i) {
            table[i].type = 1;  // an entry without a type is text
            forEachAttribute(list[std::size_t(i)], buffer, [&](const AttributeView& a) {
                if (a.is("code")) table[i].index = decimalInt32(a.value());
                else if (a.is("acronym")) copyText(table[i].name, a.value());
                else if (a.is("type")) table[i].type = columnType(a.value());
            });
            completeAttribute(table[i]);
        }
        printAttributes();
        return S_OK;
    } catch (const _com_error& e) {
        logComError("getS57Attribute", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("getS57Attribute", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

HRESULT getS57List(IXMLDOMDocument* document) {
    try {
        const XmlTree tree = treeOf(document);
        const std::vector<XmlElement> list = tree.elementsByTagName("S57SET");
        S57SetRec* table = renew(setStore, s57Sets, s57SetCount, countOf(list.size()));
        std::string buffer;
        for (int32_t i = 0; i < s57SetCount; ++i) {
            forEachAttribute(list[std::size_t(i)], buffer, [&](const AttributeView& a) {
                if (a.is("object")) table[i].objectCode = decimalInt32(a.value());
                else if (a.is("attr")) table[i].attributeCode = decimalInt32(a.value());
                else if (a.is("set")) copyText(table[i].set, a.value());
            });
        }
        printSets();
        return S_OK;
    } catch (const _com_error& e) {
        logComError("getS57List", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("getS57List", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

HRESULT getMappingInstance(IXMLDOMDocument* document) {
    try {
        const XmlTree tree = treeOf(document);
        const std::vector<XmlElement> maps = tree.elementsByTagName("OBJECTMAP");
        const LONG attributeTotal = countOf(tree.elementsByTagName("ATTRIBUTEMAP").size());
        ObjectMapRec* objTable = renew(objectMapStore, objectMaps, objectMapCount, countOf(maps.size()));
        std::string buffer;
        AttributeMapRec* attrTable =
            renew(attributeMapStore, attributeMaps, attributeMapCount, attributeTotal);
        int32_t next = 0;  // running index over every ATTRIBUTEMAP of the document
        for (int32_t i = 0; i < objectMapCount; ++i) {
            ObjectMapRec& om = objTable[i];
            // Only elements can carry the tags below: text between them is passed over.
            for (XmlElement child = maps[std::size_t(i)].firstChildElement(); child;
                 child = child.nextSiblingElement()) {
                const char* tag = child.name();
                const bool s57Object = isName(tag, "S57OBJECT");
                if (s57Object || isName(tag, "GDBOBJECT")) {
                    forEachAttribute(child, buffer, [&](const AttributeView& a) {
                        if (a.is("name")) {
                            if (s57Object) copyText(om.s57Name, a.value());
                            else copyText(om.gdbName, a.value());
                        } else if (a.is("type")) {
                            copyText(om.type, a.value());
                        } else if (a.is("code")) {
                            om.code = decimalInt32(a.value());
                        } else if (a.is("subtype")) {
                            copyText(om.subtype, a.value());
                        }
                    });
                } else if (isName(tag, "ATTRIBUTEMAP")) {
                    if (next >= attributeMapCount) continue;  // only an ATTRIBUTEMAP counted above
                    AttributeMapRec& am = attrTable[next++];
                    am.objectCode = om.code;
                    copyText(am.objectType, om.type);
                    copyText(am.objectName, om.s57Name);
                    for (XmlElement part = child.firstChildElement(); part; part = part.nextSiblingElement()) {
                        const bool s57 = isName(part.name(), "S57ATTRIBUTE");
                        if (!s57 && !isName(part.name(), "GDBATTRIBUTE")) continue;
                        forEachAttribute(part, buffer, [&](const AttributeView& a) {
                            if (a.is("name")) {
                                if (s57) copyText(am.s57Name, a.value());
                                else copyText(am.gdbName, a.value());
                            } else if (a.is("code")) {
                                am.code = decimalInt32(a.value());
                            } else if (a.is("qc")) {
                                am.qc = decimalInt32(a.value());
                            } else if (a.is("set")) {
                                copyText(am.set, a.value());
                            }
                        });
                    }
                }
            }
        }
        return S_OK;
    } catch (const _com_error& e) {
        logComError("getMappingInstance", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("getMappingInstance", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

// ---- Beyond the mapping tables -----------------------------------------------------------------------

namespace {
// The value of an element's attribute of that name (case ignored; the last one wins), "" without.
std::string attributeText(XmlElement element, const char* name, std::string& buffer) {
    std::string value;
    forEachAttribute(element, buffer, [&](const AttributeView& a) {
        if (a.is(name)) value = a.value();
    });
    return value;
}
}  // namespace

HRESULT readProductExtras(IXMLDOMDocument* document, ProductExtras* out) {
    if (!out) return E_POINTER;
    try {
        ProductExtras extras;
        const XmlTree tree = treeOf(document);
        std::string buffer;
        for (XmlElement e : tree.elementsByTagName("GDBOBJECT"))
            if (attributeText(e, "z", buffer) == "1") extras.zClasses.push_back(attributeText(e, "name", buffer));
        for (XmlElement e : tree.elementsByTagName("COLLECTION")) {
            ProductExtras::Collection c;
            c.name = attributeText(e, "name", buffer);
            if (c.name.empty()) continue;
            for (XmlElement child = e.firstChildElement(); child; child = child.nextSiblingElement()) {
                if (std::strcmp(child.name(), "FIELD") != 0) continue;
                ProductExtras::Field f{attributeText(child, "name", buffer), attributeText(child, "code", buffer)};
                if (!f.name.empty()) c.fields.push_back(std::move(f));
            }
            extras.collections.push_back(std::move(c));
        }
        *out = std::move(extras);
        return S_OK;
    } catch (const _com_error& e) {
        return e.Error();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

bool loadedProductExtras(const char* path, ProductExtras* out) {
    if (!path || !out || !lastLoad.valid || !lastLoad.extrasValid) return false;
    std::string normal = path;
    for (char& c : normal)
        if (c == '\\') c = '/';
    if (normal != lastLoad.productPath || !sameFile(normal, lastLoad.product)) return false;
    try {
        *out = lastLoad.extras;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// ---- The built-in catalogue ----------------------------------------------------------------------

void installBuiltinCatalogue() {
    S57ObjectRec* objects = renew(objectStore, s57Objects, s57ObjectCount, kBuiltinS57ObjectCount);
    for (int32_t i = 0; i < kBuiltinS57ObjectCount; ++i) objects[i] = builtinS57Objects[i];
    FieldDef* attributes =
        renew(attributeStore, s57Attributes, s57AttributeCount, kBuiltinS57AttributeCount);
    for (int32_t i = 0; i < kBuiltinS57AttributeCount; ++i) attributes[i] = builtinS57Attributes[i];
    S57SetRec* sets = renew(setStore, s57Sets, s57SetCount, kBuiltinS57SetCount);
    for (int32_t i = 0; i < kBuiltinS57SetCount; ++i) sets[i] = builtinS57Sets[i];
}

// ---- Agencies ------------------------------------------------------------------------------------

int lookupAGENlabel(const char* code, char* label) {
    if (!label) return -19;
    try {
        std::snprintf(label, 125, "%s", "AA");
        if (!code) return 0;
        // Every LNAM of a cell names its agency: the last one found is tried first.
        static uint64_t lastGeneration = 0;
        static const AgencyRec* lastTable = nullptr;
        static int32_t lastCount = -1, lastIndex = -1;
        if (lastGeneration == dimmlTablesGeneration && lastTable == agencies && lastCount == agencyCount &&
            lastIndex >= 0 && lastIndex < agencyCount && sameText(agencies[lastIndex].code, code)) {
            std::snprintf(label, 125, "%s", agencies[lastIndex].label);
            return 0;
        }
        for (int32_t i = 0; i < agencyCount; ++i) {
            if (sameText(agencies[i].code, code)) {
                std::snprintf(label, 125, "%s", agencies[i].label);
                lastGeneration = dimmlTablesGeneration;
                lastTable = agencies;
                lastCount = agencyCount;
                lastIndex = i;
                break;
            }
        }
        return 0;
    } catch (const _com_error& e) {
        logComError("lookupAGENlabel", e);
        return E_FAIL;
    }
}

int lookupAGENcode(const char* label, char* code) {
    if (!code) return -19;
    try {
        std::snprintf(code, 10, "%s", "1810");
        if (!label) return 0;
        for (int32_t i = 0; i < agencyCount; ++i) {
            if (sameText(agencies[i].label, label)) {
                std::snprintf(code, 10, "%s", agencies[i].code);
                break;
            }
        }
        return 0;
    } catch (const _com_error& e) {
        logComError("lookupAGENcode", e);
        return E_FAIL;
    }
}
