// s57/dimml.cpp: the catalogue loader. Reads product.xml and s57.xml (from the directory of
// libtarvo.so) through the DOM document into the six program-wide tables; installs the compiled-in
// catalogue on request; translates agency codes and labels.
// Failures: loadDIMEInfo gives E_FAIL for a file that cannot be read or parsed or a catalogue
// without object classes (message 153 and a log line); a reader gives E_FAIL after a COM failure
// (logged) and leaves its table as far as it got. Nothing is thrown to callers.
#include "s57/dimml.h"

#include <strings.h>

#include <algorithm>
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

// Owners of the tables; the program-wide pointers above always equal their get().
std::unique_ptr<AgencyRec[]> agencyStore;
std::unique_ptr<S57ObjectRec[]> objectStore;
std::unique_ptr<FieldDef[]> attributeStore;
std::unique_ptr<S57SetRec[]> setStore;
std::unique_ptr<ObjectMapRec[]> objectMapStore;
std::unique_ptr<AttributeMapRec[]> attributeMapStore;

// Replaces a table by `count` zero-filled records (none for a count below 1).
template <class T>
T* renew(std::unique_ptr<T[]>& store, T*& table, int32_t& count, LONG n) {
    ++dimmlTablesGeneration;
    store.reset(n > 0 ? new T[std::size_t(n)]() : nullptr);
    table = store.get();
    count = n > 0 ? int32_t(n) : 0;
    return table;
}

template <class T>
void release(std::unique_ptr<T[]>& store, T*& table, int32_t& count) {
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

void logComError(const char* function, const _com_error& e) {
    if (!logFile) return;
    const _bstr_t description = e.Description();
    const char* text = description.length() ? static_cast<const char*>(description) : e.ErrorMessage();
    std::fprintf(logFile, "Error: %s::%s\n%s\n", kModule, function, text);
    std::fflush(logFile);
}

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

// Leading decimal digits (after blanks and a sign), 0 when there are none; clamped to int32.
int32_t toInt(const char* text) {
    const long long v = std::strtoll(text, nullptr, 10);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return int32_t(v);
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

// A BSTR's text as UTF-8 into out, which it owns (null stays empty). The catalogue's texts are
// nearly all ASCII, and a _bstr_t per attribute text was most of the catalogue's load time.
const char* narrowInto(BSTR text, std::string& out) {
    out.clear();
    const UINT n = text ? SysStringLen(text) : 0;
    UINT i = 0;
    while (i < n && static_cast<std::uint32_t>(text[i]) < 0x80) ++i;
    if (i == n) {
        out.resize(n);
        for (UINT k = 0; k < n; ++k) out[k] = char(text[k]);
    } else {
        out = toUtf8(std::wstring_view(text, n));
    }
    return out.c_str();
}

// Frees a BSTR on every way out.
struct OwnedBstr {
    BSTR text = nullptr;
    OwnedBstr() = default;
    OwnedBstr(const OwnedBstr&) = delete;
    OwnedBstr& operator=(const OwnedBstr&) = delete;
    ~OwnedBstr() { SysFreeString(text); }
};

// Calls f(name, value) for each attribute of the node, in document order.
template <class F>
void forEachAttribute(const IXMLDOMNodePtr& node, F&& f) {
    IXMLDOMNamedNodeMapPtr attrs = node->Getattributes();
    if (!attrs) return;
    const LONG n = attrs->Getlength();
    std::string name, value;
    for (LONG j = 0; j < n; ++j) {
        IXMLDOMNodePtr a = attrs->Getitem(j);
        if (!a) continue;
        OwnedBstr rawName, rawValue;
        check(a->get_nodeName(&rawName.text));
        check(a->get_text(&rawValue.text));
        f(narrowInto(rawName.text, name), narrowInto(rawValue.text, value));
    }
}

struct ComSession {
    ComSession() { CoInitialize(nullptr); }
    ~ComSession() { CoUninitialize(); }
    ComSession(const ComSession&) = delete;
    ComSession& operator=(const ComSession&) = delete;
};

// Message 153 under caption 104 (in both directions), and its text with the detail in the log.
void reportXmlFailure(const std::string& detail) {
    displayMessage(kMsgUnableToOpenXml, kCaptionGdbToS57, detail.c_str());
    const char* text = stringText(kMsgUnableToOpenXml);
    logText("%s %s", text ? text : "", detail.c_str());
}

// Loads one file into the document; false (after the message) when it cannot be read or parsed.
// The trace of each table on standard output, as each load gives it.
void printAgencies() {
    for (int32_t i = 0; i < agencyCount; ++i) std::printf("agency %s %s\n", agencies[i].label, agencies[i].code);
}
void printObjects() {
    for (int32_t i = 0; i < s57ObjectCount; ++i)
        std::printf("object code %d label %s desc %s\n", s57Objects[i].code, s57Objects[i].acronym,
                    s57Objects[i].description);
}
void printAttributes() {
    for (int32_t i = 0; i < s57AttributeCount; ++i)
        std::printf("attr code %d label %s desc %d\n", s57Attributes[i].index, s57Attributes[i].name,
                    s57Attributes[i].type);
}
void printSets() {
    for (int32_t i = 0; i < s57SetCount; ++i)
        std::printf("object list object %d attribute %d set %s\n", s57Sets[i].objectCode, s57Sets[i].attributeCode,
                    s57Sets[i].set);
}

// The files and tables of the last load that went through without a failure: a process that loads
// the same files again (the template, then the import) takes the tables from here instead of
// parsing both documents again.
struct LastLoad {
    bool valid = false;
    std::string product, s57;  // the files' bytes
    std::vector<AgencyRec> agencies;
    std::vector<S57ObjectRec> objects;
    std::vector<FieldDef> attributes;
    std::vector<S57SetRec> sets;
    std::vector<ObjectMapRec> objectMaps;
    std::vector<AttributeMapRec> attributeMaps;
};
LastLoad lastLoad;

bool readBytes(const std::string& path, std::string& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    out.clear();
    char buf[65536];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

template <class T>
void keep(std::vector<T>& to, const T* table, int32_t count) {
    to.assign(table, table + (table ? count : 0));
}

template <class T>
void restore(std::unique_ptr<T[]>& store, T*& table, int32_t& count, const std::vector<T>& from) {
    T* t = renew(store, table, count, LONG(from.size()));
    std::copy(from.begin(), from.end(), t);
}

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
        std::string productBytes, s57Bytes;
        const bool read = readBytes(productPath, productBytes) && readBytes(s57Path, s57Bytes);
        if (read && lastLoad.valid && lastLoad.product == productBytes && lastLoad.s57 == s57Bytes) {
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

        if (!loadFile(doc, productPath)) return E_FAIL;
        bool clean = getMappingInstance(doc) == S_OK;

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
            kept.product = std::move(productBytes);
            kept.s57 = std::move(s57Bytes);
            keep(kept.agencies, agencies, agencyCount);
            keep(kept.objects, s57Objects, s57ObjectCount);
            keep(kept.attributes, s57Attributes, s57AttributeCount);
            keep(kept.sets, s57Sets, s57SetCount);
            keep(kept.objectMaps, objectMaps, objectMapCount);
            keep(kept.attributeMaps, attributeMaps, attributeMapCount);
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
        IXMLDOMDocumentPtr doc(document);
        IXMLDOMNodeListPtr list = doc->getElementsByTagName("AGENCY");
        AgencyRec* table = renew(agencyStore, agencies, agencyCount, list->Getlength());
        for (int32_t i = 0; i < agencyCount; ++i) {
            forEachAttribute(list->Getitem(i), [&](const char* name, const char* value) {
                if (sameText(name, "name")) copyText(table[i].label, value);
                else if (sameText(name, "code")) copyText(table[i].code, value);
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
        IXMLDOMDocumentPtr doc(document);
        IXMLDOMNodeListPtr list = doc->getElementsByTagName("S57OBJECT");
        S57ObjectRec* table = renew(objectStore, s57Objects, s57ObjectCount, list->Getlength());
        for (int32_t i = 0; i < s57ObjectCount; ++i) {
            forEachAttribute(list->Getitem(i), [&](const char* name, const char* value) {
                if (sameText(name, "code")) table[i].code = toInt(value);
                else if (sameText(name, "acronym")) copyText(table[i].acronym, value);
                else if (sameText(name, "desc")) copyText(table[i].description, value);
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
        IXMLDOMDocumentPtr doc(document);
        IXMLDOMNodeListPtr list = doc->getElementsByTagName("S57ATTRIBUTE");
        FieldDef* table = renew(attributeStore, s57Attributes, s57AttributeCount, list->Getlength());
        for (int32_t i = 0; i < s57AttributeCount; ++i) {
            table[i].type = 1;  // an entry without a type is text
            forEachAttribute(list->Getitem(i), [&](const char* name, const char* value) {
                if (sameText(name, "code")) table[i].index = toInt(value);
                else if (sameText(name, "acronym")) copyText(table[i].name, value);
                else if (sameText(name, "type")) table[i].type = columnType(value);
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
        IXMLDOMDocumentPtr doc(document);
        IXMLDOMNodeListPtr list = doc->getElementsByTagName("S57SET");
        S57SetRec* table = renew(setStore, s57Sets, s57SetCount, list->Getlength());
        for (int32_t i = 0; i < s57SetCount; ++i) {
            forEachAttribute(list->Getitem(i), [&](const char* name, const char* value) {
                if (sameText(name, "object")) table[i].objectCode = toInt(value);
                else if (sameText(name, "attr")) table[i].attributeCode = toInt(value);
                else if (sameText(name, "set")) copyText(table[i].set, value);
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
        IXMLDOMDocumentPtr doc(document);
        IXMLDOMNodeListPtr maps = doc->getElementsByTagName("OBJECTMAP");
        const LONG attributeTotal = doc->getElementsByTagName("ATTRIBUTEMAP")->Getlength();
        ObjectMapRec* objTable = renew(objectMapStore, objectMaps, objectMapCount, maps->Getlength());
        AttributeMapRec* attrTable =
            renew(attributeMapStore, attributeMaps, attributeMapCount, attributeTotal);
        int32_t next = 0;  // running index over every ATTRIBUTEMAP of the document
        for (int32_t i = 0; i < objectMapCount; ++i) {
            ObjectMapRec& om = objTable[i];
            IXMLDOMNodeListPtr children = maps->Getitem(i)->GetchildNodes();
            const LONG n = children->Getlength();
            for (LONG c = 0; c < n; ++c) {
                IXMLDOMNodePtr child = children->Getitem(c);
                const _bstr_t tag = child->GetnodeName();
                const char* t = tag;
                if (sameText(t, "S57OBJECT") || sameText(t, "GDBOBJECT")) {
                    const bool s57 = sameText(t, "S57OBJECT");
                    forEachAttribute(child, [&](const char* name, const char* value) {
                        if (sameText(name, "name")) {
                            if (s57) copyText(om.s57Name, value);
                            else copyText(om.gdbName, value);
                        } else if (sameText(name, "type")) {
                            copyText(om.type, value);
                        } else if (sameText(name, "code")) {
                            om.code = toInt(value);
                        } else if (sameText(name, "subtype")) {
                            copyText(om.subtype, value);
                        }
                    });
                } else if (sameText(t, "ATTRIBUTEMAP")) {
                    if (next >= attributeMapCount) continue;  // only an ATTRIBUTEMAP counted above
                    AttributeMapRec& am = attrTable[next++];
                    am.objectCode = om.code;
                    copyText(am.objectType, om.type);
                    copyText(am.objectName, om.s57Name);
                    IXMLDOMNodeListPtr parts = child->GetchildNodes();
                    const LONG m = parts->Getlength();
                    for (LONG p = 0; p < m; ++p) {
                        IXMLDOMNodePtr part = parts->Getitem(p);
                        const _bstr_t ptag = part->GetnodeName();
                        const char* pt = ptag;
                        const bool s57 = sameText(pt, "S57ATTRIBUTE");
                        if (!s57 && !sameText(pt, "GDBATTRIBUTE")) continue;
                        forEachAttribute(part, [&](const char* name, const char* value) {
                            if (sameText(name, "name")) {
                                if (s57) copyText(am.s57Name, value);
                                else copyText(am.gdbName, value);
                            } else if (sameText(name, "code")) {
                                am.code = toInt(value);
                            } else if (sameText(name, "qc")) {
                                am.qc = toInt(value);
                            } else if (sameText(name, "set")) {
                                copyText(am.set, value);
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
        for (int32_t i = 0; i < agencyCount; ++i) {
            if (sameText(agencies[i].code, code)) {
                std::snprintf(label, 125, "%s", agencies[i].label);
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
