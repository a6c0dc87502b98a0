// s57/field_utils.cpp: module s57_util2, field utilities: building the fields of records to write,
// preparing a record for the record layer, text helpers, and the product mapping read backwards.
// Failures are result codes with a line in logFile; COM failures are logged with the module and
// function name. Nothing is thrown to callers.
#include "s57/field_utils.h"

#include <strings.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/com/com.h"
#include "s57/dbutil.h"
#include "s57/dimml.h"
#include "s57/s57_codec.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"

namespace {

constexpr char kModule[] = "s57_util2";

struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};
using MallocText = std::unique_ptr<char, FreeDeleter>;

void logComError(const char* function, const _com_error& e) { logComErrorOf(kModule, function, e); }

// A malloc'ed copy of `n` bytes with a NUL after them (so a binary value can still be printed).
MallocText copyBytes(const char* bytes, std::size_t n) {
    MallocText out(static_cast<char*>(std::malloc(n + 1)));
    if (!out) return out;
    std::memcpy(out.get(), bytes, n);
    out.get()[n] = '\0';
    return out;
}

bool sameText(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

// Cut to four characters; called for every subfield written, hence no snprintf.
void copyLabel(char (&dst)[5], const char* label) {
    std::size_t i = 0;
    for (; i + 1 < sizeof dst && label[i]; ++i) dst[i] = label[i];
    dst[i] = '\0';
}

// A value read from a row as the text an ATVL holds: null gives the empty text.
std::string valueText(const _variant_t& v) {
    if (v.isNullOrEmpty()) return {};
    if (v.vt == VT_BSTR) return static_cast<const char*>(static_cast<_bstr_t>(v));
    _variant_t text;
    text.ChangeType(VT_BSTR, &v);
    return static_cast<const char*>(static_cast<_bstr_t>(text));
}

}  // namespace

// ---- Fields ------------------------------------------------------------------------------------

void shallowCopyField(Iso8211Field* dst, const Iso8211Field* src) {
    if (!dst || !src) return;
    std::memcpy(dst->tag, src->tag, sizeof dst->tag);
    dst->subfieldCount = src->subfieldCount;
    dst->subFields = src->subFields;
}

void initializeField(Iso8211Field* field) {
    if (!field) return;
    std::memset(field->tag, 0, sizeof field->tag);
    field->subfieldCount = 0;
    field->subFields = nullptr;
}

int updateSubfield(Iso8211Field* field, const char* label, const char* value, int index) {
    if (!field || !label || !value || !field->subFields || index < 0 || index >= field->subfieldCount)
        return -19;
    const std::size_t n = std::strlen(value);
    MallocText copy = copyBytes(value, n);
    if (!copy) return -1;
    Iso8211SubField& s = field->subFields[index];
    copyLabel(s.label, label);
    s.format[0] = '\0';
    Free8211Value(s.value);
    s.value = copy.release();
    s.length = int32_t(n);
    return 0;
}

namespace {

// PrepareToWrite; `owned`: every value is a heap text of its own (a built record), which then
// takes its stored form in place.
int prepareValues(Iso8211Record* record, int binary, bool owned) {
    if (!record) {
        logLine("PrepareToWrite: illegal parameter\n");
        return -19;
    }
    try {
        std::vector<char> work;
        for (int i = 0; i < record->fieldCount; ++i) {
            Iso8211Field& f = record->fields[i];
            for (int j = 0; j < f.subfieldCount && f.subFields; ++j) {
                Iso8211SubField& s = f.subFields[j];
                // A built value with a format is its stored form already (fillCoordinateField).
                if (owned && s.format[0] != '\0') continue;
                const char* text = s.value ? s.value : "";
                const std::size_t n = std::strlen(text);
                s.length = int32_t(n);
                if (binary != 1) continue;
                // The codec writes at most the text and its NUL, and never fewer than 8 bytes.
                work.assign(std::max<std::size_t>(n + 1, 8), '\0');
                int length = 0, bytes = 0;
                const int rc = ascii2bin(s.label, work.data(), text, &length, &bytes);
                if (rc != 0) {
                    logLine("PrepareToWrite: unable to translate field %s subfield %s value %s length %d\n",
                            f.tag, s.label, text, int(n));
                    return rc;
                }
                if (bytes < 0 || std::size_t(bytes) > work.size()) return -10;
                if (owned && s.value && std::size_t(bytes) <= n + 1) {
                    // A stored form that fits the text's own n + 1 bytes goes there: no
                    // allocation a subfield.
                    std::memcpy(s.value, work.data(), std::size_t(bytes));
                    if (std::size_t(bytes) <= n) s.value[bytes] = '\0';
                } else {
                    MallocText converted = copyBytes(work.data(), std::size_t(bytes));
                    if (!converted) {
                        logLine("PrepareToWrite: unable to allocate memory\n");
                        return -1;
                    }
                    Free8211Value(s.value);
                    s.value = converted.release();
                }
                // A text keeps its terminator in memory but not in the file: a fixed-width text
                // of full width would not fit, and a variable one would carry a NUL before its
                // unit terminator.
                s.length = length;
            }
        }
        return 0;
    } catch (const std::bad_alloc&) {
        logLine("PrepareToWrite: unable to allocate memory\n");
        return -1;
    } catch (const _com_error& e) {
        logComError("PrepareToWrite", e);
        return E_FAIL;
    }
}

}  // namespace

int PrepareToWrite(Iso8211Record* record, int binary) { return prepareValues(record, binary, false); }

int prepareBuiltRecord(Iso8211Record* record) { return prepareValues(record, 1, true); }

// ---- Texts -------------------------------------------------------------------------------------

int trimRight(char* text) {
    if (!text) return -1;
    int last = int(std::strlen(text)) - 1;
    while (last >= 0 && (text[last] == ' ' || text[last] == '\t' || text[last] == '\n')) --last;
    text[last + 1] = '\0';
    return last;
}

std::string getFCName(const char* qualifiedName) {
    if (!qualifiedName) return {};
    const char* dot = std::strrchr(qualifiedName, '.');
    return dot ? std::string(dot + 1) : std::string(qualifiedName);
}

const char* fieldTypeName(int32_t fieldType) {
    switch (fieldType) {
        case 1: return "esriFieldTypeInteger";
        case 3: return "esriFieldTypeDouble";
        case 4: return "esriFieldTypeString";
        default: return "esriFieldTypeOTHER";
    }
}

// ---- The catalogue read backwards ----------------------------------------------------------------

std::string findS57Object(const char* featureClassName, const char* subtypeName) {
    try {
        const std::string cls = getFCName(featureClassName);
        const std::string sub = getFCName(subtypeName);
        const bool anySubtype = sameText(cls.c_str(), sub.c_str());
        for (int32_t i = 0; i < objectMapCount && objectMaps; ++i) {
            const ObjectMapRec& m = objectMaps[i];
            if (!sameText(m.gdbName, cls.c_str())) continue;
            if (anySubtype || sameText(m.subtype, sub.c_str())) return m.s57Name;
        }
        return {};
    } catch (const std::bad_alloc&) {
        logComError("findS57Object", _com_error(E_OUTOFMEMORY));
        return {};
    }
}

int32_t findS57ObjectCode(const char* acronym) {
    if (!acronym) return -1;
    for (int32_t i = 0; i < s57ObjectCount && s57Objects; ++i)
        if (sameText(s57Objects[i].acronym, acronym)) return s57Objects[i].code;
    return -1;
}

int32_t findAttributeCode(const char* acronym) {
    if (!acronym) return 0;
    for (int32_t i = 0; i < s57AttributeCount && s57Attributes; ++i)
        if (sameText(s57Attributes[i].name, acronym)) return s57Attributes[i].index;
    return 0;
}

// ---- Attributes of a row -----------------------------------------------------------------------

int exportAttribute(Iso8211Field* field, IUnknown* row, int count, const char* const* acronyms) {
    if (!field || !row || count < 0 || (count > 0 && !acronyms)) return -19;
    try {
        RowAccess access(row);
        if (!access) return -19;
        // Built aside and swapped in at the end: a failure leaves the field as it was.
        const std::size_t n = std::size_t(count) * 2;
        auto* subs = static_cast<Iso8211SubField*>(std::calloc(n ? n : 1, sizeof(Iso8211SubField)));
        if (!subs) {
            logLine("exportAttribute: out of memory\n");
            return -1;
        }
        Iso8211Field built{};
        std::memcpy(built.tag, field->tag, sizeof built.tag);
        built.subFields = subs;
        built.subfieldCount = int32_t(n);
        auto discard = [&] {
            for (std::size_t k = 0; k < n; ++k) std::free(subs[k].value);
            std::free(subs);
        };
        try {
            for (int k = 0; k < count; ++k) {
                const char* acronym = acronyms[k] ? acronyms[k] : "";
                char code[16];
                std::snprintf(code, sizeof code, "%d", int(findAttributeCode(acronym)));
                std::string value;
                const LONG column = access.findField(acronym);
                if (column < 0)
                    logLine("column %s not found, setting column value to empty\n", acronym);
                else
                    value = valueText(access.value(column));
                if (updateSubfield(&built, "ATTL", code, 2 * k) != 0 ||
                    updateSubfield(&built, "ATVL", value.c_str(), 2 * k + 1) != 0) {
                    logLine("exportAttribute: out of memory\n");
                    discard();
                    return -1;
                }
            }
        } catch (...) {
            discard();
            throw;
        }
        field->subFields = built.subFields;
        field->subfieldCount = built.subfieldCount;
        return 0;
    } catch (const _com_error& e) {
        logComError("exportAttribute", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logLine("exportAttribute: out of memory\n");
        return -1;
    }
}
