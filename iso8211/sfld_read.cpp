// iso8211/sfld_read.cpp: walking the loaded record subfield by subfield with the status codes of the
// walk, describing the subfield last returned, the label pointers, and backing up subfields and
// fields. A failed step returns 0 with status 0, or with status 4 at a clean end of file.

#include <new>

#include "iso8211/internal.h"

namespace iso8211 {

namespace {

void enter_field(fm* f) {
    drfield* r = f->dr_cur;
    if (!r->desc && find123ddfld(r->tag)) r->desc = f->dd_cur;
    if (r->desc) f->dd_cur = r->desc;
    f->vset_cur = r->values ? r->values->nxt_vset : nullptr;
    f->dv_cur = f->vset_cur;
    f->priv->first_pending = true;
    f->priv->tag_len = strnlen(r->tag, sizeof r->tag);
    f->priv->walked = 0;
    f->priv->last_kind = 0;
    f->dim_cur = nullptr;
    free123lp();
    reset_fmt(f, r->desc);
}

void enter_values(fm* f) {
    free123lp();
    if (f->dd_cur && f->dd_cur->labels && f->dd_cur->lab_count == 0) build123lp();
    reset_fmt(f, f->dr_cur->desc);
    f->priv->val_index = -1;
    f->priv->lab_pos = -1;
}

bool array_dims(const fm* f) {
    return f->dr_cur && f->dr_cur->num_dim > 0 && f->dr_cur->desc && f->dr_cur->desc->dim_num == 0;
}

// The next value of the current field r (state 3), as next123sfld hands it out; the field's end
// sets *status. What the walk reads is taken into locals before the caller's strings are written.
[[gnu::always_inline]] inline void step_value(fm* f, drfield* r, std::string& value, long* length, int* status,
                                              bool check_eof) {
    fm_priv* const pv = f->priv;
    const ddfield* const d = r->desc;
    pv->last_kind = 0;
    vnode* v = f->dv_cur;
    vnode* set = f->vset_cur;
    bool got = true;
    if (pv->first_pending) {
        pv->first_pending = false;
        got = v != nullptr;
    } else if (v && v->nxt_vptr) {
        v = v->nxt_vptr;
        f->dv_cur = v;
    } else if (set && set->nxt_vset) {
        set = set->nxt_vset;
        v = set;
        f->vset_cur = set;
        f->dv_cur = v;
        reset_fmt(f, r->desc);
    } else {
        got = false;
    }
    bool more = false;
    if (got) {
        ++pv->val_index;
        if (d) {
            const std::int32_t lc = d->lab_count;
            if (lc > 0) pv->lab_pos = pv->lab_pos + 1 < lc ? pv->lab_pos + 1 : 0;
            else if (d->labels) step123labels();
        }
        // The loader kept each value's format item: no second walk through the format.
        if (v->fmt) f->fmt_cur = const_cast<fnode*>(v->fmt);
        else if (d && d->fmt_rt) get123fmt(nullptr, nullptr, nullptr, nullptr);
        more = v->nxt_vptr || (set && set->nxt_vset);
        ++pv->walked;
        const std::size_t n = v->value ? std::size_t(v->length) : 0;
        set_text(value, v->value, n);
        *length = long(n);
    } else {
        f->dv_cur = nullptr;
        ++pv->walked;
        value.clear();
        *length = 0;
    }
    if (!more) {
        if (!r->next) {
            *status = S_RECEND;
            if (check_eof) test123eof(f->fp, status);
        } else if (*status != S_RECSTART) {
            *status = S_FLDEND;
        }
        f->sf_state_dr = 4;
    }
}

// One step inside the current field (states 1 to 3); the caller has entered the field.
// Sets *status for the start of a field (unless loaded) and for its end. Taken into next123sfld,
// which runs it once a subfield.
[[gnu::always_inline]] inline void step_in_field(fm* f, bool loaded, std::string& value, long* length,
                                                 int* status, bool check_eof) {
    drfield* r = f->dr_cur;
    if (f->sf_state_dr == 1) {
        if (array_dims(f)) {
            const bool first_field = f->dr_hd && r == f->dr_hd->next;
            value = std::to_string(r->num_dim);
            f->sf_state_dr = 2;
            f->dim_cur = r->dim_lptr;
            f->priv->last_kind = 1;
            if (!loaded) *status = first_field ? S_RECSTART : S_FLDSTART;
            *length = long(value.size());
            ++f->priv->walked;
            return;
        }
        f->sf_state_dr = 3;
        if (!loaded) *status = S_FLDSTART;
        enter_values(f);
    } else if (f->sf_state_dr == 2) {
        f->dim_cur = f->dim_cur ? f->dim_cur->nxt : nullptr;
        if (f->dim_cur) {
            value = std::to_string(f->dim_cur->length);
            f->priv->last_kind = 2;
            *length = long(value.size());
            ++f->priv->walked;
            if (!f->dim_cur->nxt) {
                f->sf_state_dr = 3;
                enter_values(f);
            }
            return;
        }
        f->sf_state_dr = 3;
        enter_values(f);
    }
    step_value(f, r, value, length, status, check_eof);
}

// Re-enters the current field and walks n of its subfields again.
void rewalk(fm* f, long n) {
    enter_field(f);
    f->sf_state_dr = 1;
    std::string v;
    long len = 0;
    for (long i = 0; i < n && f->sf_state_dr >= 1 && f->sf_state_dr <= 3; ++i) {
        int st = S_SUBFIELD;
        step_in_field(f, false, v, &len, &st, false);
    }
}

lnode* nth_set(const lpnode* lp) { return lp ? lp->cur : nullptr; }

bool step_sets(lpnode* lp) {  // odometer, last set fastest; true when it carried out of this set
    if (!lp) return true;
    if (step_sets(lp->next)) {
        lp->cur = lp->cur ? lp->cur->nxt_lab : lp->first;
        if (!lp->cur) {
            lp->cur = lp->first;
            return true;
        }
    }
    return false;
}

}  // namespace

}  // namespace iso8211

using namespace iso8211;

// ---- next123sfld --------------------------------------------------------------------------------
int next123sfld(std::FILE* fp, std::string& tag, char* leadid, std::string& value, long* length,
                int* status) {
    if (!status || !length) return 0;
    if (g_cur && g_cur->fp == fp && fp) {
        fm* const f = g_cur;
        drfield* const r = f->dr_cur;
        if (f->sf_state_dr == 3 && r && r != f->dr_hd) {
            // A later value of the field being walked: the common step.
            const char lid = f->rl_hd ? f->rl_hd->lead_id : ' ';
            const std::size_t tag_len = f->priv->tag_len;
            *status = S_SUBFIELD;
            put_text(tag, r->tag, tag_len);
            if (leadid) *leadid = lid;
            step_value(f, r, value, length, status, true);
            return 1;
        }
    }
    *length = 0;
    if (leadid) *leadid = '\0';
    if (!select_file(fp)) {
        *status = S_FAIL;
        value.clear();
        return 0;
    }
    fm* f = g_cur;
    *status = S_SUBFIELD;
    bool loaded = false;
    const int st = f->sf_state_dr;
    if (st < 1 || st > 3 || !f->dr_cur || f->dr_cur == f->dr_hd) {
        drfield* n = (f->dr_hd && f->dr_cur) ? f->dr_cur->next : nullptr;
        free123lp();
        if (!n) {
            if (!ld123rec()) {
                *status = f->priv->eof_clean ? S_EOF : S_FAIL;
                value.clear();
                return 0;
            }
            loaded = true;
            *status = S_RECSTART;
            n = f->dr_hd->next;
        }
        f->dr_cur = n;
        f->sf_state_dr = 1;
        enter_field(f);
    }
    put_text(tag, f->dr_cur->tag, f->priv->tag_len);
    if (leadid) *leadid = f->rl_hd ? f->rl_hd->lead_id : ' ';
    step_in_field(f, loaded, value, length, status, true);
    return 1;
}

// ---- desc123sfld --------------------------------------------------------------------------------
int desc123sfld(std::FILE* fp, std::string& tag, std::string& label, std::string& fmt) {
    if (!select_file(fp)) {
        tag.clear();
        label.clear();
        fmt.clear();
        return 0;
    }
    const fm* f = g_cur;
    const drfield* r = f->dr_cur;
    if (!r || r == f->dr_hd) {
        tag.clear();
        label.clear();
        fmt.clear();
        return 0;
    }
    // Everything read is taken before the caller's strings are written.
    const fm_priv* pv = f->priv;
    const int kind = pv->last_kind;
    const ddfield* d = r->desc;
    const long lab_pos = pv->lab_pos;
    const fnode* item = f->fmt_cur;
    put_text(tag, r->tag, pv->tag_len);
    if (kind == 1 || kind == 2) {
        label = kind == 1 ? "NUMBER OF DIMENSIONS" : "DIMENSION LENGTH";
        fmt.clear();
        return 1;
    }
    if (d && d->lab_count > 0 && lab_pos >= 0) {
        const std::string& l = d->lab_text[lab_pos];
        put_text(label, l.data(), l.size());
    } else {
        label.clear();
        for (const lpnode* lp = f->lp_hd; lp; lp = lp->next) {
            if (lp != f->lp_hd) label += '!';
            const lnode* l = nth_set(lp);
            if (l && l->label) label.append(l->label, std::size_t(l->len));
        }
    }
    if (item) put_text(fmt, item->desc, std::size_t(item->desc_len));
    else fmt.clear();
    return 1;
}

// ---- label pointers -----------------------------------------------------------------------------
int build123lp() {
    fm* f = g_cur;
    if (!f || !f->dd_cur) return 0;
    free123lp();
    lpnode* last = nullptr;
    for (lnode* set = f->dd_cur->labels; set; set = set->nxt_lset) {
        lpnode* n = static_cast<lpnode*>(f->priv->arena.take(sizeof(lpnode)));
        if (!n) return 0;
        *n = lpnode{nullptr, set, nullptr};
        if (last) last->next = n;
        else f->lp_hd = n;
        last = n;
    }
    f->lp_cur = f->lp_hd;
    f->lab_cur = nullptr;
    return 1;
}

int step123labels() {
    fm* f = g_cur;
    if (!f || !f->lp_hd) return 0;
    if (!f->lp_hd->cur) {
        for (lpnode* lp = f->lp_hd; lp; lp = lp->next) lp->cur = lp->first;
    } else {
        step_sets(f->lp_hd);
    }
    lpnode* last = f->lp_hd;
    while (last->next) last = last->next;
    f->lp_cur = last;
    f->lab_cur = last->cur;
    return 1;
}

int free123lp() {
    fm* f = g_cur;
    if (!f) return 0;
    // The nodes live in the record's arena.
    f->lp_hd = nullptr;
    f->lp_cur = nullptr;
    f->lab_cur = nullptr;
    return 1;
}

// ---- backing up ---------------------------------------------------------------------------------
int back123val() {
    fm* f = g_cur;
    if (!f || !f->dr_cur || f->dr_cur == f->dr_hd || f->priv->walked <= 0) return 0;
    rewalk(f, f->priv->walked - 1);
    return 1;
}

int back123fld() {
    fm* f = g_cur;
    if (!f || !f->dr_hd) return 0;
    drfield* prev = f->dr_hd;
    while (prev->next && prev->next != f->dr_cur) prev = prev->next;
    if (f->dr_cur && f->dr_cur != f->dr_hd && prev != f->dr_hd) {
        f->dr_cur = prev;
    } else {
        int st = 0;
        if (f->open_mode == 'r') {
            if (!unread123rec(f->fp, &st) || !unread123rec(f->fp, &st)) return 0;
        } else if (!unread123rec(f->fp, &st)) {
            return 0;
        }
        if (!ld123rec() || !f->dr_hd->next) return 0;
        drfield* last = f->dr_hd->next;
        while (last->next) last = last->next;
        f->dr_cur = last;
    }
    // Stand at the end of that field.
    rewalk(f, 1L << 30);
    f->sf_state_dr = 4;
    return 1;
}

int back123sfld(std::FILE* fp, int* status) {
    if (!status || !find123file(fp)) return 0;
    fm* f = g_cur;
    *status = S_SUBFIELD;
    if (!f->dr_cur || f->dr_cur == f->dr_hd || f->priv->walked <= 0) {
        if (!back123fld()) {
            *status = S_FAIL;
            return 0;
        }
    }
    if (!back123val()) {
        *status = S_FAIL;
        return 0;
    }
    // Standing at a field's start (state 1), the next step gives its first subfield again.
    if (f->priv->walked == 0) *status = (f->dr_cur == f->dr_hd->next) ? S_RECSTART : S_FLDSTART;
    return 1;
}

// ---- desc123next --------------------------------------------------------------------------------
int desc123next(std::FILE* fp, std::string& tag, std::string& len, std::string& name,
                std::string& cntrl, std::string& fmt, std::string& labels) {
    if (!find123file(fp)) return 0;
    fm* f = g_cur;
    if (f->open_mode == 'w') return desc123fld(fp, tag, len, name, cntrl, fmt, labels);
    drfield* keep = f->dr_cur;
    drfield* n = (f->dr_hd && f->dr_cur) ? f->dr_cur->next : nullptr;
    if (n) {
        f->dr_cur = n;
        int ok = desc123fld(fp, tag, len, name, cntrl, fmt, labels);
        f->dr_cur = keep;
        return ok;
    }
    // The next field opens the next record: read it, describe it, and step back before it.
    if (!ld123rec() || !f->dr_hd->next) return 0;
    f->dr_cur = f->dr_hd->next;
    int ok = desc123fld(fp, tag, len, name, cntrl, fmt, labels);
    int st = 0;
    if (!unread123rec(fp, &st)) return 0;
    return ok;
}

// ---- read123fld ---------------------------------------------------------------------------------
int read123fld(std::FILE* fp, long* length, char* leadid, std::string& text) {
    text.clear();
    if (!length || !leadid || !find123file(fp)) return 0;
    fm* f = g_cur;
    if (f->open_mode == 'r') {
        std::string raw;
        int st = 0;
        if (!raw123rec(fp, raw, length, &st)) return 0;
    }
    if (!f->dr_hd || !f->rl_hd) return 0;
    *leadid = f->rl_hd->lead_id;
    if (f->open_mode == 'w') {
        std::string t, b;
        long n = 0;
        for (drfield* d = f->dr_hd->next; d; d = d->next) n += d->fd_len;
        *length = n;
    }
    std::vector<const ddfield*> seen;
    for (drfield* d = f->dr_hd->next; d; d = d->next) {
        if (!find123ddfld(d->tag)) return 0;
        bool dup = false;
        for (const ddfield* s : seen) dup = dup || s == f->dd_cur;
        if (dup) continue;
        seen.push_back(f->dd_cur);
        std::string one;
        if (!text123ddfld(one)) return 0;
        text += one;
    }
    if (f->open_mode == 'r') {
        int st = 0;
        if (!unread123rec(fp, &st)) return 0;
    }
    return 1;
}

// ---- rw123sfld ----------------------------------------------------------------------------------
int rw123sfld(std::FILE* fp, std::string& tag, char* leadid, std::string& value, long* length,
              int* status, std::string& label, std::string& fmt, int option) {
    if (!find123file(fp)) return 0;
    fm* f = g_cur;
    if (f->open_mode == 'r') {
        if (!next123sfld(fp, tag, leadid, value, length, status)) return 0;
        return desc123sfld(fp, tag, label, fmt);
    }
    if (!length || !leadid) return 0;
    if (!put123sfld(fp, tag.c_str(), *leadid, value.data(), *length, option)) return 0;
    label.clear();
    fmt.clear();
    for (const lpnode* lp = f->lp_hd; lp; lp = lp->next) {
        if (lp != f->lp_hd) label += '!';
        if (lp->cur && lp->cur->label) label += lp->cur->label;
    }
    if (f->fmt_cur) fmt_item_text(f->fmt_cur, fmt);
    if (status) *status = S_SUBFIELD;
    return 1;
}
