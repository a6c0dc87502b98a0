// iso8211/ddr_write.cpp: building a data descriptive record item by item and writing it: the
// description state machine, sizing, the DDR leader, the tag check, and dropping descriptions.
// Failures return 0 without a message.

#include <cstdlib>
#include <new>

#include "iso8211/internal.h"

namespace iso8211 {

namespace {

int tag_number(const char* tag) {
    if (tag[0] < '0' || tag[0] > '9') return -1;
    return std::atoi(tag);
}

bool is_empty_item(const char* v) { return !v || !*v || (v[0] == EMPTY_MARK && v[1] == '\0'); }

bool looks_like_format(const char* v) {
    std::size_t n = std::strlen(v);
    return n >= 2 && v[0] == '(' && v[n - 1] == ')';
}

// Takes one item of the current description, by its tag and sf_state_dd.
int take_item(fm* f, const char* value) {
    ddfield* d = f->dd_cur;
    const int level = f->dl_hd->ilevel;
    const bool empty = is_empty_item(value);
    const char* v = empty ? "" : value;
    if (std::strcmp(d->tag, "0000") == 0) {
        if (level == 1) {
            std::free(f->cr_hd->f_title);
            f->cr_hd->f_title = empty ? nullptr : heap_dup(v);
            f->sf_state_dd = 5;
            return 1;
        }
        switch (f->sf_state_dd) {
        case 1:
            std::snprintf(d->fd_cntrl, sizeof d->fd_cntrl, "%s", v);
            f->sf_state_dd = 2;
            return 1;
        case 2:
            std::free(f->cr_hd->f_title);
            f->cr_hd->f_title = empty ? nullptr : heap_dup(v);
            f->sf_state_dd = level == 3 ? 3 : 5;
            return 1;
        case 3:
            f->sf_state_dd = 5;
            return empty ? 1 : load123pairs(v);
        default:
            return 0;
        }
    }
    if (std::strcmp(d->tag, "0002") == 0) {
        std::free(f->cr_hd->u_afd);
        f->cr_hd->u_afd = empty ? nullptr : heap_dup(v);
        f->sf_state_dd = 5;
        return 1;
    }
    switch (f->sf_state_dd) {
    case 1:
        std::snprintf(d->fd_cntrl, sizeof d->fd_cntrl, "%s", v);
        f->sf_state_dd = 2;
        return 1;
    case 2:
        if (!set_name(d, v)) return 0;
        if (level == 1) f->sf_state_dd = 5;
        else if (d->fd_cntrl[0] != '0') f->sf_state_dd = 3;
        else if (d->fd_cntrl[1] == '5') f->sf_state_dd = 4;
        else f->sf_state_dd = 5;
        return 1;
    case 3:
        if (!empty && looks_like_format(v)) {  // no labels given: this is the format
            f->sf_state_dd = 5;
            return set_format(f, d, v);
        }
        f->sf_state_dd = 4;
        return set_labels_or_dims(f, d, v);
    case 4:
        f->sf_state_dd = 5;
        return set_format(f, d, v);
    default:
        return 0;
    }
}

int begin_description(fm* f, const char* tag) {
    if (std::strlen(tag) < 1 || std::strlen(tag) > MAX_TAG) return 0;
    ddfield* d = new (std::nothrow) ddfield{};
    if (!d) return 0;
    std::snprintf(d->tag, sizeof d->tag, "%s", tag);
    ddfield* last = f->dd_hd;
    while (last->next) last = last->next;
    last->next = d;
    f->dd_cur = d;
    f->sf_state_dd = f->dl_hd->ilevel > 1 ? 1 : 2;
    if (std::strcmp(tag, "0000") == 0 && f->dl_hd->s_tag == 0)
        f->dl_hd->s_tag = std::int32_t(std::strlen(tag));
    return 1;
}

}  // namespace

}  // namespace iso8211

using namespace iso8211;

// ---- wr123ddsfld --------------------------------------------------------------------------------
int wr123ddsfld(std::FILE* fp, const char* tag, const char* value, int option) {
    if (!tag || !find123file(fp)) return 0;
    fm* f = g_cur;
    f->priv->w_items.clear();  // the descriptions change
    if (!f->dl_hd || option < 1 || option > 6) return 0;
    switch (option) {
    case 2:
        if (!start123ddr(fp) || !begin_description(f, tag)) return 0;
        return take_item(f, value);
    case 6:
        if (!begin_description(f, tag)) return 0;
        return take_item(f, value);
    case 1:
    case 5: {
        if (!f->dd_cur || f->dd_cur == f->dd_hd || f->sf_state_dd < 1 || f->sf_state_dd > 4) return 0;
        int ok = take_item(f, value);
        if (option == 5) f->sf_state_dd = 5;
        return ok;
    }
    default: {  // 3, 4
        if (!f->dd_cur || f->dd_cur == f->dd_hd || f->sf_state_dd < 1 || f->sf_state_dd > 4) return 0;
        int ok = take_item(f, value);
        f->sf_state_dd = 5;
        return ok;
    }
    }
}

// ---- wr123ddfld ---------------------------------------------------------------------------------
int wr123ddfld(std::FILE* fp, const char* tag, const char* text, int option) {
    if (!tag || !text || !find123file(fp)) return 0;
    fm* f = g_cur;
    if (!f->dl_hd || option < 1 || option > 6) return 0;
    const int level = f->dl_hd->ilevel;
    std::vector<std::string> items;
    const char* p = text;
    const char* e = text + std::strlen(text);
    const bool plain = std::strcmp(tag, "0002") == 0;
    if (plain) {
        items.emplace_back(text);
    } else {
        if (level > 1) {
            std::size_t n = std::min<std::size_t>(9, std::size_t(e - p));
            std::string c(p, n);
            items.push_back(c);
            p += n;
        }
        if (e > p && e[-1] == FT) --e;
        const char* s = p;
        for (const char* q = p;; ++q) {
            if (q == e || *q == UT || *q == FT) {
                items.emplace_back(s, std::size_t(q - s));
                if (q == e) break;
                s = q + 1;
            }
        }
        // An elementary field's empty labels item sits between its name and its format.
        if (level > 1 && !items.empty() && !items[0].empty() && items[0][0] == '0' &&
            std::strcmp(tag, "0000") != 0 && items.size() == 4 && items[2].empty())
            items.erase(items.begin() + 2);
    }
    const int first = option == 2 ? 2 : 6;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const bool last = i + 1 == items.size();
        int opt = i == 0 ? first : (last ? (option == 3 || option == 4 ? option : 5) : 1);
        const char* v = items[i].empty() ? "\xff" : items[i].c_str();
        if (!wr123ddsfld(fp, tag, v, opt)) return 0;
    }
    f->sf_state_dd = 5;
    return 1;
}

// ---- verify123ddtags ----------------------------------------------------------------------------
int verify123ddtags() {
    fm* f = g_cur;
    if (!f || !f->dl_hd || !f->dd_hd) return 0;
    if (f->dl_hd->ilevel == 3) return 1;
    int prev_ctl = -1;
    bool others = false;
    for (const ddfield* d = f->dd_hd->next; d; d = d->next) {
        for (const ddfield* e = d->next; e; e = e->next)
            if (std::strcmp(d->tag, e->tag) == 0) return 0;
        const int n = tag_number(d->tag);
        if (n >= 0 && n <= 9) {
            if (others || n <= prev_ctl) return 0;
            prev_ctl = n;
        } else {
            others = true;
        }
    }
    return 1;
}

// ---- pos123ddflds, lead123ddr, write123ddr ------------------------------------------------------
int pos123ddflds() {
    fm* f = g_cur;
    if (!f || !f->dl_hd || !f->dd_hd || !f->dd_hd->next) return 0;
    if (!verify123ddtags()) return 0;
    // Every description's controls take the leader's control length: pad the short ones.
    std::size_t cl = 0;
    if (f->dl_hd->ilevel > 1) {
        for (const ddfield* d = f->dd_hd->next; d; d = d->next)
            if (std::strcmp(d->tag, "0002") != 0) cl = std::max(cl, std::strlen(d->fd_cntrl));
        cl = cl <= 6 ? 6 : 9;
    }
    f->dl_hd->fd_cntrl_l = std::int32_t(cl);
    std::string t;
    long pos = 0;
    for (ddfield* d = f->dd_hd->next; d; d = d->next) {
        if (!ddfield_text(f, d, t)) return 0;
        if (pos + long(t.size()) > 999999999L) return 0;
        d->fd_len = std::int32_t(t.size());
        d->fd_pos = std::int32_t(pos);
        pos += long(t.size());
    }
    return 1;
}

int lead123ddr() {
    fm* f = g_cur;
    if (!f || !f->dl_hd || !f->dd_hd || !f->dd_hd->next) return 0;
    ddleader* l = f->dl_hd;
    long maxtag = 0, maxlen = 0, n = 0;
    const ddfield* last = nullptr;
    for (const ddfield* d = f->dd_hd->next; d; d = d->next) {
        maxtag = std::max(maxtag, long(std::strlen(d->tag)));
        maxlen = std::max(maxlen, long(d->fd_len));
        last = d;
        ++n;
    }
    if (maxtag < 1 || maxtag > MAX_TAG || (l->s_tag != 0 && l->s_tag != maxtag)) return 0;
    l->s_tag = std::int32_t(maxtag);
    l->s_fdlen = digits_of(maxlen);
    l->s_fdpos = digits_of(last->fd_pos);
    if (l->s_fdlen > 9 || l->s_fdpos > 9) return 0;
    const long base = n * (l->s_tag + l->s_fdlen + l->s_fdpos) + 25;
    const long len = base + last->fd_pos + last->fd_len;
    if (base > 99999 || len > 99999) return 0;  // neither fits its five digits
    l->da_base = std::int32_t(base);
    l->rec_len = std::int32_t(len);
    l->lead_id = 'L';
    l->resv_sp = '1';
    l->appl_ind = ' ';
    l->s_resv = 0;
    return 1;
}

int write123ddr() {
    fm* f = g_cur;
    if (!f || f->open_mode != 'w') return 0;
    if (!pos123ddflds() || !lead123ddr()) return 0;
    const ddleader* l = f->dl_hd;
    char b[128];
    std::snprintf(b, sizeof b, "%05ld%1ld%c%c%c%c%02ld%05ld%.3s%1ld%1ld%1ld%1ld", long(l->rec_len),
                  long(l->ilevel), l->lead_id, l->ice_ind, l->resv_sp, l->appl_ind,
                  long(l->fd_cntrl_l), long(l->da_base), l->ccs_ind, long(l->s_fdlen),
                  long(l->s_fdpos), long(l->s_resv), long(l->s_tag));
    std::string rec = b;
    if (rec.size() != 24) return 0;
    for (const ddfield* d = f->dd_hd->next; d; d = d->next) {
        std::snprintf(b, sizeof b, "%s%0*ld%0*ld", d->tag, int(l->s_fdlen), long(d->fd_len),
                      int(l->s_fdpos), long(d->fd_pos));
        rec += b;
    }
    rec += FT;
    std::string t;
    for (const ddfield* d = f->dd_hd->next; d; d = d->next) {
        ddfield_text(f, d, t);
        rec += t;
    }
    if (long(rec.size()) != l->rec_len) return 0;
    if (std::fwrite(rec.data(), 1, rec.size(), f->fp) != rec.size()) return 0;
    f->dd_cur = f->dd_hd;
    f->sf_state_dd = 5;
    return 1;
}

// ---- finish123ddr -------------------------------------------------------------------------------
int finish123ddr(std::FILE* fp) {
    if (!find123file(fp)) return 0;
    fm* f = g_cur;
    if (f->open_mode == 'r') return 1;
    std::rewind(fp);
    return write123ddr();
}

// ---- dropping descriptions ----------------------------------------------------------------------
int drop123ddr(std::FILE* fp) {
    if (!find123file(fp)) return 0;
    fm* f = g_cur;
    f->priv->w_items.clear();
    if (f->open_mode != 'w') return 0;
    free_ddfields(f);
    f->sf_state_dd = 0;
    return 1;
}

int drop123ddfld(std::FILE* fp) {
    if (!find123file(fp)) return 0;
    fm* f = g_cur;
    f->priv->w_items.clear();
    if (f->open_mode != 'w' || !f->dd_cur || f->dd_cur == f->dd_hd) return 0;
    ddfield* prev = f->dd_hd;
    while (prev->next && prev->next != f->dd_cur) prev = prev->next;
    if (prev->next != f->dd_cur) return 0;
    prev->next = f->dd_cur->next;
    free_ddfield(f->dd_cur);
    f->dd_cur = prev;
    f->sf_state_dd = 5;
    return 1;
}

int drop123ddsfld(std::FILE* fp) {
    if (!find123file(fp)) return 0;
    fm* f = g_cur;
    f->priv->w_items.clear();
    if (f->open_mode != 'w' || !f->dd_cur || f->dd_cur == f->dd_hd) return 0;
    ddfield* d = f->dd_cur;
    if (d->fmt_rt) {
        d->fmt_rt = free123fmt(d->fmt_rt);
        f->sf_state_dd = 4;
    } else if (d->labels || d->dim_num) {
        d->labels = free123labels(d->labels);
        d->dim_lptr = free123list(d->dim_lptr);
        d->dim_num = 0;
        d->dim_vals = 0;
        f->sf_state_dd = 3;
    } else if (d->name) {
        std::free(d->name);
        d->name = nullptr;
        f->sf_state_dd = 2;
    } else {
        d->fd_cntrl[0] = '\0';
        f->sf_state_dd = 1;
    }
    return 1;
}

// ---- put123rawddr -------------------------------------------------------------------------------
int put123rawddr(std::FILE* fp, const char* text, int* status) {
    if (!text || !status || !find123file(fp)) return 0;
    fm* f = g_cur;
    f->priv->w_items.clear();
    if (f->open_mode != 'w') return 0;
    std::size_t n = std::strlen(text);
    std::rewind(fp);
    if (n == 0 || std::fwrite(text, 1, n, fp) != n || std::fflush(fp) != 0) return 0;
    std::rewind(fp);
    ddleader* keep = f->dl_hd;
    f->dl_hd = nullptr;
    f->open_mode = 'r';  // read it back as the file's DDR
    int ok = read123ddr();
    f->open_mode = 'w';
    if (!ok) {
        delete f->dl_hd;
        f->dl_hd = keep;
        *status = S_FAIL;
        return 0;
    }
    delete keep;
    if (std::fseek(fp, long(n), SEEK_SET) != 0) return 0;
    f->sf_state_dd = 5;
    *status = S_RECEND;
    return 1;
}
