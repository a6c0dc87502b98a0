// s57/s57_file.cpp: the ISO 8211 record and file layer (see s57_file.h), driving the ISO 8211
// library: the open pass that indexes records, record reading into malloc'ed images, the record
// builders, and DDR and record writing.
// Failures are results and one log line each; a failed open leaves the handle closed.

#include "s57/s57_file.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "iso8211/iso8211.h"
#include "s57/s57_codec.h"
#include "s57/s57_util2.h"

namespace {

// First size of the index, which then doubles.
constexpr int kGrowStep = 5;

// Position options of the library's subfield writers (wr123ddsfld, put123sfld).
enum : int {
    kOptNext = 1,         // a further subfield of the field
    kOptRecordStart = 2,  // the record's first subfield
    kOptRecordEnd = 3,    // the record's last subfield
    kOptFieldEnd = 5,     // the last subfield of a field
    kOptFieldStart = 6,   // the first subfield of a later field
};

[[gnu::format(printf, 1, 2)]] void logLine(const char* format, ...) {
    if (!logFile) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(logFile, format, args);
    va_end(args);
}

// Copies text into a fixed array, truncating, always terminated.
template <std::size_t N>
void copyText(char (&dst)[N], std::string_view src) {
    const std::size_t n = src.size() < N - 1 ? src.size() : N - 1;
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

char* heapCopy(const char* text, std::size_t n) {
    char* p = static_cast<char*>(std::calloc(n + 1, 1));
    if (p && n) std::memcpy(p, text, n);
    return p;
}

// Shrinks to exactly n entries; keeps the larger array when that fails.
template <class T>
void shrink(T*& array, int n) {
    if (n == 0) {
        std::free(array);
        array = nullptr;
        return;
    }
    if (T* p = static_cast<T*>(std::realloc(array, std::size_t(n) * sizeof(T)))) array = p;
}

void resetHandle(Iso8211File* file, char mode, int32_t level) {
    file->fp = nullptr;
    file->recordNo = 0;
    file->mode = mode;
    file->recordCount = 0;
    file->index = nullptr;
    file->recordStart = nullptr;
    file->level = level;
    copyText(file->inlineCodeExt, " ");
    copyText(file->charSet, "   ");
}

// Closes a handle during a failing Read8211File and passes its code on.
int failOpen(Iso8211File* file, int rc) {
    (void)Close8211File(file);
    return rc;
}

// The part of a label string after its last "!".
std::string_view lastLabel(std::string_view labels) {
    const std::size_t bang = labels.rfind('!');
    return bang == std::string_view::npos ? labels : labels.substr(bang + 1);
}

bool isBinaryFormat(const std::string& format) {
    return !format.empty() && (format[0] == 'L' || format[0] == 'M' || format[0] == 'B');
}

// The current file's description of `tag` when its text is UCS-2, else null.
const ddfield* ucs2Description(const char* tag) {
    const fm* f = cur_fm();
    if (!f || !f->dd_hd) return nullptr;
    for (const ddfield* d = f->dd_hd->next; d; d = d->next)
        if (std::strcmp(d->tag, tag) == 0) return is123ucs2(d) ? d : nullptr;
    return nullptr;
}

// Whether value j of a field described by d is text (not a binary item): its format item, the
// leaves of the format repeating from seq_again; the subfield's own format when d has no sequence.
bool isTextItem(const ddfield* d, int j, const Iso8211SubField& sf) {
    if (!d->fmt_rt) return true;
    if (d->seq_len <= 0) return !isBinaryFormat(sf.format);
    long at = j;
    if (at >= d->seq_len) {
        const long loop = long(d->seq_len) - d->seq_again;
        if (loop <= 0 || d->seq_again < 0) return !isBinaryFormat(sf.format);
        at = d->seq_again + (at - d->seq_len) % loop;
    }
    const char t = d->fmt_seq[at]->d_type;
    return t != 'B' && t != 'L' && t != 'M';
}

bool recordHasFields() {
    const fm* f = cur_fm();
    return f && f->dr_hd && f->dr_hd->next;
}

void freeSubFields(Iso8211Field* field) {
    if (field->subFields)
        for (int j = 0; j < field->subfieldCount; ++j) std::free(field->subFields[j].value);
    std::free(field->subFields);
    field->subFields = nullptr;
    field->subfieldCount = 0;
}

// What one subfield walk hands back: kept from call to call, so that their capacity stays and the
// library's compare-before-copy finds the same tag, label and format again.
struct SubfieldText {
    std::string tag, value, labels, format, utf8;
};
SubfieldText& subfieldText() {
    static SubfieldText t;
    return t;
}

// Grows the index and the record starts together, doubling; false (both unchanged in size) without
// memory.
bool growIndex(Iso8211File* file, int& capacity) {
    const int bigger = capacity < kGrowStep ? kGrowStep : capacity * 2;
    auto* index = static_cast<Iso8211RecIndex*>(std::realloc(file->index, std::size_t(bigger) * sizeof(Iso8211RecIndex)));
    if (!index) return false;
    file->index = index;
    auto* starts = static_cast<long*>(std::realloc(file->recordStart, std::size_t(bigger) * sizeof(long)));
    if (!starts) return false;
    file->recordStart = starts;
    std::memset(index + capacity, 0, std::size_t(bigger - capacity) * sizeof(Iso8211RecIndex));
    capacity = bigger;
    return true;
}

// Whether path names a file that can be opened for reading (a folder is none).
bool isReadableFile(const char* path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return false;
    std::FILE* fp = std::fopen(path, "rb");
    if (!fp) return false;
    std::fclose(fp);
    return true;
}

}  // namespace

// ---- Reading ------------------------------------------------------------------------------------

int Read8211File(Iso8211File* file, const char* path) {
    if (!file || !path) {
        logLine("Read8211File: Illegal parameter\n");
        return -19;
    }
    resetHandle(file, 'r', 0);

    long level = 0;
    char ice = ' ';
    char ccs[4] = "   ";
    FILE* fp = nullptr;
    if (!open123file(path, 'r', &level, &ice, ccs, &fp) || !fp) {
        resetHandle(file, ' ', 0);
        // A file that opens but whose leader cannot be read is not missing: it is no ISO 8211 file.
        if (isReadableFile(path)) {
            logLine("Read8211File: Bad Data Description Record\n");
            return -7;
        }
        logLine("Read8211File: Error opening ISO 8211 File\n");
        return -2;
    }
    file->fp = fp;
    file->level = int32_t(level);
    file->inlineCodeExt[0] = ice;
    copyText(file->charSet, std::string_view(ccs, strnlen(ccs, 3)));

    if (!find123file(fp) || !read123ddr()) {
        logLine("Read8211File: Bad Data Description Record\n");
        if (fm* f = cur_fm()) {
            f->dd_cur = f->dd_hd;
            f->sf_state_dd = 5;
        }
        return failOpen(file, -7);
    }
    file->recordNo = 1;

    int capacity = kGrowStep;
    file->index = static_cast<Iso8211RecIndex*>(std::calloc(std::size_t(capacity), sizeof(Iso8211RecIndex)));
    file->recordStart = static_cast<long*>(std::calloc(std::size_t(capacity), sizeof(long)));
    if (!file->index || !file->recordStart) {
        logLine("Read8211File: Out of memory\n");
        return failOpen(file, -1);
    }
    bool direct = true;  // every record can be reached by its start (none leans on the one before)

    char decoded[kCodecTextMax + 1];
    SubfieldText& t = subfieldText();
    for (;;) {
        // The end of the file is told apart from a record that cannot be loaded: only the first
        // ends the pass; the second fails the open.
        int eof = 0;
        if (!test123eof(fp, &eof)) {
            logLine("Read8211File: Error reading data record %d\n", int(file->recordCount) + 1);
            return failOpen(file, -8);
        }
        if (eof == S_EOF) break;
        if (!find123file(fp) || !ld123rec()) {
            logLine("Read8211File: Error reading data record %d\n", int(file->recordCount) + 1);
            return failOpen(file, -8);
        }
        file->recordNo += 1;
        cur_fm()->sf_state_dr = 4;

        file->recordCount += 1;
        if (file->recordCount > capacity && !growIndex(file, capacity)) {
            logLine("Read8211File: Out of memory\n");
            return failOpen(file, -1);
        }
        long start = -1;
        if (direct && !tell123rec(fp, &start)) direct = false;
        file->recordStart[file->recordCount - 1] = start;
        Iso8211RecIndex& entry = file->index[file->recordCount - 1];
        entry = Iso8211RecIndex{};
        entry.ordinal = static_cast<unsigned char>(file->recordCount & 0xff);

        if (!recordHasFields()) {
            logLine("Read8211File: Record is missing RCNM or RCID\n");
            return failOpen(file, -8);
        }
        bool haveRcnm = false, haveRcid = false;
        while (!haveRcnm || !haveRcid) {
            std::string& tag = t.tag;
            std::string& value = t.value;
            std::string& labels = t.labels;
            std::string& format = t.format;
            char leadId = ' ';
            long length = 0;
            int status = 0;
            if (!next123sfld(fp, tag, &leadId, value, &length, &status)) {
                logLine("Read8211File: Error reading subfield\n");
                return failOpen(file, -8);
            }
            if (length > kMaxSubfieldLength || value.size() > std::size_t(kMaxSubfieldLength)) {
                logLine("Read8211File: Subfield length exceeds 1024 bytes\n");
                return failOpen(file, -10);
            }
            if (int rc = Set8211FileStatus(file, &status); rc != 0) return failOpen(file, rc);
            if (!desc123sfld(fp, tag, labels, format)) {
                logLine("Read8211File: Bad subfield\n");
                return failOpen(file, -10);
            }
            const std::string_view label = lastLabel(labels);
            const bool isRcnm = label == "RCNM" && (labels == "RCNM" || labels == "!RCNM");
            const bool isRcid = label == "RCID" && (labels == "RCID" || labels == "!RCID");
            if ((isRcnm || isRcid) && isBinaryFormat(format)) {
                if (bin2ascii(isRcnm ? "RCNM" : "RCID", value.c_str(), length, decoded) != 0) {
                    logLine("Read8211File: unable to decode binary value for\n");
                    logLine("  subField label: %s , format: %s, value: %s\n", labels.c_str(),
                            format.c_str(), value.c_str());
                    return failOpen(file, -10);
                }
                value = decoded;
            }
            if (isRcnm) {
                if (value.size() != 2) {
                    logLine("Read8211File: RCNM length is not 2, value: %s\n", value.c_str());
                    return failOpen(file, -10);
                }
                copyText(entry.rcnm, value);
                haveRcnm = true;
            } else if (isRcid) {
                if (value.size() != 10) {
                    logLine("Read8211File: RCID length is not 10, value : %s\n", value.c_str());
                    return failOpen(file, -10);
                }
                copyText(entry.rcid, value);
                haveRcid = true;
            }
            if ((status == S_RECEND || status == S_EOF) && (!haveRcnm || !haveRcid)) {
                logLine("Read8211File: Record is missing RCNM or RCID\n");
                return failOpen(file, -8);
            }
        }
    }

    shrink(file->index, file->recordCount);
    shrink(file->recordStart, file->recordCount);
    if (direct && file->recordCount > 0 && seek123rec(fp, file->recordStart[0])) {
        file->recordNo = 1;
        return 0;
    }
    std::free(file->recordStart);
    file->recordStart = nullptr;
    while (file->recordNo > 1) {
        int status = 0;
        if (!unread123rec(fp, &status)) {
            logLine("Read8211File: Error backing up a record\n");
            return failOpen(file, -11);
        }
        file->recordNo -= 1;
    }
    return 0;
}

int Set8211FileStatus(Iso8211File* file, int* status) {
    if (!file || !status || !file->fp || file->mode != 'r' || !find123file(file->fp)) {
        logLine("Set8211FileStatus: Illegal parameter\n");
        return -19;
    }
    const fm* f = cur_fm();
    if ((f->dv_cur && f->dv_cur->nxt_vptr) || (f->vset_cur && f->vset_cur->nxt_vset)) return 0;
    if (f->dr_cur && f->dr_cur->next) {
        *status = S_FLDEND;
        return 0;
    }
    int eof = 0;
    if (test123eof(file->fp, &eof) <= 0) {
        logLine("Set8211FileStatus: Error getting file status\n");
        return -11;
    }
    *status = eof == S_EOF ? S_EOF : S_RECEND;
    return 0;
}

namespace {

// Subfields of the field being read; moved into an array of the exact size when the field ends.
std::vector<Iso8211SubField>& subfieldScratch() {
    static std::vector<Iso8211SubField> v;
    return v;
}

// Fields of the record being read, likewise.
std::vector<Iso8211Field>& fieldScratch() {
    static std::vector<Iso8211Field> v;
    return v;
}

// One zeroed entry more; false without memory.
template <class T>
bool append(std::vector<T>& items) {
    try {
        items.push_back(T{});
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// A malloc'ed array holding `items` exactly (null for none); false without memory.
template <class T>
bool settle(const std::vector<T>& items, T*& out) {
    out = nullptr;
    if (items.empty()) return true;
    out = static_cast<T*>(std::malloc(items.size() * sizeof(T)));
    if (!out) return false;
    std::memcpy(out, items.data(), items.size() * sizeof(T));
    return true;
}

// The subfields read so far into the field, whatever happened: the caller frees them.
int settleSubFields(Iso8211Field* field, std::vector<Iso8211SubField>& sfs, int rc) {
    if (!settle(sfs, field->subFields)) {
        for (Iso8211SubField& sf : sfs) std::free(sf.value);
        field->subfieldCount = 0;
        sfs.clear();
        logLine("Read8211FieldSubFields: Out of memory\n");
        return rc != 0 ? rc : -1;
    }
    field->subfieldCount = int32_t(sfs.size());
    sfs.clear();
    return rc;
}

}  // namespace

int Read8211FieldSubFields(Iso8211File* file, Iso8211Field* field, int* status) {
    if (!file || !field || !status) {
        logLine("Read8211FieldSubFields: Error reading in subfield\n");
        return -10;
    }
    field->subfieldCount = 0;
    field->subFields = nullptr;
    std::vector<Iso8211SubField>& sfs = subfieldScratch();
    sfs.clear();
    SubfieldText& t = subfieldText();
    char decoded[kCodecTextMax + 1];
    int ucs2 = -1;  // the field's text is UCS-2 (known after its first subfield)
    for (;;) {
        char leadId = ' ';
        long length = 0;
        if (!next123sfld(file->fp, t.tag, &leadId, t.value, &length, status) ||
            length > kMaxSubfieldLength || length < 0 || t.value.size() > std::size_t(kMaxSubfieldLength)) {
            logLine("Read8211FieldSubFields: Error reading in subfield\n");
            return settleSubFields(field, sfs, -10);
        }
        copyText(field->tag, t.tag);
        if (!append(sfs)) {
            logLine("Read8211FieldSubFields: Out of memory\n");
            return settleSubFields(field, sfs, -1);
        }
        Iso8211SubField& sf = sfs.back();

        if (int rc = Set8211FileStatus(file, status); rc != 0) return settleSubFields(field, sfs, rc);
        if (!desc123sfld(file->fp, t.tag, t.labels, t.format)) {
            logLine("Read8211FieldSubFields: Error reading in subfield\n");
            return settleSubFields(field, sfs, -10);
        }
        const std::string_view label = lastLabel(t.labels);
        copyText(sf.label, label);
        copyText(sf.format, t.format);

        // The library's value may hold raw bytes (bit strings); its length is what counts.
        const char* bytes = t.value.data();
        std::size_t count = std::size_t(length) < t.value.size() ? std::size_t(length) : t.value.size();
        if (label.size() == 4 && isBinaryFormat(t.format)) {
            if (bin2ascii(sf.label, t.value.c_str(), long(count), decoded) != 0) {
                logLine("Read8211FieldSubFields: unable to decode binary value for\n");
                logLine("  subField label: %s , format: %s, value: %s\n", sf.label, sf.format,
                        t.value.c_str());
                return settleSubFields(field, sfs, -10);
            }
            bytes = decoded;
            count = std::strlen(decoded);
        } else {
            if (ucs2 < 0) {
                const fm* f = cur_fm();
                ucs2 = f && f->dr_cur && is123ucs2(f->dr_cur->desc) ? 1 : 0;
            }
            if (ucs2) {
                t.utf8 = ucs2ToUtf8(bytes, long(count));
                bytes = t.utf8.data();
                count = t.utf8.size();
            }
        }
        // Copied up to the first NUL, in a zero-filled buffer of length + 1 bytes.
        sf.length = int32_t(count);
        sf.value = static_cast<char*>(std::malloc(count + 1));
        if (!sf.value) {
            logLine("Read8211FieldSubFields: Out of memory\n");
            return settleSubFields(field, sfs, -1);
        }
        const std::size_t text = strnlen(bytes, count);
        std::memcpy(sf.value, bytes, text);
        std::memset(sf.value + text, 0, count + 1 - text);

        if (*status == S_FLDEND || *status == S_RECEND || *status == S_EOF)
            return settleSubFields(field, sfs, 0);
    }
}

int Read8211RecordFields(Iso8211File* file, Iso8211Record* record) {
    if (!file || !record) return -19;
    record->fieldCount = 0;
    record->fields = nullptr;
    std::vector<Iso8211Field>& fields = fieldScratch();
    fields.clear();
    // The fields read so far go to the record, whatever happened: the caller frees them.
    auto settleFields = [&](int rc) {
        if (!settle(fields, record->fields)) {
            for (Iso8211Field& f : fields) freeSubFields(&f);
            fields.clear();
            logLine("Read8211RecordFields: Out of memory\n");
            return rc != 0 ? rc : -1;
        }
        record->fieldCount = int32_t(fields.size());
        fields.clear();
        return rc;
    };
    for (;;) {
        if (!append(fields)) {
            logLine("Read8211RecordFields: Out of memory\n");
            return settleFields(-1);
        }
        int status = 0;
        if (int rc = Read8211FieldSubFields(file, &fields.back(), &status); rc != 0) return settleFields(rc);
        if (status == S_RECEND || status == S_EOF) return settleFields(0);
    }
}

int ReadNext8211Record(Iso8211File* file, Iso8211Record* record) {
    if (!file || !record || !file->fp || file->mode != 'r') {
        logLine("ReadNext8211Record: Illegal parameter\n");
        return -19;
    }
    if (file->recordNo > file->recordCount) {
        logLine("ReadNext8211Record: attempt to read past end of file\n");
        return -12;
    }
    if (!find123file(file->fp)) {
        logLine("ReadNext8211Record: file not open\n");
        return -19;
    }
    // A record without fields would make the walk run on into the next record.
    if (!ld123rec() || !recordHasFields()) {
        logLine("ReadNext8211Record: Error reading record\n");
        *record = Iso8211Record{};
        return -11;
    }
    file->recordNo += 1;
    cur_fm()->sf_state_dr = 4;
    if (int rc = Read8211RecordFields(file, record); rc != 0) {
        (void)Free8211Record(record);
        return rc;
    }
    return 0;
}

int Read8211Record(Iso8211File* file, int ordinal, Iso8211Record* record) {
    if (!file || !file->fp || !record || ordinal < 1 || ordinal > file->recordCount || file->mode != 'r') {
        logLine("Read8211Record: Illegal parameter\n");
        return -19;
    }
    if (!find123file(file->fp)) {
        logLine("Read8211Record: File not open\n");
        return -19;
    }
    if (file->recordStart && file->recordNo != ordinal) {
        const bool back = file->recordNo > ordinal;
        if (!seek123rec(file->fp, file->recordStart[ordinal - 1])) {
            logLine(back ? "Read8211Record: Error backing up a record\n" : "Read8211Record: Error reading record\n");
            return -11;
        }
        file->recordNo = ordinal;
    }
    while (file->recordNo > ordinal) {
        int status = 0;
        if (!unread123rec(file->fp, &status)) {
            logLine("Read8211Record: Error backing up a record\n");
            return -11;
        }
        file->recordNo -= 1;
    }
    while (file->recordNo < ordinal) {
        if (!find123file(file->fp) || !ld123rec()) {
            logLine("Read8211Record: Error reading record\n");
            return -11;
        }
        file->recordNo += 1;
    }
    return ReadNext8211Record(file, record);
}

int ReadFirst8211Record(Iso8211File* file, Iso8211Record* record) {
    if (!file || !record || file->mode != 'r') {
        logLine("ReadFirst8211Record: Illegal parameter\n");
        return -19;
    }
    return Read8211Record(file, 1, record);
}

int Find8211Field(const Iso8211Record* record, const char* tag, int start) {
    if (!record || !tag || start < 0) {
        logLine("Find8211Field: Illegal parameter\n");
        return -19;
    }
    for (int i = start; i < record->fieldCount; ++i)
        if (std::strcmp(record->fields[i].tag, tag) == 0) return i;
    return -13;
}

int Find8211SubField(const Iso8211Record* record, const char* label, int field, int start) {
    if (!record || !label || field < 0 || field >= record->fieldCount || start < 0) {
        logLine("Find8211SubField: Illegal parameter\n");
        return -19;
    }
    const Iso8211Field& f = record->fields[field];
    for (int j = start; j < f.subfieldCount; ++j)
        if (std::strcmp(f.subFields[j].label, label) == 0) return j;
    return -13;
}

int Close8211File(Iso8211File* file) {
    if (!file) {
        logLine("Close8211File: Illegal parameter\n");
        return -19;
    }
    std::free(file->index);
    std::free(file->recordStart);
    FILE* fp = file->fp;
    resetHandle(file, ' ', 0);
    if (!fp) return 0;
    if (!find123file(fp) || !close123file(&fp)) {
        logLine("Close8211File: Error closing file\n");
        return -5;
    }
    return 0;
}

// ---- Building records -----------------------------------------------------------------------------

int allocateFieldArray(Iso8211Record* record, int n) {
    if (!record || n < 1) {
        logLine("allocateFieldArray: Illegal parameter\n");
        return -19;
    }
    auto* fields = static_cast<Iso8211Field*>(std::calloc(std::size_t(n), sizeof(Iso8211Field)));
    if (!fields) {
        logLine("allocateFieldArray: unable to allocate memory\n");
        return -1;
    }
    record->fieldCount = n;
    record->fields = fields;
    return 0;
}

int WriteIso8211Field0001(Iso8211Field* field, int n, const char* recordId) {
    if (!field || n != 1 || !recordId) {
        logLine("WriteIso8211Field0001: Illegal parameter\n");
        return -19;
    }
    auto* sf = static_cast<Iso8211SubField*>(std::calloc(1, sizeof(Iso8211SubField)));
    if (!sf) {
        logLine("WriteIso8211Field0001: out of memory (subFields)\n");
        return -1;
    }
    sf->value = heapCopy(recordId, std::strlen(recordId));
    if (!sf->value) {
        std::free(sf);
        logLine("WriteIso8211Field0001: out of memory (ID)\n");
        return -1;
    }
    copyText(sf->label, "    ");
    sf->length = int32_t(std::strlen(recordId));
    copyText(field->tag, "0001");
    field->subfieldCount = 1;
    field->subFields = sf;
    return 0;
}

int WriteIso8211FieldGeneric(const char* tag, Iso8211Field* field, const FieldDef* defs, int n,
                             char** values) {
    bool ok = tag && field && defs && values && n >= 1;
    for (int i = 0; ok && i < n; ++i) ok = values[i] != nullptr;
    if (!ok) {
        logLine("WriteIso8211FieldGeneric: Illegal parameter\n");
        return -19;
    }
    auto* sfs = static_cast<Iso8211SubField*>(std::calloc(std::size_t(n), sizeof(Iso8211SubField)));
    if (!sfs) {
        logLine("WriteIso8211Field: %s out of memory (subfields).\n", tag);
        return -1;
    }
    copyText(field->tag, tag);
    field->subfieldCount = n;
    field->subFields = sfs;
    for (int i = 0; i < n; ++i) {
        copyText(sfs[i].label, std::string_view(defs[i].name, strnlen(defs[i].name, sizeof defs[i].name)));
        sfs[i].value = heapCopy(values[i], std::strlen(values[i]));
        if (!sfs[i].value) {
            logLine("WriteIso8211FieldGeneric: out of memory\n");
            return -1;
        }
        sfs[i].length = int32_t(std::strlen(values[i]));
    }
    return 0;
}

int Free8211Record(Iso8211Record* record) {
    if (!record) {
        logLine("Free8211Record: Illegal parameter\n");
        return -19;
    }
    if (record->fields)
        for (int i = 0; i < record->fieldCount; ++i) freeSubFields(&record->fields[i]);
    std::free(record->fields);
    record->fields = nullptr;
    record->fieldCount = 0;
    return 0;
}

int Free8211Field(Iso8211Record* record, const char* tag) {
    if (!record || !tag) {
        logLine("Free8211Field: Illegal parameter\n");
        return -19;
    }
    if (record->fieldCount == 0 || !record->fields) return 0;
    for (int i = 0; i < record->fieldCount; ++i) {
        if (std::strcmp(record->fields[i].tag, tag) == 0) {
            freeSubFields(&record->fields[i]);
            return 0;
        }
    }
    return -13;
}

// ---- Field builders -------------------------------------------------------------------------------

namespace {

// One subfield of a builder: its label and the exact text length it requires (0: any).
struct BuiltLabel {
    const char* label;
    int length;
};

// Fills `field` with `count` repetitions of the labels; text(set, i) gives each value.
template <class Text>
int buildField(const char* builder, const char* tag, Iso8211Field* field, const BuiltLabel* labels,
               int n, int count, Text text) {
    if (!field || count < 1) {
        logLine("%s: Illegal parameter.\n", builder);
        return -19;
    }
    for (int s = 0; s < count; ++s) {
        for (int i = 0; i < n; ++i) {
            const char* v = text(s, i);
            if (!v) {
                logLine("%s: Illegal parameter.\n", builder);
                return -19;
            }
            const int len = int(std::strlen(v));
            if (labels[i].length > 0 && len != labels[i].length) {
                logLine("%s: bad subfield %s's length = %d\n", builder, labels[i].label, len);
                return -19;
            }
        }
    }
    const int total = n * count;
    auto* sfs = static_cast<Iso8211SubField*>(std::calloc(std::size_t(total), sizeof(Iso8211SubField)));
    if (!sfs) {
        logLine("%s: out of memory (%s)\n", builder, labels[0].label);
        return -1;
    }
    copyText(field->tag, tag);
    field->subfieldCount = total;
    field->subFields = sfs;
    for (int s = 0; s < count; ++s) {
        for (int i = 0; i < n; ++i) {
            Iso8211SubField& sf = sfs[s * n + i];
            const char* v = text(s, i);
            copyText(sf.label, labels[i].label);
            sf.value = heapCopy(v, std::strlen(v));
            if (!sf.value) {
                logLine("%s: out of memory (%s)\n", builder, labels[i].label);
                return -1;
            }
            sf.length = int32_t(std::strlen(v));
        }
    }
    return 0;
}

// A field of fixed labels, one value each.
template <std::size_t N>
int buildFixed(const char* builder, const char* tag, Iso8211Field* field, const BuiltLabel (&labels)[N],
               const char* const* values) {
    if (!values) {
        logLine("%s: Illegal parameter.\n", builder);
        return -19;
    }
    return buildField(builder, tag, field, labels, int(N), 1, [&](int, int i) { return values[i]; });
}

// Columns of a repeating field, one array per label.
template <std::size_t N>
int buildColumns(const char* builder, const char* tag, Iso8211Field* field, const BuiltLabel (&labels)[N],
                 int count, const char* const* const (&columns)[N]) {
    for (const char* const* c : columns)
        if (!c) {
            logLine("%s: Illegal parameter.\n", builder);
            return -19;
        }
    return buildField(builder, tag, field, labels, int(N), count,
                      [&](int s, int i) { return columns[i][s]; });
}

}  // namespace

int WriteIso8211FieldRepeat(const char* tag, Iso8211Field* field, const FieldDef* defs, int n, int count,
                            char** values) {
    if (!tag || !defs || !values || n < 1) {
        logLine("WriteIso8211FieldRepeat: Illegal parameter.\n");
        return -19;
    }
    std::string names[64];
    BuiltLabel labels[64];
    if (n > 64) {
        logLine("WriteIso8211FieldRepeat: Illegal parameter.\n");
        return -19;
    }
    for (int i = 0; i < n; ++i) {
        names[i].assign(defs[i].name, strnlen(defs[i].name, sizeof defs[i].name));
        labels[i] = {names[i].c_str(), 0};
    }
    return buildField("WriteIso8211FieldRepeat", tag, field, labels, n, count,
                      [&](int s, int i) -> const char* { return values[s * n + i]; });
}

int WriteIso8211FieldCATD(Iso8211Field* field, const char* const* values) {
    static const BuiltLabel kLabels[] = {{"RCNM", 2}, {"RCID", 10}, {"FILE", 0}, {"LFIL", 0},
                                         {"VOLM", 0}, {"IMPL", 3},  {"SLAT", 0}, {"WLON", 0},
                                         {"NLAT", 0}, {"ELON", 0},  {"CRCS", 0}, {"COMT", 0}};
    return buildFixed("WriteIso8211FieldCATD", "CATD", field, kLabels, values);
}

int WriteIso8211FieldCATX(Iso8211Field* field, const char* const* values) {
    static const BuiltLabel kLabels[] = {{"RCNM", 0}, {"RCID", 0}, {"NAM1", 0}, {"NAM2", 0}, {"COMT", 0}};
    return buildFixed("WriteIso8211FieldCATX", "CATX", field, kLabels, values);
}

int WriteIso8211FieldATTRIBUTE(const char* tag, Iso8211Field* field, int count, const char* const* attl,
                               const char* const* atvl) {
    static const BuiltLabel kLabels[] = {{"ATTL", 5}, {"ATVL", 0}};
    if (!tag) {
        logLine("WriteIso8211FieldATTRIBUTE: Illegal parameter.\n");
        return -19;
    }
    return buildColumns("WriteIso8211FieldATTRIBUTE", tag, field, kLabels, count, {attl, atvl});
}

int WriteIso8211FieldFSPT(Iso8211Field* field, int count, const char* const* name, const char* const* ornt,
                          const char* const* usag, const char* const* mask) {
    static const BuiltLabel kLabels[] = {{"NAME", 12}, {"ORNT", 1}, {"USAG", 1}, {"MASK", 1}};
    return buildColumns("WriteIso8211FieldFSPT", "FSPT", field, kLabels, count, {name, ornt, usag, mask});
}

int WriteIso8211FieldDummyFSPT(Iso8211Field* field, const char* ornt, const char* usag, const char* mask) {
    // The placeholder name is not a record name, so its length is not checked.
    static const BuiltLabel kLabels[] = {{"NAME", 0}, {"ORNT", 1}, {"USAG", 1}, {"MASK", 1}};
    const char* const values[] = {"0000000000", ornt, usag, mask};
    return buildFixed("WriteIso8211FieldDummyFSPT", "FSPT", field, kLabels, values);
}

int WriteIso8211FieldVRPT(Iso8211Field* field, int count, const char* const* name, const char* const* ornt,
                          const char* const* usag, const char* const* topi, const char* const* mask) {
    static const BuiltLabel kLabels[] = {{"NAME", 12}, {"ORNT", 1}, {"USAG", 1}, {"TOPI", 1}, {"MASK", 1}};
    if (name && count > 0) {
        for (int s = 0; s < count; ++s) {
            const char* n = name[s];
            if (n && std::strlen(n) >= 2 && std::strncmp(n, "VC", 2) != 0 && std::strncmp(n, "VE", 2) != 0 &&
                std::strncmp(n, "VI", 2) != 0 && std::strncmp(n, "VF", 2) != 0) {
                logLine("WriteIso8211FieldVRPT: subfield NAME %s should start with VC or VE or VI or VF\n", n);
                return -19;
            }
        }
    }
    return buildColumns("WriteIso8211FieldVRPT", "VRPT", field, kLabels, count, {name, ornt, usag, topi, mask});
}

int WriteIso8211FieldSG2D(Iso8211Field* field, int count, const char* const* ycoo, const char* const* xcoo) {
    static const BuiltLabel kLabels[] = {{"YCOO", 0}, {"XCOO", 0}};
    return buildColumns("WriteIso8211FieldSG2D", "SG2D", field, kLabels, count, {ycoo, xcoo});
}

int WriteIso8211FieldSG3D(Iso8211Field* field, int count, const char* const* ycoo, const char* const* xcoo,
                          const char* const* ve3d) {
    static const BuiltLabel kLabels[] = {{"YCOO", 0}, {"XCOO", 0}, {"VE3D", 0}};
    return buildColumns("WriteIso8211FieldSG3D", "SG3D", field, kLabels, count, {ycoo, xcoo, ve3d});
}

int WriteIso8211FieldFFPT(Iso8211Field* field, int count, const char* const* lnam, const char* const* rind,
                          const char* const* comt) {
    static const BuiltLabel kLabels[] = {{"LNAM", 17}, {"RIND", 1}, {"COMT", 0}};
    return buildColumns("WriteIso8211FieldFFPT", "FFPT", field, kLabels, count, {lnam, rind, comt});
}

int WriteIso8211FieldDummyFFPT(Iso8211Field* field, const char* rind, const char* comt) {
    static const BuiltLabel kLabels[] = {{"LNAM", 17}, {"RIND", 1}, {"COMT", 0}};
    const char* const values[] = {"US000000000100001", rind, comt};
    return buildFixed("WriteIso8211FieldDummyFFPT", "FFPT", field, kLabels, values);
}

int WriteIso8211FieldDDDF(Iso8211Field* field, const char* const* values) {
    static const BuiltLabel kLabels[] = {{"RCNM", 2}, {"RCID", 5}, {"OORA", 1}, {"OALB", 6}, {"OALL", 0},
                                         {"SRCE", 0}, {"DFIN", 0}, {"AUTH", 5}, {"ADSC", 0}};
    return buildFixed("WriteIso8211FieldDDDF", "DDDF", field, kLabels, values);
}

int WriteIso8211FieldDDOM(Iso8211Field* field, const char* const* values) {
    static const BuiltLabel kLabels[] = {{"RCNM", 2}, {"RCID", 5}, {"ATLB", 6}, {"ATDO", 1}, {"ADMU", 0},
                                         {"RAVA", 1}, {"DVAL", 0}, {"VADF", 0}, {"AUTH", 5}, {"ADSC", 0}};
    return buildFixed("WriteIso8211FieldDDOM", "DDOM", field, kLabels, values);
}

int WriteIso8211FieldDDSC(Iso8211Field* field, const char* const* values) {
    static const BuiltLabel kLabels[] = {{"RCNM", 2}, {"RCID", 5}, {"OBLB", 6}, {"OUTH", 5},
                                         {"OORA", 1}, {"OALB", 6}, {"AOTH", 5}};
    return buildFixed("WriteIso8211FieldDDSC", "DDSC", field, kLabels, values);
}

// ---- Writing --------------------------------------------------------------------------------------

int updateDDR(Iso8211FieldDesc* descs, int n, int binary) {
    if (!descs || n < 1 || (binary != 0 && binary != 1)) {
        logLine("updateDDR: illegal parameter\n");
        return -19;
    }
    for (int i = 0; i < n; ++i) {
        Iso8211FieldDesc& d = descs[i];
        d.binary = binary;
        const char* src = binary ? d.binaryFormat : d.asciiFormat;
        copyText(d.format, std::string_view(src, strnlen(src, sizeof d.format)));
        if (binary && std::strcmp(d.tag, "0001") == 0) copyText(d.controls, "0500;&   ");
    }
    return 0;
}

int populateDDR(FILE* fp, const char* tag, const char* controls, const char* name, const char* labels,
                const char* format, int last) {
    if (!wr123ddsfld(fp, tag, controls, kOptFieldStart)) {
        logLine("populateDDR: field tag %s unable to write field control %s\n", tag, controls);
        return -4;
    }
    if (!wr123ddsfld(fp, tag, name, kOptNext)) {
        logLine("populateDDR: field tag %s unable to write field description %s\n", tag, name);
        return -4;
    }
    if (labels[0] != '\0' && !wr123ddsfld(fp, tag, labels, kOptNext)) {
        logLine("populateDDR: field tag %s unable to write field label %s\n", tag, labels);
        return -4;
    }
    if (!wr123ddsfld(fp, tag, format, last == 1 ? kOptRecordEnd : kOptFieldEnd)) {
        logLine("populateDDR: field tag %s unable to write field format %s\n", tag, format);
        return -4;
    }
    return 0;
}

int Write8211File(Iso8211File* file, const char* path, const Iso8211FileDesc* fileDesc,
                  const Iso8211FieldDesc* descs, int n) {
    if (!file || !path || !fileDesc || (!descs && n > 0) || n < 0) {
        logLine("Write8211File: Illegal parameter\n");
        return -19;
    }
    resetHandle(file, 'w', 3);
    long level = 3;
    char ice = ' ';
    char ccs[4] = "   ";
    FILE* fp = nullptr;
    if (!open123file(path, 'w', &level, &ice, ccs, &fp) || !fp) {
        logLine("Write8211File: Unable to create ISO 8211 File\n");
        resetHandle(file, ' ', 0);
        return -2;
    }
    file->fp = fp;
    if (!find123file(fp) || !start123ddr(fp)) {
        logLine("Write8211File: Unable to begin data descriptive record\n");
        return -4;
    }
    if (!wr123ddsfld(fp, "0000", fileDesc->controls, kOptRecordStart) ||
        !wr123ddsfld(fp, "0000", fileDesc->title, kOptNext) ||
        !wr123ddsfld(fp, "0000", fileDesc->tagPairs, kOptFieldEnd)) {
        logLine("Write8211File: Error calling wr123ddsfld\n");
        return -4;
    }
    for (int i = 0; i < n; ++i) {
        const Iso8211FieldDesc& d = descs[i];
        if (populateDDR(fp, d.tag, d.controls, d.name, d.labels, d.format, i == n - 1 ? 1 : 0) != 0) {
            logLine("Write8211File: Error calling populateDDR for field %s\n", d.tag);
            return -4;
        }
    }
    if (!finish123ddr(fp)) {
        logLine("Write8211File: Unable to end data descriptive record\n");
        return -4;
    }
    file->recordNo = 1;
    file->recordCount = 1;
    return 0;
}

int Write8211Record(Iso8211File* file, const Iso8211Record* record) {
    bool ok = file && file->fp && file->mode == 'w' && record && record->fieldCount > 0 && record->fields;
    for (int i = 0; ok && i < record->fieldCount; ++i) {
        const Iso8211Field& f = record->fields[i];
        ok = f.subfieldCount > 0 && f.subFields;
        for (int j = 0; ok && j < f.subfieldCount; ++j)
            ok = f.subFields[j].value && f.subFields[j].length >= 0;
    }
    if (!ok) {
        logLine("Write8211Record: Illegal parameter\n");
        return -19;
    }
    if (!find123file(file->fp) || !beg123rec(file->fp)) {
        logLine("Write8211Record: Unable to start data record\n");
        return -4;
    }
    std::string wide;
    for (int i = 0; i < record->fieldCount; ++i) {
        const Iso8211Field& f = record->fields[i];
        const bool lastField = i == record->fieldCount - 1;
        const ddfield* desc = ucs2Description(f.tag);
        for (int j = 0; j < f.subfieldCount; ++j) {
            int option;
            if (j == 0) option = i == 0 ? kOptRecordStart : kOptFieldStart;
            else if (j == f.subfieldCount - 1) option = lastField ? kOptRecordEnd : kOptFieldEnd;
            else option = kOptNext;
            const Iso8211SubField& sf = f.subFields[j];
            const char* value = sf.value;
            long length = sf.length;
            if (desc && isTextItem(desc, j, sf)) {
                wide = utf8ToUcs2(sf.value, sf.length);
                value = wide.data();
                length = long(wide.size());
            }
            if (!put123sfld(file->fp, f.tag, 'D', value, length, option)) {
                // A prepared binary value need not be terminated: print at most its length.
                logLine("Write8211Record: Unable write field %s, subfield %s, value %.*s\n", f.tag, sf.label,
                        int(sf.length), sf.value);
                return -4;
            }
        }
    }
    if (!flush123rec(file->fp)) {
        logLine("Write8211Record: Unable to end data record\n");
        return -4;
    }
    file->recordCount += 1;
    file->recordNo = file->recordCount;
    return 0;
}
