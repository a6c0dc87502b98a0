// s57/s57_file.cpp: the ISO 8211 record and file layer (see s57_file.h), driving the ISO 8211
// library: the open pass that indexes records, record reading into malloc'ed images, the record
// builders, and DDR and record writing.
// Failures are results and one log line each; a failed open leaves the handle closed.

#include "s57/s57_file.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "iso8211/iso8211.h"
#include "platform/com/bstr.h"
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

// Copies text into a fixed array, truncating, always terminated.
template <std::size_t N>
void copyText(char (&dst)[N], std::string_view src) {
    const std::size_t n = src.size() < N - 1 ? src.size() : N - 1;
    if (n) std::memcpy(dst, src.data(), n);
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

void dropCache(const Iso8211File* file);

void resetHandle(Iso8211File* file, char mode, int32_t level) {
    dropCache(file);
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

bool isBinaryFormat(std::string_view format) {
    return !format.empty() && (format[0] == 'L' || format[0] == 'M' || format[0] == 'B');
}

// The current file's description of `tag`, or null.
const ddfield* description(const char* tag) {
    const fm* f = cur_fm();
    if (!f || !f->dd_hd) return nullptr;
    for (const ddfield* d = f->dd_hd->next; d; d = d->next)
        if (std::strcmp(d->tag, tag) == 0) return d;
    return nullptr;
}

// The lexical level of a field's text by the escape in its controls: 2 UCS-2 ("%/A"), 1 ISO 8859-1
// ("-A "), else 0, whose 8-bit text is read as ISO 8859-1 too (cells put degree signs in it).
int lexicalLevel(const ddfield* d) {
    if (is123ucs2(d)) return 2;
    return std::strncmp(d->fd_cntrl + 6, "-A ", 3) == 0 ? 1 : 0;
}

// Whether 8-bit text holds anything but ASCII, and so differs from its UTF-8 form.
bool hasHighBytes(const char* text, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x80) return true;
    return false;
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

// The same where nothing is guessed: a value of a field with a format whose item is not known to be
// text (a prepared binary value of a built record has no format of its own) is left as it is.
bool knownTextItem(const ddfield* d, int j, const Iso8211SubField& sf) {
    if (d->fmt_rt && d->seq_len <= 0 && sf.format[0] == '\0') return false;
    return isTextItem(d, j, sf);
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

// ---- Record blocks and the decoded records of the open pass --------------------------------------
//
// A record read from a file is handed out as one malloc'ed block: its field array, then the
// subfields of every field, then the value texts. The registry knows each block's extent, so that
// Free8211Record and Free8211Field free on its own whatever a caller put into a read record in
// place of a part of its block, and never a part of the block.
//
// Read8211File decodes every record it indexes into a packed image (tag and (label, format) pairs
// as small numbers, then the value texts), kept with the handle until it is closed or reopened:
// Read8211Record and ReadNext8211Record unpack a kept image instead of loading and walking the
// record again. Only records the fast decoder takes whole are kept; the others (dimensions given
// with the data, a field without values, a value the codec refuses ...) go through the subfield
// walk, which reports them as it always has.

namespace {

// Ordered, so that any part of a block leads to the block (Free8211Value).
std::map<const void*, std::size_t>& blocks() {
    // Never destroyed: a record freed while the program ends still finds its block.
    static auto* registry = new std::map<const void*, std::size_t>();
    return *registry;
}

// Records are unpacked and freed on more than one thread while a cell is imported.
std::mutex& blocksMutex() {
    static auto* m = new std::mutex();
    return *m;
}

// Whether p lies in the block [begin, begin + size).
bool inBlock(const void* p, const char* begin, std::size_t size) {
    const auto a = reinterpret_cast<std::uintptr_t>(p), b = reinterpret_cast<std::uintptr_t>(begin);
    return a >= b && a - b < size;
}

// Frees what of a field lies outside the block it came in (nothing of the block itself).
void freeOutsideBlock(Iso8211Field* field, const char* begin, std::size_t size) {
    if (field->subFields) {
        for (int j = 0; j < field->subfieldCount; ++j) {
            char* v = field->subFields[j].value;
            if (v && !inBlock(v, begin, size)) std::free(v);
        }
        if (!inBlock(field->subFields, begin, size)) std::free(field->subFields);
    }
    field->subFields = nullptr;
    field->subfieldCount = 0;
}

// One subfield's label and format as the record carries them, whether its value is binary and
// then the codec's rules for it.
struct Slot {
    char label[5];
    char format[11];
    bool binary;
    bool keep;     // the codec gives the value back as it is (up to a NUL)
    bool numeric;  // a binary number: the library's text of it holds no NUL
    const CodecLabel* rules;
};
static_assert(offsetof(Iso8211SubField, format) == offsetof(Iso8211SubField, label) + 5,
              "label and format lie back to back, as in a slot");

// The tags and slots of packed images, and a memo from a description's (label text, format item)
// to its slot. The memo holds pointers into descriptions: it is only good while they live, so a
// new generation forgets it.
struct PackTables {
    std::vector<Slot> slots;
    std::vector<std::array<char, 8>> tags;
    struct Memo {
        const std::string* label;
        const fnode* format;
        std::uint32_t slot;
        std::uint32_t generation;
    };
    Memo memo[256] = {};
    std::uint32_t generation = 1;

    void clear() {
        slots.clear();
        tags.clear();
        if (++generation == 0) {
            for (Memo& m : memo) m = Memo{};
            generation = 1;
        }
    }

    // The slot of label text `label` (null: no labels) and format item `format` (null: none);
    // false when the table is full.
    bool slotOf(const std::string* label, const fnode* format, std::uint32_t* out) {
        const auto key = reinterpret_cast<std::uintptr_t>(label) ^ (reinterpret_cast<std::uintptr_t>(format) >> 3);
        Memo& m = memo[(key ^ (key >> 8) ^ (key >> 16)) & 255];
        if (m.generation == generation && m.label == label && m.format == format) {
            *out = m.slot;
            return true;
        }
        Slot s{};
        std::memset(s.label, 0, sizeof s.label + sizeof s.format);
        const std::string_view full = label ? lastLabel(*label) : std::string_view();
        copyText(s.label, full);
        const std::string_view fmt =
            format ? std::string_view(format->desc, std::size_t(std::clamp<std::int32_t>(format->desc_len, 0, 16)))
                   : std::string_view();
        copyText(s.format, fmt);
        s.binary = full.size() == 4 && isBinaryFormat(fmt);
        s.rules = s.binary ? codecLabel(s.label) : nullptr;
        s.keep = codecKeepsValue(s.rules);
        s.numeric = format && (format->d_type == 'L' || format->d_type == 'M') &&
                    (format->width == 1 || format->width == 2 || format->width == 4) &&
                    (format->b_type == '1' || format->b_type == '2');
        std::uint32_t i = 0;
        while (i < slots.size() && (slots[i].binary != s.binary || slots[i].numeric != s.numeric ||
                                    std::memcmp(slots[i].label, s.label, sizeof s.label + sizeof s.format) != 0))
            ++i;
        if (i == slots.size()) {
            if (slots.size() >= 0xffff) return false;
            slots.push_back(s);
        }
        m = Memo{label, format, i, generation};
        *out = i;
        return true;
    }

    // The number of a field tag; false when the table is full.
    bool tagOf(const char* tag, std::uint32_t* out) {
        std::array<char, 8> t{};
        std::memcpy(t.data(), tag, std::min<std::size_t>(strnlen(tag, 8), 7));  // as copyText cuts it
        std::uint32_t i = 0;
        while (i < tags.size() && tags[i] != t) ++i;
        if (i == tags.size()) {
            if (tags.size() >= 255) return false;
            tags.push_back(t);
        }
        *out = i;
        return true;
    }
};

// A packed image being written: a header of three 32-bit counts (fields, subfields, text bytes
// with their terminators), then per field its tag number, subfield count and the length of its
// subfields' bytes (8, 32 and 32 bits), then per subfield its slot, length << 1 | (text shorter
// than length), the text's length when shorter (a NUL inside the value; the rest of the value is
// zeros) and the text. Those numbers are base-128 varints. Images are read 16 bytes at a time:
// whatever holds one has kSlack bytes after it.
constexpr std::size_t kSlack = 16;

unsigned char* putVarint(unsigned char* w, std::uint32_t v) {
    while (v >= 0x80) {
        *w++ = static_cast<unsigned char>(v | 0x80);
        v >>= 7;
    }
    *w++ = static_cast<unsigned char>(v);
    return w;
}

std::uint32_t getVarint(const unsigned char*& p) {
    std::uint32_t v = *p++;
    if (v < 0x80) return v;
    v &= 0x7f;
    for (int shift = 7;; shift += 7) {
        const unsigned char b = *p++;
        v |= std::uint32_t(b & 0x7f) << shift;
        if (!(b & 0x80)) return v;
    }
}

struct Packer {
    std::vector<unsigned char> buf;
    std::size_t n = 0;

    // Room for k more bytes (and the slack after them); throws bad_alloc.
    unsigned char* room(std::size_t k) {
        if (buf.size() - n < k + kSlack) buf.resize(std::max(buf.size() * 2, n + k + kSlack + 4096));
        return buf.data() + n;
    }
};

// Copies a short text (values are mostly a few characters) in at most two overlapping moves of a
// fixed size, reading and writing nothing outside [0, n); memcpy beyond 16 bytes.
inline void copyShort(char* to, const char* from, std::size_t n) {
    if (n >= 8) {
        if (n > 16) {
            std::memcpy(to, from, n);
            return;
        }
        std::memcpy(to, from, 8);
        std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + n - 4, from + n - 4, 4);
    } else {
        for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
    }
}

// Packs the record the library has loaded (f's current one), each value as the subfield walk and
// the codec would give it. False when a field needs the walk itself: dimensions given with its
// data, no values, labels too many to be listed, a value without its format item in a formatted
// field, a value over kMaxSubfieldLength bytes or one the codec refuses. Nothing is reported.
bool packRecord(const fm* f, PackTables& t, Packer& out) {
    if (!f || !f->dr_hd || !f->dr_hd->next) return false;
    out.n = 0;
    out.room(12);
    out.n = 12;
    std::uint32_t nf = 0, ns = 0;
    std::uint64_t nt = 0;
    char decoded[kCodecTextMax + 1];
    std::string utf8;
    for (const drfield* r = f->dr_hd->next; r; r = r->next) {
        const ddfield* d = r->desc;
        if (!d || (r->num_dim > 0 && d->dim_num == 0) || !r->values || !r->values->nxt_vset ||
            (d->labels && d->lab_count <= 0))
            return false;
        std::uint32_t tag = 0;
        if (!t.tagOf(r->tag, &tag)) return false;
        unsigned char* w = out.room(9);
        w[0] = static_cast<unsigned char>(tag);
        const std::size_t countAt = out.n + 1;
        out.n += 9;
        const int level = lexicalLevel(d);
        const bool labelled = d->lab_count > 0 && d->lab_text;
        std::int32_t pos = -1;
        std::uint32_t k = 0;
        for (const vnode* set = r->values->nxt_vset; set; set = set->nxt_vset) {
            const fnode* format = nullptr;  // each repetition starts the format again
            for (const vnode* v = set; v; v = v->nxt_vptr) {
                if (labelled) pos = pos + 1 < d->lab_count ? pos + 1 : 0;
                if (v->fmt) format = v->fmt;
                else if (d->fmt_rt) return false;
                std::uint32_t slot = 0;
                if (!t.slotOf(labelled ? &d->lab_text[pos] : nullptr, format, &slot)) return false;
                const Slot& s = t.slots[slot];
                if (v->length < 0 || v->length > kMaxSubfieldLength) return false;
                const char* text = v->value ? v->value : "";
                std::size_t count = v->value ? std::size_t(v->length) : 0;
                std::size_t shown = count;
                if (s.keep) {
                    // Given back up to its first NUL.
                    w = out.room(count + 10);
                    unsigned char* at = putVarint(w, slot);
                    char* body = reinterpret_cast<char*>(at + 1);  // below 64 bytes the length takes one
                    const std::size_t m = s.numeric ? count : strnlen(text, count);
                    copyShort(body, text, m);
                    if (m >= 64) {
                        std::memmove(body + 1, body, m);
                        ++body;
                    }
                    putVarint(at, std::uint32_t(m << 1));
                    out.n = std::size_t(reinterpret_cast<unsigned char*>(body) - out.buf.data()) + m;
                    ++k;
                    nt += m + 1;
                    continue;
                }
                if (s.binary) {
                    if (bin2asciiAs(s.rules, text, long(count), decoded, true) != 0) return false;
                    text = decoded;
                    count = shown = std::strlen(decoded);
                } else {
                    if (level == 2) {
                        utf8 = ucs2ToUtf8(text, long(count));
                        text = utf8.data();
                        count = utf8.size();
                    } else if (hasHighBytes(text, count)) {
                        utf8 = lexicalToUtf8(std::string_view(text, count), level);
                        text = utf8.data();
                        count = utf8.size();
                    }
                    shown = strnlen(text, count);
                }
                w = out.room(shown + 15);
                w = putVarint(w, slot);
                w = putVarint(w, std::uint32_t(count << 1) | (shown != count ? 1u : 0u));
                if (shown != count) w = putVarint(w, std::uint32_t(shown));
                copyShort(reinterpret_cast<char*>(w), text, shown);
                out.n = std::size_t(w - out.buf.data()) + shown;
                ++k;
                nt += count + 1;
            }
        }
        const std::uint32_t bytes = std::uint32_t(out.n - (countAt + 8));
        std::memcpy(out.buf.data() + countAt, &k, 4);
        std::memcpy(out.buf.data() + countAt + 4, &bytes, 4);
        ns += k;
        ++nf;
    }
    if (nt > 0x40000000u) return false;
    const std::uint32_t header[3] = {nf, ns, std::uint32_t(nt)};
    std::memcpy(out.buf.data(), header, sizeof header);
    out.room(0);  // the slack after the image
    return true;
}

// *record := a new block holding the packed image. 0, or -1 without memory (record untouched).
// wanted: the tag numbers to unpack (null: all); the other fields are left out.
int unpackRecord(const PackTables& t, const unsigned char* image, Iso8211Record* record,
                 const std::vector<bool>* wanted = nullptr) {
    std::uint32_t header[3];
    std::memcpy(header, image, sizeof header);
    const std::uint32_t nf = header[0], ns = header[1], nt = header[2];
    const std::size_t fieldBytes = std::size_t(nf) * sizeof(Iso8211Field);
    const std::size_t subBytes = std::size_t(ns) * sizeof(Iso8211SubField);
    const std::size_t size = fieldBytes + subBytes + nt;
    // The texts are copied 16 bytes at a time: the block ends in slack of its own.
    char* block = static_cast<char*>(std::malloc(size + kSlack));
    if (!block) return -1;
    try {
        const std::lock_guard lock(blocksMutex());
        blocks().emplace(block, size);
    } catch (const std::bad_alloc&) {
        std::free(block);
        return -1;
    }
    const Slot* slots = t.slots.data();
    auto* fields = reinterpret_cast<Iso8211Field*>(block);
    auto* sub = reinterpret_cast<Iso8211SubField*>(block + fieldBytes);
    char* text = block + fieldBytes + subBytes;
    const unsigned char* p = image + sizeof header;
    std::uint32_t kept = 0;
    for (std::uint32_t i = 0; i < nf; ++i) {
        const unsigned char tag = *p++;
        std::uint32_t k = 0, bytes = 0;
        std::memcpy(&k, p, 4);
        std::memcpy(&bytes, p + 4, 4);
        p += 8;
        if (wanted && !(*wanted)[tag]) {
            p += bytes;
            continue;
        }
        Iso8211Field& f = fields[kept++];
        std::memcpy(f.tag, t.tags[tag].data(), sizeof f.tag);
        f.subfieldCount = int32_t(k);
        f.subFields = sub;
        for (const Iso8211SubField* end = sub + k; sub != end; ++sub) {
            const Slot& s = slots[getVarint(p)];
            std::memcpy(sub->label, s.label, sizeof s.label + sizeof s.format);
            const std::uint32_t l = getVarint(p);
            const std::uint32_t count = l >> 1;
            if (!(l & 1)) {
                if (count <= 16) std::memcpy(text, p, 16);
                else std::memcpy(text, p, count);
                text[count] = '\0';
                p += count;
            } else {
                const std::uint32_t shown = getVarint(p);
                std::memcpy(text, p, shown);
                std::memset(text + shown, 0, std::size_t(count - shown) + 1);
                p += shown;
            }
            sub->value = text;
            sub->length = int32_t(count);
            text += std::size_t(count) + 1;
        }
    }
    record->fieldCount = int32_t(kept);
    record->fields = fields;
    return 0;
}

// The packed images of one open handle, by ordinal.
struct RecordCache {
    const Iso8211File* file = nullptr;
    const FILE* fp = nullptr;
    const Iso8211RecIndex* index = nullptr;  // the handle's index once the open pass is done
    int32_t count = 0;
    bool complete = false;  // the open pass succeeded: images may be handed out
    bool moved = false;     // an image was handed out: the library no longer stands at recordNo
    PackTables tables;
    std::vector<bool> wanted;               // Read8211RecordTags's tag numbers
    std::vector<const char*> wantedTags;    // and the tags they were found for
    // One allocation each, so that the images a reader let go of are reused by what comes after.
    struct Free {
        void operator()(unsigned char* p) const noexcept { std::free(p); }
    };
    std::vector<std::unique_ptr<unsigned char, Free>> images;  // null: read from the file

    // A kept copy of n bytes (and the slack after them); throws bad_alloc.
    void keep(const unsigned char* p, std::size_t n) {
        images.emplace_back();
        auto* at = static_cast<unsigned char*>(std::malloc(n + kSlack));
        if (!at) throw std::bad_alloc();
        std::memcpy(at, p, n + kSlack);
        images.back().reset(at);
    }
};

std::vector<std::unique_ptr<RecordCache>>& caches() {
    // Never destroyed, like the registry: a handle closed while the program ends still finds it.
    static auto* all = new std::vector<std::unique_ptr<RecordCache>>();
    return *all;
}

RecordCache* cacheOf(const Iso8211File* file) {
    for (auto& c : caches())
        if (c->file == file) return c.get();
    return nullptr;
}

void dropCache(const Iso8211File* file) {
    auto& all = caches();
    all.erase(std::remove_if(all.begin(), all.end(), [&](const auto& c) { return c->file == file; }), all.end());
}

// The cache of an open handle when it still belongs to the file the handle has open.
RecordCache* liveCache(const Iso8211File* file) {
    RecordCache* c = cacheOf(file);
    if (!c || !c->complete || c->fp != file->fp || c->index != file->index || c->count != file->recordCount ||
        file->mode != 'r')
        return nullptr;
    return c;
}

// The kept image of record `ordinal` of the handle, or null.
const unsigned char* keptImage(const RecordCache* c, int ordinal) {
    if (!c || ordinal < 1 || std::size_t(ordinal) > c->images.size()) return nullptr;
    return c->images[std::size_t(ordinal - 1)].get();
}

// Scratch of the decoder when no image is kept: its tables are good for one record.
PackTables& scratchTables() {
    static PackTables t;
    return t;
}
Packer& packer() {
    static Packer p;
    return p;
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

    // The decoded records are kept when memory allows; without them every read walks the file.
    RecordCache* cache = nullptr;
    try {
        caches().push_back(std::make_unique<RecordCache>());
        cache = caches().back().get();
        cache->file = file;
        cache->fp = fp;
    } catch (const std::bad_alloc&) {
        dropCache(file);
        cache = nullptr;
    }

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
        if (cache && !direct) {
            dropCache(file);
            cache = nullptr;
        }
        if (cache) {
            try {
                Packer& p = packer();
                if (packRecord(cur_fm(), cache->tables, p)) cache->keep(p.buf.data(), p.n);
                else cache->images.emplace_back();
            } catch (const std::bad_alloc&) {
                dropCache(file);
                cache = nullptr;
            }
        }
    }

    shrink(file->index, file->recordCount);
    shrink(file->recordStart, file->recordCount);
    if (direct && file->recordCount > 0 && seek123rec(fp, file->recordStart[0])) {
        file->recordNo = 1;
        if (cache) {
            cache->index = file->index;
            cache->count = file->recordCount;
            cache->complete = true;
            // Every record is kept: the packing scratch (as large as the largest record) goes back
            // to the heap for the import's own use.
            std::vector<unsigned char>().swap(packer().buf);
            packer().n = 0;
        }
        return 0;
    }
    dropCache(file);
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
    int level = -1;  // the lexical level of the field's text (known after its first subfield)
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
            if (level < 0) {
                const fm* f = cur_fm();
                level = f && f->dr_cur && f->dr_cur->desc ? lexicalLevel(f->dr_cur->desc) : 0;
            }
            if (level == 2) {
                t.utf8 = ucs2ToUtf8(bytes, long(count));
                bytes = t.utf8.data();
                count = t.utf8.size();
            } else if (hasHighBytes(bytes, count)) {
                t.utf8 = lexicalToUtf8(std::string_view(bytes, count), level);
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

namespace {

// The whole record at once when the walk stands at its start and the decoder takes it; the library
// is then left as the walk leaves it at the record's end. False: nothing done, walk the record.
bool readWholeRecord(Iso8211File* file, Iso8211Record* record) {
    if (!file->fp || file->mode != 'r' || !find123file(file->fp)) return false;
    fm* f = cur_fm();
    if (!f || f->open_mode != 'r' || !f->dr_hd || f->dr_cur != f->dr_hd || !f->dr_hd->next) return false;
    PackTables& t = scratchTables();
    t.clear();
    Packer& p = packer();
    try {
        if (!packRecord(f, t, p)) return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    // The walk's last status check looks past the record; a file that cannot say is walked.
    int eof = 0;
    if (test123eof(file->fp, &eof) <= 0) return false;
    if (unpackRecord(t, p.buf.data(), record) != 0) return false;
    drfield* last = f->dr_hd->next;
    while (last->next) last = last->next;
    vnode* set = last->values->nxt_vset;
    while (set->nxt_vset) set = set->nxt_vset;
    vnode* value = set;
    while (value->nxt_vptr) value = value->nxt_vptr;
    fnode* format = nullptr;
    for (vnode* v = set; v; v = v->nxt_vptr)
        if (v->fmt) format = const_cast<fnode*>(v->fmt);
    f->dr_cur = last;
    f->dd_cur = last->desc;
    f->vset_cur = set;
    f->dv_cur = value;
    f->fmt_cur = format;
    f->sf_state_dr = 4;
    return true;
}

}  // namespace

int Read8211RecordFields(Iso8211File* file, Iso8211Record* record) {
    if (!file || !record) return -19;
    record->fieldCount = 0;
    record->fields = nullptr;
    if (readWholeRecord(file, record)) return 0;
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
    RecordCache* cache = liveCache(file);
    if (const unsigned char* image = keptImage(cache, file->recordNo);
        image && unpackRecord(cache->tables, image, record) == 0) {
        file->recordNo += 1;
        cache->moved = true;
        return 0;
    }
    if (cache && cache->moved && file->recordStart) {
        if (!seek123rec(file->fp, file->recordStart[file->recordNo - 1])) {
            logLine("ReadNext8211Record: Error reading record\n");
            *record = Iso8211Record{};
            return -11;
        }
        cache->moved = false;
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
    RecordCache* cache = liveCache(file);
    if (const unsigned char* image = keptImage(cache, ordinal);
        image && unpackRecord(cache->tables, image, record) == 0) {
        file->recordNo = ordinal + 1;
        cache->moved = true;
        return 0;
    }
    if (file->recordStart && (file->recordNo != ordinal || (cache && cache->moved))) {
        const bool back = file->recordNo > ordinal;
        if (!seek123rec(file->fp, file->recordStart[ordinal - 1])) {
            logLine(back ? "Read8211Record: Error backing up a record\n" : "Read8211Record: Error reading record\n");
            return -11;
        }
        file->recordNo = ordinal;
        if (cache) cache->moved = false;
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

int Read8211RecordTags(Iso8211File* file, int ordinal, const char* const* tags, int tagCount,
                       Iso8211Record* record) {
    if (tags && tagCount > 0 && record && file) {
        RecordCache* cache = liveCache(file);
        if (const unsigned char* image = keptImage(cache, ordinal)) {
            if (file->fp && ordinal >= 1 && ordinal <= file->recordCount && find123file(file->fp)) {
                // The tag numbers of the last call serve again for the same tags and tag table.
                std::vector<bool>& wanted = cache->wanted;
                if (wanted.size() != cache->tables.tags.size() ||
                    !std::equal(tags, tags + tagCount, cache->wantedTags.begin(), cache->wantedTags.end())) {
                    cache->wantedTags.assign(tags, tags + tagCount);
                    wanted.assign(cache->tables.tags.size(), false);
                    for (std::size_t i = 0; i < wanted.size(); ++i)
                        for (int j = 0; j < tagCount; ++j)
                            if (tags[j] && std::strcmp(cache->tables.tags[i].data(), tags[j]) == 0) wanted[i] = true;
                }
                if (unpackRecord(cache->tables, image, record, &wanted) == 0) {
                    file->recordNo = ordinal + 1;
                    cache->moved = true;
                    return 0;
                }
            }
        }
    }
    return Read8211Record(file, ordinal, record);
}

int Take8211Record(Iso8211File* file, int ordinal, Iso8211Record* record) {
    const int rc = Read8211Record(file, ordinal, record);
    if (RecordCache* c = file ? liveCache(file) : nullptr; c && ordinal >= 1 && std::size_t(ordinal) <= c->images.size())
        c->images[std::size_t(ordinal - 1)].reset();
    return rc;
}

int CopyKept8211Record(const Iso8211File* file, int ordinal, Iso8211Record* record) {
    if (!file || !record || ordinal < 1 || ordinal > file->recordCount) return 1;
    const RecordCache* cache = liveCache(file);
    const unsigned char* image = keptImage(cache, ordinal);
    if (!image) return 1;
    return unpackRecord(cache->tables, image, record) == 0 ? 0 : -1;
}

int ReadFirst8211Record(Iso8211File* file, Iso8211Record* record) {
    if (!file || !record || file->mode != 'r') {
        logLine("ReadFirst8211Record: Illegal parameter\n");
        return -19;
    }
    return Read8211Record(file, 1, record);
}

namespace {

// strcmp(a, b) == 0 for the short tags and labels of a record, without a call for each one.
inline bool sameText(const char* a, const char* b) {
    for (;; ++a, ++b) {
        if (*a != *b) return false;
        if (*a == '\0') return true;
    }
}

}  // namespace

int Find8211Field(const Iso8211Record* record, const char* tag, int start) {
    if (!record || !tag || start < 0) {
        logLine("Find8211Field: Illegal parameter\n");
        return -19;
    }
    for (int i = start; i < record->fieldCount; ++i)
        if (sameText(record->fields[i].tag, tag)) return i;
    return -13;
}

int Find8211SubField(const Iso8211Record* record, const char* label, int field, int start) {
    if (!record || !label || field < 0 || field >= record->fieldCount || start < 0) {
        logLine("Find8211SubField: Illegal parameter\n");
        return -19;
    }
    const Iso8211Field& f = record->fields[field];
    for (int j = start; j < f.subfieldCount; ++j)
        if (sameText(f.subFields[j].label, label)) return j;
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
    if (record->fields) {
        const std::lock_guard lock(blocksMutex());
        auto& registry = blocks();
        if (auto it = registry.find(record->fields); it != registry.end()) {
            const char* begin = static_cast<const char*>(it->first);
            const std::size_t size = it->second;
            for (int i = 0; i < record->fieldCount; ++i) freeOutsideBlock(&record->fields[i], begin, size);
            registry.erase(it);
        } else {
            for (int i = 0; i < record->fieldCount; ++i) freeSubFields(&record->fields[i]);
        }
    }
    std::free(record->fields);
    record->fields = nullptr;
    record->fieldCount = 0;
    return 0;
}

void Free8211Value(void* part) {
    if (!part) return;
    {
        const std::lock_guard lock(blocksMutex());
        const auto& registry = blocks();
        auto it = registry.upper_bound(part);
        if (it != registry.begin()) {
            --it;
            if (inBlock(part, static_cast<const char*>(it->first), it->second)) return;
        }
    }
    std::free(part);
}

int Free8211Field(Iso8211Record* record, const char* tag) {
    if (!record || !tag) {
        logLine("Free8211Field: Illegal parameter\n");
        return -19;
    }
    if (record->fieldCount == 0 || !record->fields) return 0;
    for (int i = 0; i < record->fieldCount; ++i) {
        if (std::strcmp(record->fields[i].tag, tag) == 0) {
            const std::lock_guard lock(blocksMutex());
            const auto& registry = blocks();
            if (auto it = registry.find(record->fields); it != registry.end())
                freeOutsideBlock(&record->fields[i], static_cast<const char*>(it->first), it->second);
            else
                freeSubFields(&record->fields[i]);
            return 0;
        }
    }
    return -13;
}

void Release8211RecordCache(const Iso8211File* file) {
    // The entry stays while the handle is open: it still knows whether the library stands where
    // the handle's recordNo says.
    if (RecordCache* c = file ? cacheOf(file) : nullptr) {
        c->images.clear();
        c->images.shrink_to_fit();
        c->tables.clear();
    }
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
    // Each value as the record layer takes it: text in its field's lexical level.
    // Kept from record to record (the record layer serves one thread).
    static std::vector<put123value> values;
    static std::vector<put123field> fields;
    static std::deque<std::string> encoded;  // stays where it is as it grows
    values.clear();
    fields.clear();
    std::size_t converted = 0;
    auto encodedSlot = [&]() -> std::string& {
        if (converted == encoded.size()) encoded.emplace_back();
        return encoded[converted++];
    };
    std::u32string unheld;
    for (int i = 0; i < record->fieldCount; ++i) {
        const Iso8211Field& f = record->fields[i];
        const ddfield* desc = description(f.tag);
        const int level = desc ? lexicalLevel(desc) : 0;
        for (int j = 0; j < f.subfieldCount; ++j) {
            const Iso8211SubField& sf = f.subFields[j];
            if (isBinaryFormat(sf.format)) {  // stored already (built coordinates): no text
                values.push_back({sf.value, long(sf.length)});
                continue;
            }
            const char* value = sf.value;
            long length = sf.length;
            if (desc && level == 2 && isTextItem(desc, j, sf)) {
                std::string& text = encodedSlot();
                text = utf8ToUcs2(sf.value, sf.length);
                value = text.data();
                length = long(text.size());
            } else if (desc && hasHighBytes(sf.value, std::size_t(sf.length)) && knownTextItem(desc, j, sf)) {
                unheld.clear();
                std::string& text = encodedSlot();
                text = utf8ToLexical(std::string_view(sf.value, std::size_t(sf.length)), level, &unheld);
                if (!unheld.empty()) {
                    std::string codes;
                    for (char32_t c : unheld) {
                        char code[16];
                        std::snprintf(code, sizeof code, " U+%04X", unsigned(c));
                        codes += code;
                    }
                    logLine("Write8211Record: field %s, subfield %s: characters that 8-bit text cannot hold "
                            "written as '?':%s\n", f.tag, sf.label, codes.c_str());
                }
                value = text.data();
                length = long(text.size());
            }
            values.push_back({value, length});
        }
    }
    for (std::size_t k = 0, at = 0; k < std::size_t(record->fieldCount); ++k) {
        const Iso8211Field& f = record->fields[k];
        fields.push_back({f.tag, values.data() + at, long(f.subfieldCount)});
        at += std::size_t(f.subfieldCount);
    }
    const int direct = put123rec(file->fp, fields.data(), long(fields.size()));
    if (direct < 0) {
        logLine("Write8211Record: Unable to end data record\n");
        return -4;
    }
    if (direct == 0) {
        // Value by value, which says which value it refuses.
        std::size_t at = 0;
        for (int i = 0; i < record->fieldCount; ++i) {
            const Iso8211Field& f = record->fields[i];
            const bool lastField = i == record->fieldCount - 1;
            for (int j = 0; j < f.subfieldCount; ++j, ++at) {
                int option;
                if (j == 0) option = i == 0 ? kOptRecordStart : kOptFieldStart;
                else if (j == f.subfieldCount - 1) option = lastField ? kOptRecordEnd : kOptFieldEnd;
                else option = kOptNext;
                const Iso8211SubField& sf = f.subFields[j];
                if (!put123sfld(file->fp, f.tag, 'D', values[at].value, values[at].length, option)) {
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
    }
    file->recordCount += 1;
    file->recordNo = file->recordCount;
    return 0;
}
