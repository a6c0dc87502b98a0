// iso8211/rec_write.cpp: building data records subfield by subfield (or field by field) and writing
// them: sizing the fields, the leader and directory, the tag check, and each field's stored form.
// Failures return 0 without a message; a value that does not fit its format item is refused.

#include <algorithm>
#include <new>
#include <optional>

#include "iso8211/internal.h"

namespace iso8211 {

namespace {


// Saves the format cursors of the field being built while another walk uses them.
struct FmtSave {
    fm* f;
    fnode* cur;
    fnode* root;
    repnode* stack;
    explicit FmtSave(fm* fm_) : f(fm_), cur(fm_->fmt_cur), root(fm_->fmt_root_cur), stack(fm_->rs_hd) {
        f->rs_hd = nullptr;
    }
    ~FmtSave() {
        clear_reps(f);
        f->fmt_cur = cur;
        f->fmt_root_cur = root;
        f->rs_hd = stack;
    }
};

// Appends the w bits of a bit string at p to the bits pending in acc, each full byte to out.
void put_bits(std::string& out, const char* p, long w, unsigned& bits, unsigned& acc) {
    for (long i = 0; i < w; ++i) {
        acc = (acc << 1) | ((static_cast<unsigned char>(p[i / 8]) >> (7 - i % 8)) & 1u);
        if (++bits == 8) {
            out += char(acc);
            bits = 0;
            acc = 0;
        }
    }
}

// Records the start of the record written at pos in the file's list of record starts.
bool add_record_start(fm* f, long pos) {
    rp* n = new_rp(f, std::int32_t(pos));
    if (!n) return false;
    rp* last = f->rec_loc_cur ? f->rec_loc_cur : f->rec_loc_hd;
    while (last->next) last = last->next;
    n->back = last;
    last->next = n;
    f->rec_loc_cur = n;
    return true;
}

// The stored form of one field of the record being written.
bool serialise(fm* f, const drfield* r, std::string& out) {
    out.clear();
    const ddfield* d = r->desc;
    if (!d) return false;
    if (r->num_dim > 0 && d->dim_num == 0) {
        out += std::to_string(r->num_dim);
        out += UT;
        for (const dmnode* m = r->dim_lptr ? r->dim_lptr->nxt : nullptr; m; m = m->nxt) {
            out += std::to_string(m->length);
            out += UT;
        }
    }
    const vnode* first = r->values ? r->values->nxt_vset : nullptr;
    const bool ucs2 = ucs2_field(f, d);
    auto terminate = [&](char t) {
        out += t;
        if (ucs2) out += '\0';
    };
    if (!d->fmt_rt) {
        bool any = false;
        for (const vnode* s = first; s; s = s->nxt_vset)
            for (const vnode* v = s; v; v = v->nxt_vptr) {
                if (any) terminate(UT);
                any = true;
                if (v->value) out.append(v->value, std::size_t(v->length));
            }
        terminate(FT);
        return true;
    }
    // Values stored by store123sfld know their format item: the walk is not made again.
    bool known = true;
    for (const vnode* s = first; s && known; s = s->nxt_vset)
        for (const vnode* v = s; v && known; v = v->nxt_vptr) known = v->fmt != nullptr;
    std::optional<FmtSave> save;
    if (!known) {
        save.emplace(f);
        f->fmt_cur = nullptr;
        f->fmt_root_cur = d->fmt_rt;
    }
    unsigned bits = 0;   // bits pending in acc
    unsigned acc = 0;
    auto flush_bits = [&]() {
        if (bits) out += char(acc << (8 - bits));
        bits = 0;
        acc = 0;
    };
    for (const vnode* s = first; s; s = s->nxt_vset) {
        for (const vnode* v = s; v; v = v->nxt_vptr) {
            char t = 0, x = 0, dl = 0;
            long w = 0;
            if (known) {
                t = v->fmt->d_type;
                w = v->fmt->width;
                dl = v->fmt->delim;
            } else if (!get123fmt(&t, &x, &w, &dl)) {
                return false;
            }
            const char* p = v->value ? v->value : "";
            const std::size_t n = std::size_t(v->length);
            if (t == 'B' && w > 0) {
                if (n < std::size_t((w + 7) / 8)) return false;
                if (f->compress) {
                    put_bits(out, p, w, bits, acc);
                } else {
                    out.append(p, std::size_t((w + 7) / 8));
                }
                continue;
            }
            flush_bits();
            if ((t == 'L' || t == 'M') && w > 0) {
                if (n != std::size_t(w)) return false;
                out.append(p, n);
            } else if (w > 0) {
                out.append(p, n);
            } else {
                out.append(p, n);
                if (!(t == 'B')) terminate(dl ? dl : UT);
            }
        }
    }
    flush_bits();
    terminate(FT);
    return true;
}

int tag_number(const char* tag) {
    if (tag[0] < '0' || tag[0] > '9') return -1;
    return std::atoi(tag);
}

}  // namespace

}  // namespace iso8211

using namespace iso8211;

// ---- beg123rec ----------------------------------------------------------------------------------
int beg123rec(std::FILE* fp) {
    if (!find123file(fp)) return 0;
    fm* f = g_cur;
    int ok = flush123rec(fp);
    if (!f->nld || !f->dr_hd) {
        if (f->dr_hd) free_drfields(f);
        delete f->rl_hd;
        f->rl_hd = f->priv->spare_rl;
        f->priv->spare_rl = nullptr;
        if (f->rl_hd) *f->rl_hd = drleader{};
        else f->rl_hd = new (std::nothrow) drleader{};
        f->dr_hd = new_drfield(f);
        if (!f->rl_hd || !f->dr_hd) return 0;
        f->rl_hd->resv_sp = ' ';
        f->rl_hd->lead_id = ' ';
    }
    f->dr_cur = f->dr_hd;
    f->priv->w_set = f->priv->w_last = nullptr;
    f->priv->w_in_rep = 0;
    return ok;
}

// ---- flush123rec --------------------------------------------------------------------------------
int flush123rec(std::FILE* fp) {
    if (!find123file(fp)) return 0;
    fm* f = g_cur;
    int ok = 1;
    if (f->open_mode == 'w' && f->dr_hd && !empty123rec()) ok = write123dr();
    free123lp();
    if (f->nld && f->dr_hd) {
        clear_drvalues(f);
    } else {
        free_drfields(f);
        if (f->priv->spare_rl) delete f->rl_hd;
        else f->priv->spare_rl = f->rl_hd;
        f->rl_hd = nullptr;
    }
    f->priv->w_set = f->priv->w_last = nullptr;
    f->priv->w_in_rep = 0;
    return ok;
}

// ---- store123sfld -------------------------------------------------------------------------------
int store123sfld(const char* value, long length) {
    fm* f = g_cur;
    if (!f || !f->dr_cur || f->dr_cur == f->dr_hd || length < 0 || (length && !value)) return 0;
    drfield* r = f->dr_cur;
    ddfield* d = r->desc;
    if (!d) return 0;
    std::string padded;
    const fnode* item = nullptr;  // the format item the value is written with
    if (d->fmt_rt) {
        char t = 0, x = 0, dl = 0;
        long w = 0;
        // A refused value leaves the format where it was, for the caller's next try.
        const FmtState before = save_fmt(f);
        struct Undo {
            fm* f;
            const FmtState& s;
            bool keep = false;
            ~Undo() {
                if (!keep) restore_fmt(f, s);
            }
        } undo{f, before};
        if (!get123fmt(&t, &x, &w, &dl)) return 0;
        item = f->fmt_cur;
        if ((t == 'L' || t == 'M') && w > 0) {
            if (length != w) return 0;
        } else if (t == 'B' && w > 0) {
            if (length < (w + 7) / 8) return 0;
            length = (w + 7) / 8;
        } else if (w > 0) {
            // A fixed-width text must fill its width: pad a short one, refuse a long one.
            if (length > w) return 0;
            if (!ucs2_field(f, d) && std::memchr(value ? value : "", FT, std::size_t(length))) return 0;
            if (length < w) {
                padded.assign(value ? value : "", std::size_t(length));
                padded.resize(std::size_t(w), ' ');
                value = padded.data();
                length = w;
            }
        } else if (t != 'B') {
            const char delim = dl ? dl : UT;
            if (ucs2_field(f, d)) {
                if (value && ucs2_stop(value, value + length, delim)) return 0;
            } else if (value && (std::memchr(value, FT, std::size_t(length)) ||
                                 std::memchr(value, delim, std::size_t(length)))) {
                return 0;
            }
        }
        undo.keep = true;
    } else if (ucs2_field(f, d)) {
        if (value && ucs2_stop(value, value + length, UT)) return 0;
    } else if (value && (std::memchr(value, FT, std::size_t(length)) ||
                         std::memchr(value, UT, std::size_t(length)))) {
        return 0;
    }
    if (f->lp_hd) step123labels();

    if (!r->values && !(r->values = new_vnode(f))) return 0;
    vnode* v = new_vnode(f);
    if (!v) return 0;
    v->fmt = item;
    if (length > 0) {
        v->value = keep_value(f, value, std::size_t(length));
        if (!v->value) return 0;
        v->length = std::int32_t(length);
    }
    long per_rep = 0;
    if (has_controls(f, d) && d->fd_cntrl[0] != '0' && d->fd_cntrl[0] != '1') {
        if (d->labels) per_rep = values_per_rep(d);
        else if (d->dim_num > 0) per_rep = d->dim_vals;
        else if (r->dim_lptr && r->dim_lptr->nxt) per_rep = r->dim_lptr->nxt->length;
    }
    fm_priv* p = f->priv;
    if (!p->w_set || (per_rep > 0 && p->w_in_rep >= per_rep)) {
        if (p->w_set) p->w_set->nxt_vset = v;
        else r->values->nxt_vset = v;
        p->w_set = v;
        p->w_in_rep = 0;
    } else {
        p->w_last->nxt_vptr = v;
    }
    p->w_last = v;
    ++p->w_in_rep;
    f->dv_cur = v;
    f->vset_cur = p->w_set;
    r->fd_len = 0;  // to be sized
    return 1;
}

// ---- put123sfld ---------------------------------------------------------------------------------
int put123sfld(std::FILE* fp, const char* tag, char leadid, const char* value, long length,
               int option) {
    if (!tag || !find123file(fp)) return 0;
    fm* f = g_cur;
    if (f->open_mode != 'w' || option < 1 || option > 6) return 0;
    // Every subfield names its field: the description found for the one before is the likely one.
    if (!(f->dd_cur && f->dd_cur != f->dd_hd && std::strcmp(f->dd_cur->tag, tag) == 0) && !find123ddfld(tag))
        return 0;
    ddfield* d = f->dd_cur;
    if (option == 2) {
        if (!beg123rec(fp)) return 0;
        f->rl_hd->lead_id = leadid;
        option = 6;
    }
    if (!f->dr_hd && !beg123rec(fp)) return 0;
    if (option == 6) {
        drfield* r = nullptr;
        if (f->nld) {
            r = f->dr_cur ? f->dr_cur->next : nullptr;
            if (!r || std::strcmp(r->tag, tag) != 0) return 0;
        } else {
            r = new_drfield(f);
            if (!r) return 0;
            std::snprintf(r->tag, sizeof r->tag, "%s", tag);
            drfield* last = f->dr_hd;
            while (last->next) last = last->next;
            last->next = r;
        }
        r->desc = d;
        f->dr_cur = r;
        f->priv->w_set = f->priv->w_last = nullptr;
        f->priv->w_in_rep = 0;
        f->bit_cnt = 0;
        reset_fmt(f, d);
        free123lp();
        if (d->labels) build123lp();
        if (dims_in_data(f, d)) {
            f->sf_state_dr = 1;
            std::string t(value ? value : "", std::size_t(length > 0 ? length : 0));
            char* e = nullptr;
            long nd = std::strtol(t.c_str(), &e, 10);
            if (t.empty() || *e || nd < 1 || nd > 9) return 0;
            r->num_dim = std::int32_t(nd);
            r->dim_lptr = free123list(r->dim_lptr);
            if (!(r->dim_lptr = new (std::nothrow) dmnode{0, nullptr})) return 0;
            f->priv->dims_left = nd;
            f->sf_state_dr = 2;
            return 1;
        }
        f->sf_state_dr = 3;
        return store123sfld(value, length);
    }
    drfield* r = f->dr_cur;
    if (!r || r == f->dr_hd || std::strcmp(r->tag, tag) != 0) return 0;
    if (option == 1 || option == 5) {
        if (f->sf_state_dr == 2) {
            if (option == 5) return 0;
            std::string t(value ? value : "", std::size_t(length > 0 ? length : 0));
            char* e = nullptr;
            long v = std::strtol(t.c_str(), &e, 10);
            if (t.empty() || *e || v < 0 || v > 99999999) return 0;
            dmnode* last = r->dim_lptr;
            while (last->nxt) last = last->nxt;
            if (!(last->nxt = new (std::nothrow) dmnode{std::int32_t(v), nullptr})) return 0;
            if (--f->priv->dims_left == 0) f->sf_state_dr = 3;
            return 1;
        }
        if (f->sf_state_dr != 3) return 0;
        if (!store123sfld(value, length)) return 0;
        if (option == 5) f->sf_state_dr = 4;
        return 1;
    }
    // options 3 and 4: the field's last value
    if (f->sf_state_dr != 3) return 0;
    if (!store123sfld(value, length)) return 0;
    f->sf_state_dr = 4;
    return 1;
}

// ---- raw123sfld ---------------------------------------------------------------------------------
int raw123sfld(std::FILE* fp, std::string& tag, char* leadid, std::string& bytes, long* length,
               int* status) {
    tag.clear();
    bytes.clear();
    if (!length || !status || !find123file(fp)) return 0;
    fm* f = g_cur;
    *length = 0;
    *status = S_SUBFIELD;
    if (!f->dr_hd) return 0;
    drfield* r = (f->dr_cur ? f->dr_cur : f->dr_hd)->next;
    if (f->sf_state_dr >= 1 && f->sf_state_dr <= 3 && f->dr_cur && f->dr_cur != f->dr_hd)
        r = f->dr_cur;
    if (!r) return 0;
    f->dr_cur = r;
    if (f->open_mode == 'r') {
        // The field exactly as read.
        const std::vector<char>& a = f->priv->area;
        if (std::size_t(r->fd_pos) + std::size_t(r->fd_len) > a.size()) return 0;
        bytes.assign(a.data() + r->fd_pos, std::size_t(r->fd_len));
    } else if (!serialise(f, r, bytes)) {
        return 0;
    }
    tag = r->tag;
    if (leadid) *leadid = f->rl_hd ? f->rl_hd->lead_id : ' ';
    *length = long(bytes.size());
    f->sf_state_dr = 4;
    if (!r->next) {
        *status = S_RECEND;
        test123eof(fp, status);
    }
    return 1;
}

// ---- verify123drtags ----------------------------------------------------------------------------
int verify123drtags() {
    fm* f = g_cur;
    if (!f || !f->dl_hd || !f->dr_hd) return 0;
    if (f->dl_hd->ilevel == 3) return 1;
    const drfield* r = f->dr_hd->next;
    if (!r || tag_number(r->tag) != 1) return 0;
    int prev = -1;
    for (; r; r = r->next) {
        int idx = 0;
        const ddfield* d = f->dd_hd->next;
        for (; d && std::strcmp(d->tag, r->tag) != 0; d = d->next) ++idx;
        if (!d || idx < prev) return 0;
        prev = idx;
    }
    return 1;
}

// ---- pos123drflds, lead123dr, write123dr -------------------------------------------------------
namespace iso8211 {
namespace {

// pos123drflds; with `stored`, the fields' stored forms one after the other, as written.
int position_fields(std::string* stored) {
    fm* f = g_cur;
    if (!f || !f->dr_hd) return 0;
    if (!verify123drtags()) return 0;
    std::string b;
    long pos = 0;
    const int keep = f->compress;
    f->compress = 1;
    for (drfield* r = f->dr_hd->next; r; r = r->next) {
        if (!serialise(f, r, b)) {
            f->compress = keep;
            return 0;
        }
        r->fd_len = std::int32_t(b.size());
        r->fd_pos = std::int32_t(pos);
        pos += long(b.size());
        if (stored) *stored += b;
    }
    f->compress = keep;
    return 1;
}

}  // namespace
}  // namespace iso8211

int pos123drflds() { return position_fields(nullptr); }

int lead123dr() {
    fm* f = g_cur;
    if (!f || !f->dr_hd || !f->rl_hd || !f->dl_hd) return 0;
    drleader* l = f->rl_hd;
    long maxtag = 0, maxlen = 0, n = 0;
    const drfield* last = nullptr;
    for (const drfield* r = f->dr_hd->next; r; r = r->next) {
        maxtag = std::max(maxtag, long(std::strlen(r->tag)));
        maxlen = std::max(maxlen, long(r->fd_len));
        last = r;
        ++n;
    }
    if (!last || maxtag < 1 || maxtag > MAX_TAG || maxtag != f->dl_hd->s_tag) return 0;
    l->s_tag = std::int32_t(maxtag);
    l->s_fdlen = digits_of(maxlen);
    l->s_fdpos = digits_of(last->fd_pos);
    if (l->s_fdlen > 9 || l->s_fdpos > 9) return 0;
    const long base = n * (l->s_tag + l->s_fdlen + l->s_fdpos) + 25;
    const long len = base + last->fd_pos + last->fd_len;
    if (base > 99999 || len > 2147483647L) return 0;
    l->da_base = std::int32_t(base);
    l->rec_len = std::int32_t(len);
    l->resv_sp = ' ';
    std::memcpy(l->s_resv, "     ", 6);
    std::memcpy(l->r_space, "   ", 4);
    l->sp_rsrv = 0;
    if (l->lead_id != 'R') l->lead_id = 'D';
    return 1;
}

int write123dr() {
    fm* f = g_cur;
    if (!f || !f->dr_hd || !f->rl_hd || f->open_mode != 'w') return 0;
    std::FILE* fp = f->fp;
    long pos = std::ftell(fp);
    if (pos < 0 || pos > 2147483647L) return 0;
    const bool reuse = f->nld && f->nld_loc;
    std::vector<std::int32_t> lens;
    if (reuse) {
        for (const drfield* r = f->dr_hd->next; r; r = r->next) lens.push_back(r->fd_len);
    }
    // The fields are serialised once: for their sizes, and kept for the write.
    std::string fields;
    if (!position_fields(&fields)) return 0;
    std::string rec;
    if (!reuse) {
        if (!lead123dr()) return 0;
        const drleader* l = f->rl_hd;
        char b[128];
        std::snprintf(b, sizeof b, "%05ld %c     %05ld   %1d%1d0%1d",
                      l->rec_len > 99999 ? 0L : long(l->rec_len), l->lead_id, long(l->da_base),
                      int(l->s_fdlen), int(l->s_fdpos), int(l->s_tag));
        rec = b;
        for (const drfield* r = f->dr_hd->next; r; r = r->next) {
            std::snprintf(b, sizeof b, "%s%0*ld%0*ld", r->tag, int(l->s_fdlen), long(r->fd_len),
                          int(l->s_fdpos), long(r->fd_pos));
            rec += b;
        }
        rec += FT;
    } else {
        // Without a leader and directory of its own, each field must keep the size they give it.
        std::size_t i = 0;
        for (const drfield* r = f->dr_hd->next; r; r = r->next, ++i)
            if (i >= lens.size() || lens[i] != r->fd_len) return 0;
    }
    rec += fields;
    f->compress = 0;
    if (std::fwrite(rec.data(), 1, rec.size(), fp) != rec.size()) return 0;

    if (!add_record_start(f, pos)) return 0;
    if (!reuse && f->rl_hd->lead_id == 'R') {
        f->nld = 1;
        f->nld_loc = f->rec_loc_cur;
    }
    return 1;
}

// ---- put123fld ----------------------------------------------------------------------------------
int put123fld(std::FILE* fp, const char* tag, char leadid, const char* bytes, long length,
              int option) {
    if (!tag || !bytes || length < 0 || !find123file(fp)) return 0;
    fm* f = g_cur;
    if (f->open_mode != 'w' || option < 1 || option > 6) return 0;
    // Every subfield names its field: the description found for the one before is the likely one.
    if (!(f->dd_cur && f->dd_cur != f->dd_hd && std::strcmp(f->dd_cur->tag, tag) == 0) && !find123ddfld(tag))
        return 0;
    ddfield* d = f->dd_cur;
    std::string data(bytes, std::size_t(length));
    if (ucs2_field(f, d)) {
        if (data.size() < 2 || data[data.size() - 2] != FT || data.back() != '\0') data.append({FT, '\0'});
    } else if (data.empty() || data.back() != FT) {
        data += FT;
    }
    if (option == 2) {
        if (!beg123rec(fp)) return 0;
        f->rl_hd->lead_id = leadid;
    }
    if (!f->dr_hd && !beg123rec(fp)) return 0;
    drfield* r = nullptr;
    if (f->nld) {
        r = f->dr_cur ? f->dr_cur->next : nullptr;
        if (!r || std::strcmp(r->tag, tag) != 0) return 0;
    } else {
        r = new_drfield(f);
        if (!r) return 0;
        std::snprintf(r->tag, sizeof r->tag, "%s", tag);
        drfield* last = f->dr_hd;
        while (last->next) last = last->next;
        last->next = r;
    }
    r->desc = d;
    f->dr_cur = r;
    f->dd_cur = d;
    f->bit_cnt = 0;
    const char* cur = data.data();
    f->priv->keep_binary = true;
    int ok = load123fld(&cur, data.data() + data.size(), 1);
    f->priv->keep_binary = false;
    r->fd_len = 0;
    f->sf_state_dr = 4;
    return ok;
}

// ---- drop123fld ---------------------------------------------------------------------------------
int drop123fld(std::FILE* fp, int* status) {
    if (!status || !find123file(fp)) return 0;
    fm* f = g_cur;
    *status = S_SUBFIELD;
    if (f->open_mode != 'w' || !f->dr_hd || !f->dr_hd->next) return 0;
    drfield* prev = f->dr_hd;
    drfield* r = f->dr_hd->next;
    while (r->next) {
        prev = r;
        r = r->next;
    }
    prev->next = nullptr;
    free123list(r->dim_lptr);
    delete r;
    f->dr_cur = prev;
    f->sf_state_dr = 4;
    f->priv->w_set = f->priv->w_last = nullptr;
    f->priv->w_in_rep = 0;
    free123lp();
    if (!f->dr_hd->next) *status = S_RECEND;
    return 1;
}

// ---- put123rawrec -------------------------------------------------------------------------------
int put123rawrec(std::FILE* fp, const char* bytes, long length, int* status) {
    if (!status || !bytes || length <= 0 || !find123file(fp)) return 0;
    fm* f = g_cur;
    if (f->open_mode != 'w') return 0;
    if (!flush123rec(fp)) return 0;
    long pos = std::ftell(fp);
    if (pos < 0 || std::fwrite(bytes, 1, std::size_t(length), fp) != std::size_t(length)) return 0;
    if (std::fflush(fp) != 0 || std::fseek(fp, pos, SEEK_SET) != 0) return 0;
    f->priv->keep_binary = true;
    f->open_mode = 'r';  // load it as the reader does, without writing anything
    int ok = ld123rec();
    f->open_mode = 'w';
    f->priv->keep_binary = false;
    if (std::fseek(fp, pos, SEEK_SET) != 0) ok = 0;
    // The record is on disk already: it is the current record, not a pending one.
    *status = ok ? S_SUBFIELD : S_FAIL;
    return ok;
}

// ---- put123rec ----------------------------------------------------------------------------------
namespace iso8211 {
namespace {

// The format items of d's first `count` values, as store123sfld's walk from the field's start meets
// them; null when the walk ends sooner. Kept per description: every record walks the same items.
const std::vector<const fnode*>* items_of(fm* f, ddfield* d, std::size_t count) {
    auto& cache = f->priv->w_items;
    std::vector<const fnode*>* items = nullptr;
    for (auto& [desc, list] : cache)
        if (desc == d) items = &list;
    if (!items) items = &cache.emplace_back(d, std::vector<const fnode*>{}).second;
    if (items->size() >= count) return items;
    const std::size_t want = std::max(count, 2 * items->size());
    items->clear();
    FmtSave save(f);
    f->fmt_cur = nullptr;
    f->fmt_root_cur = d->fmt_rt;
    for (std::size_t i = 0; i < want; ++i) {
        char t = 0, x = 0, dl = 0;
        long w = 0;
        if (!get123fmt(&t, &x, &w, &dl)) break;
        items->push_back(f->fmt_cur);
    }
    return items->size() >= count ? items : nullptr;
}

// Appends the stored form of one field, with store123sfld's checks and serialise's output; false
// where store123sfld would refuse a value.
bool field_bytes(fm* f, ddfield* d, const put123field& field, std::string& out) {
    const bool ucs2 = ucs2_field(f, d);
    auto terminate = [&](char t) {
        out += t;
        if (ucs2) out += '\0';
    };
    const std::size_t n = std::size_t(field.count);
    if (!d->fmt_rt) {
        for (std::size_t i = 0; i < n; ++i) {
            const char* value = field.values[i].value;
            const long length = field.values[i].length;
            if (length < 0 || (length && !value)) return false;
            if (ucs2) {
                if (value && ucs2_stop(value, value + length, UT)) return false;
            } else if (value && (std::memchr(value, FT, std::size_t(length)) ||
                                 std::memchr(value, UT, std::size_t(length)))) {
                return false;
            }
            if (i) terminate(UT);
            if (length) out.append(value, std::size_t(length));
        }
        terminate(FT);
        return true;
    }
    const std::vector<const fnode*>* items = items_of(f, d, n);
    if (!items) return false;
    unsigned bits = 0, acc = 0;  // bits of a bit string pending in acc (records are written compressed)
    auto flush_bits = [&]() {
        if (bits) out += char(acc << (8 - bits));
        bits = 0;
        acc = 0;
    };
    for (std::size_t i = 0; i < n; ++i) {
        const fnode* item = (*items)[i];
        const char t = item->d_type, dl = item->delim;
        const long w = item->width;
        const char* value = field.values[i].value;
        long length = field.values[i].length;
        if (length < 0 || (length && !value)) return false;
        const char* p = value ? value : "";
        if (t == 'B' && w > 0) {
            if (length < (w + 7) / 8) return false;
            if (bits == 0 && w % 8 == 0) {  // whole bytes on a byte boundary: the bytes themselves
                out.append(p, std::size_t(w / 8));
                continue;
            }
            put_bits(out, p, w, bits, acc);
            continue;
        }
        flush_bits();
        if ((t == 'L' || t == 'M') && w > 0) {
            if (length != w) return false;
            out.append(p, std::size_t(length));
        } else if (w > 0) {
            // A fixed-width text fills its width: a short one padded, a long one refused.
            if (length > w) return false;
            if (!ucs2 && std::memchr(p, FT, std::size_t(length))) return false;
            out.append(p, std::size_t(length));
            out.append(std::size_t(w - length), ' ');
        } else if (t != 'B') {
            const char delim = dl ? dl : UT;
            if (ucs2) {
                if (value && ucs2_stop(value, value + length, delim)) return false;
            } else if (value && (std::memchr(value, FT, std::size_t(length)) ||
                                 std::memchr(value, delim, std::size_t(length)))) {
                return false;
            }
            out.append(p, std::size_t(length));
            terminate(delim);
        } else {
            out.append(p, std::size_t(length));
        }
    }
    flush_bits();
    terminate(FT);
    return true;
}

}  // namespace
}  // namespace iso8211

int put123rec(std::FILE* fp, const put123field* fields, long count) {
    if (!fields || count < 1 || !find123file(fp)) return 0;
    fm* f = g_cur;
    if (f->open_mode != 'w' || f->nld || !f->dl_hd || f->dl_hd->ilevel != 3) return 0;
    // Built before anything is written, so that a refusal leaves the file as it was. The library
    // serves one thread (g_cur): the buffers are kept from record to record.
    static std::string area;
    static std::vector<long> ends;
    area.clear();
    ends.clear();
    long maxtag = 0;
    for (long i = 0; i < count; ++i) {
        const put123field& field = fields[i];
        if (!field.tag || field.count < 1 || !field.values) return 0;
        const long taglen = long(std::strlen(field.tag));
        if (taglen > MAX_TAG || !find123ddfld(field.tag)) return 0;
        ddfield* d = f->dd_cur;
        if (dims_in_data(f, d)) return 0;
        if (!field_bytes(f, d, field, area)) return 0;
        ends.push_back(long(area.size()));
        maxtag = std::max(maxtag, taglen);
    }
    // The leader and directory, as lead123dr and write123dr make them.
    long maxlen = 0;
    for (long i = 0; i < count; ++i) maxlen = std::max(maxlen, ends[std::size_t(i)] - (i ? ends[std::size_t(i) - 1] : 0));
    const long lastPos = count > 1 ? ends[std::size_t(count) - 2] : 0;
    if (maxtag < 1 || maxtag != f->dl_hd->s_tag) return 0;
    const int sFdlen = digits_of(maxlen), sFdpos = digits_of(lastPos);
    if (sFdlen > 9 || sFdpos > 9) return 0;
    const long base = count * (maxtag + sFdlen + sFdpos) + 25;
    const long len = base + long(area.size());
    if (base > 99999 || len > 2147483647L) return 0;

    if (!flush123rec(fp)) return -1;
    const long pos = std::ftell(fp);
    if (pos < 0 || pos > 2147483647L) return 0;
    static std::string rec;
    rec.clear();
    // Zero-padded decimals of the leader and directory (each fits its width, checked above).
    auto put = [](long v, int width) {
        const std::size_t at = rec.size();
        rec.append(std::size_t(width), '0');
        for (int k = width - 1; k >= 0 && v > 0; --k, v /= 10) rec[at + std::size_t(k)] = char('0' + v % 10);
    };
    put(len > 99999 ? 0L : len, 5);
    rec += " D     ";
    put(base, 5);
    rec += "   ";
    rec += char('0' + sFdlen);
    rec += char('0' + sFdpos);
    rec += '0';
    rec += char('0' + maxtag);
    for (long i = 0; i < count; ++i) {
        const long start = i ? ends[std::size_t(i) - 1] : 0;
        rec += fields[i].tag;
        put(ends[std::size_t(i)] - start, sFdlen);
        put(start, sFdpos);
    }
    rec += FT;
    rec += area;
    f->compress = 0;
    if (std::fwrite(rec.data(), 1, rec.size(), fp) != rec.size()) return -1;

    return add_record_start(f, pos) ? 1 : -1;
}

// ---- put123num ----------------------------------------------------------------------------------
int put123num(std::FILE* fp, long value, int width) {
    if (!fp || value < 0 || width < 1 || width > 20 || digits_of(value) > width) return 0;
    return std::fprintf(fp, "%0*ld", width, value) == width ? 1 : 0;
}
