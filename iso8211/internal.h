// iso8211/internal.h: what the library's source files share and callers never see: the per-file
// bookkeeping behind fm::priv, the value arena, strict number parsing and list helpers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "iso8211/iso8211.h"

namespace iso8211 {

// Bump allocator for the value nodes and value bytes of one record: a record's values are released
// together when the record ends, so they are never freed one by one.
class Arena {
public:
    void* take(std::size_t n) {
        n = (n + 7) & ~std::size_t(7);
        if (block_ < blocks_.size() && blocks_[block_].size - used_ >= n) {
            void* p = blocks_[block_].mem.get() + used_;
            used_ += n;
            return p;
        }
        return grow(n);
    }
    char* dup(const char* p, std::size_t n);  // n bytes and a NUL
    // At least n contiguous bytes (a multiple of 8) to fill from the front, of which the caller keeps
    // what it says to give(); nothing is taken until then. Null when memory runs out.
    char* room(std::size_t n) {
        if (block_ < blocks_.size() && blocks_[block_].size - used_ >= n) return blocks_[block_].mem.get() + used_;
        char* p = static_cast<char*>(grow(n));
        if (p) used_ -= n;
        return p;
    }
    void give(std::size_t n) { used_ += (n + 7) & ~std::size_t(7); }
    void reset();

private:
    void* grow(std::size_t n);
    struct Block {
        std::unique_ptr<char[]> mem;
        std::size_t size;
    };
    std::vector<Block> blocks_;
    std::size_t block_ = 0;  // block being filled
    std::size_t used_ = 0;   // bytes used in it
};

}  // namespace iso8211

struct fm_priv {
    iso8211::Arena arena;           // values of the current record
    std::vector<char> area;         // the current record's field area as read
    repnode* free_reps = nullptr;   // recycled repetition-stack nodes
    drfield* free_dr = nullptr;     // recycled record fields
    // Record-start nodes (one a record read or written) come from blocks kept until the file
    // closes; a dropped node waits on free_rp for the next record.
    std::vector<std::unique_ptr<rp[]>> rp_blocks;
    std::size_t rp_used = 0;        // nodes handed out from the last block
    rp* free_rp = nullptr;
    drleader* spare_rl = nullptr;   // the last record's leader, for the next record (read mode)
    bool first_pending = false;     // dv_cur stands on a value not yet returned
    bool eof_clean = false;         // the last failed load met the end of the file between records
    bool chained = false;           // a record with an 'R' leader was loaded (read mode)
    char leadid = ' ';              // leader identifier of the record being built (write mode)
    int wr_state = 3;               // put123sfld's field state before the field begins
    bool dims_in_data = false;      // the field being put takes its dimensions from the data
    long dims_left = 0;             // dimension lengths still to come (write mode)
    long file_size = -1;            // size of a file opened for reading, when it is a regular file
    int last_kind = 0;              // what next123sfld returned last: 0 value, 1 ndims, 2 dim length
    long val_index = -1;            // position of the current value in its field
    std::size_t tag_len = 0;        // length of the current field's tag
    long lab_pos = -1;              // its entry in the description's label table
    long walked = 0;                // subfields returned from the current field
    bool keep_binary = false;       // binary values stay bytes (fields put whole in write mode)
    vnode* w_set = nullptr;         // write mode: first value of the repetition being filled
    vnode* w_last = nullptr;        // write mode: last value stored
    long w_in_rep = 0;              // write mode: values in that repetition
    // write mode: each description's format items in the order its values meet them (put123rec);
    // forgotten whenever a description changes
    std::vector<std::pair<const ddfield*, std::vector<const fnode*>>> w_items;
};

namespace iso8211 {

// n bytes from p to o (neither range overlapping the other), in at most two overlapping moves of a
// fixed size below 17 bytes, touching nothing outside [0, n) of either.
inline void copy_short(char* o, const char* p, std::size_t n) {
    if (n >= 8) {
        if (n > 16) {
            std::memcpy(o, p, n);
            return;
        }
        std::uint64_t a, b;
        std::memcpy(&a, p, 8);
        std::memcpy(&b, p + n - 8, 8);
        std::memcpy(o, &a, 8);
        std::memcpy(o + n - 8, &b, 8);
    } else if (n >= 4) {
        std::uint32_t a, b;
        std::memcpy(&a, p, 4);
        std::memcpy(&b, p + n - 4, 4);
        std::memcpy(o, &a, 4);
        std::memcpy(o + n - 4, &b, 4);
    } else if (n > 0) {
        // 1 to 3 bytes: the first, the middle and the last (some of them the same byte).
        const char x = p[0], y = p[n / 2], z = p[n - 1];
        o[0] = x;
        o[n / 2] = y;
        o[n - 1] = z;
    }
}

// out := n bytes at p, reusing out's buffer: callers hand the same strings in again and again (tags,
// labels, formats and values), mostly of the length they hold already or shorter.
void set_text_longer(std::string& out, const char* p, std::size_t n);
[[gnu::always_inline]] inline void set_text(std::string& out, const char* p, std::size_t n) {
    const std::size_t have = out.size();
    if (n > have) {
        set_text_longer(out, p, n);
        return;
    }
    if (n < have) out.erase(n);
    copy_short(out.data(), p, n);
}
[[gnu::always_inline]] inline void put_text(std::string& out, const char* p, std::size_t n) { set_text(out, p, n); }

// Tags are NUL-padded char[8] (MAX_TAG + 1): equal tags are equal words.
inline bool same_tag(const char* a, const char* b) {
    std::uint64_t x, y;
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
    return x == y;
}

extern fm* g_head;  // the list head (holds no file)
extern fm* g_cur;   // the current file

// The current file is fp's, selecting it when needed.
inline bool select_file(std::FILE* fp) { return (g_cur && g_cur->fp == fp && fp) || find123file(fp); }

// Strict unsigned decimal of exactly n characters (digits only).
inline bool parse_uint(const char* p, int n, std::int32_t* out) {
    if (n <= 0 || n > 9) return false;
    std::int32_t v = 0;
    for (int i = 0; i < n; ++i) {
        const unsigned d = unsigned(static_cast<unsigned char>(p[i])) - '0';
        if (d > 9) return false;
        v = v * 10 + std::int32_t(d);
    }
    *out = v;
    return true;
}
// Decimal digits of v (at least 1).
int digits_of(long v);

char* heap_dup(const char* s);  // malloc'ed copy, or null on failure or null input
char* heap_dup(const char* s, std::size_t n);

// vnode and value allocation for the current file's record.
vnode* new_vnode(fm* f);
char* keep_value(fm* f, const char* p, std::size_t n);

void free_ddfield(ddfield* d);
void free_ddfields(fm* f);       // every description after dd_hd (dd_hd stays)
void free_filectl(filectl* c);
void free_drfields(fm* f);       // the field list including dr_hd
drfield* new_drfield(fm* f);     // a zeroed field, recycled when one is at hand
void clear_drvalues(fm* f);      // values and dimensions of every field; fields stay
void free_rplist(fm* f);         // the record-start list after its head
rp* new_rp(fm* f, std::int32_t start);  // a node of the record-start list (unlinked), or null
void free_rp(fm* f, rp* r);             // a node taken out of the list

void clear_reps(fm* f);
// Format cursors to the start of d's tree.
inline void reset_fmt(fm* f, ddfield* d) {
    if (f->rs_hd) clear_reps(f);
    f->fmt_cur = nullptr;
    f->fmt_root_cur = d ? d->fmt_rt : nullptr;
}
struct FmtState {
    fnode* cur = nullptr;
    fnode* root = nullptr;
    // The repetition stack, top first: saved for every subfield written, so a few levels are kept
    // without an allocation.
    std::array<std::int32_t, 8> few{};
    std::vector<std::int32_t> more;  // the levels after the few
    std::size_t depth = 0;
    void push(std::int32_t v) {
        if (depth < few.size()) few[depth] = v;
        else more.push_back(v);
        ++depth;
    }
    std::int32_t at(std::size_t i) const { return i < few.size() ? few[i] : more[i - few.size()]; }
};
FmtState save_fmt(const fm* f);
void restore_fmt(fm* f, const FmtState& s);

// Description predicates.
inline bool has_controls(const fm* f, const ddfield* d) {
    return f->dl_hd && f->dl_hd->ilevel > 1 && d->fd_cntrl[0] != '\0';
}
bool fmt_has_binary(const fnode* n);
// Field controls ending in the escape "%/A" (UCS-2): delimited values end at two-byte terminators
// (UT 00, FT 00) aligned to the value's start, and the field at FT 00.
// "%/A" is how S-57 marks lexical level 2; "%/@", "%/C" and "%/E" designate UCS-2 (implementation
// levels 1 to 3) as well, and the converter's own base-cell DDR marks NATF with "%/C".
inline bool ucs2_field(const fm* f, const ddfield* d) {
    return has_controls(f, d) && d->fd_cntrl[6] == '%' && d->fd_cntrl[7] == '/' &&
           (d->fd_cntrl[8] == 'A' || d->fd_cntrl[8] == '@' || d->fd_cntrl[8] == 'C' || d->fd_cntrl[8] == 'E') &&
           strnlen(d->fd_cntrl, sizeof d->fd_cntrl) == 9;
}
// The first aligned two-byte terminator (d 00 or FT 00) of a UCS-2 value from p, or null.
inline const char* ucs2_stop(const char* p, const char* end, char d) {
    for (; end - p >= 2; p += 2)
        if ((p[0] == d || p[0] == FT) && p[1] == '\0') return p;
    return nullptr;
}
int count_labels_set(const lnode* set);
int label_sets(const lnode* tree);
long values_per_rep(const ddfield* d);  // ret123pdm's count for d
bool dims_in_data(const fm* f, const ddfield* d);  // array whose dimensions come with its data

// Format item as described to callers ("A(8)", "L14", "B(40)" ...).
void fmt_item_text(const fnode* n, std::string& out);
// Whole format tree as format-control text.
void fmt_tree_text(const fnode* root, std::string& out);

// Label text of a tree ("!" between labels of a set, "*" between sets).
void labels_text(const lnode* tree, std::string& out);

// Description helpers shared by the DDR reader and writer.
int set_name(ddfield* d, const char* text);
int set_labels_or_dims(fm* f, ddfield* d, const char* text);
int set_format(fm* f, ddfield* d, const char* text);
bool only_digits_commas(const char* s);

// The text of one description as written in the DDR (ends with FT).
int ddfield_text(const fm* f, const ddfield* d, std::string& out);

}  // namespace iso8211
