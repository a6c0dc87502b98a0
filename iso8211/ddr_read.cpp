// iso8211/ddr_read.cpp: reading the data descriptive record into the file-control field and the list
// of field descriptions, and giving leaders, directories and descriptions back as text.
// read123ddr returns 0 on a bad DDR and says on stderr what was wrong with it.

#include <cstdlib>
#include <new>
#include <sys/stat.h>

#include "iso8211/internal.h"

namespace iso8211 {

namespace {

void ddr_error(const char* what) { std::fprintf(stderr, "read123ddr: %s\n", what); }

// Bytes left in a regular file from its current position; -1 when not known.
long bytes_left(std::FILE* fp) {
    struct stat st;
    long pos = std::ftell(fp);
    if (pos < 0 || fstat(fileno(fp), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return long(st.st_size) - pos;
}

// Pieces of a text cut at both terminators; a trailing field terminator ends the text.
std::vector<std::string> split_items(const char* p, const char* e) {
    if (e > p && e[-1] == FT) --e;
    std::vector<std::string> out;
    const char* s = p;
    for (const char* q = p;; ++q) {
        if (q == e || *q == FT || *q == UT) {
            out.emplace_back(s, std::size_t(q - s));
            if (q == e) break;
            s = q + 1;
        }
    }
    return out;
}

// The number of a control field's tag ("0000" to "0009"); -1 for a tag that is not all digits, such
// as a damaged "000P", which is then described like any other field.
int tag_number(const char* tag) {
    std::size_t n = 0;
    for (; tag[n]; ++n)
        if (tag[n] < '0' || tag[n] > '9') return -1;
    return n > 0 ? std::atoi(tag) : -1;
}

}  // namespace

int set_name(ddfield* d, const char* text) {
    std::free(d->name);
    d->name = nullptr;
    if (!text || !*text) return 1;
    d->name = heap_dup(text);
    return d->name ? 1 : 0;
}

int set_labels_or_dims(fm* f, ddfield* d, const char* text) {
    if (!text || !*text) return 1;
    ddfield* keep = f->dd_cur;
    f->dd_cur = d;
    int ok = (d->fd_cntrl[0] == '2' && only_digits_commas(text)) ? parse123dims(text)
                                                                  : parse123labels(text);
    f->dd_cur = keep;
    return ok;
}

int set_format(fm* f, ddfield* d, const char* text) {
    if (!text || !*text) return 1;
    ddfield* keep = f->dd_cur;
    f->dd_cur = d;
    int ok = parse123fmt(text);
    f->dd_cur = keep;
    return ok;
}

int ddfield_text(const fm* f, const ddfield* d, std::string& out) {
    out.clear();
    const ddleader* l = f->dl_hd;
    const int level = l ? l->ilevel : 3;
    auto controls = [&]() {
        std::string c = d->fd_cntrl;
        if (l && long(c.size()) < l->fd_cntrl_l) c.append(std::size_t(l->fd_cntrl_l) - c.size(), ' ');
        out += c;
    };
    if (std::strcmp(d->tag, "0002") == 0) {
        if (f->cr_hd && f->cr_hd->u_afd) out = f->cr_hd->u_afd;
        if (out.empty() || out.back() != FT) out += FT;
        return 1;
    }
    if (std::strcmp(d->tag, "0000") == 0) {
        if (level > 1) controls();
        if (f->cr_hd && f->cr_hd->f_title) out += f->cr_hd->f_title;
        if (level == 3) {
            out += UT;
            for (const tag_pair* p = f->cr_hd ? f->cr_hd->tag_l : nullptr; p; p = p->next) {
                out += p->tag_1;
                out += p->tag_2;
            }
        }
        out += FT;
        return 1;
    }
    if (level == 1) {
        if (d->name) out += d->name;
        out += FT;
        return 1;
    }
    controls();
    if (d->name) out += d->name;
    if (d->fd_cntrl[0] == '0') {
        if ((d->fd_cntrl[1] == '5' || d->fd_cntrl[1] == '0') && d->fmt_rt) {
            out += UT;
            out += UT;
            fmt_tree_text(d->fmt_rt, out);
        }
    } else {
        out += UT;
        if (d->dim_num > 0) {
            out += std::to_string(d->dim_num);
            for (const dmnode* m = d->dim_lptr ? d->dim_lptr->nxt : nullptr; m; m = m->nxt)
                out += "," + std::to_string(m->length);
        } else {
            labels_text(d->labels, out);
        }
        if (d->fmt_rt) {
            out += UT;
            fmt_tree_text(d->fmt_rt, out);
        }
    }
    out += FT;
    return 1;
}

}  // namespace iso8211

using namespace iso8211;

// ---- start123ddr --------------------------------------------------------------------------------
int start123ddr(std::FILE* fp) {
    if (!find123file(fp)) return 0;
    fm* f = g_cur;
    std::rewind(fp);
    free_filectl(f->cr_hd);
    f->cr_hd = new (std::nothrow) filectl{};
    if (!f->cr_hd) return 0;
    if (f->open_mode == 'r') {
        delete f->dl_hd;
        f->dl_hd = nullptr;
    }
    free_ddfields(f);
    if (!f->dd_hd && !(f->dd_hd = new (std::nothrow) ddfield{})) return 0;
    f->dd_cur = f->dd_hd;
    f->sf_state_dd = 0;
    return 1;
}

// ---- load123pairs -------------------------------------------------------------------------------
int load123pairs(const char* text) {
    fm* f = g_cur;
    if (!f || !f->cr_hd || !f->dl_hd || !text) return 0;
    const std::size_t t = std::size_t(f->dl_hd->s_tag);
    if (t < 1 || t > MAX_TAG) return 0;
    const std::size_t n = std::strlen(text);
    tag_pair* last = f->cr_hd->tag_l;
    while (last && last->next) last = last->next;
    for (std::size_t i = 0; i + 2 * t <= n; i += 2 * t) {
        tag_pair* p = new (std::nothrow) tag_pair{};
        if (!p) return 0;
        std::memcpy(p->tag_1, text + i, t);
        std::memcpy(p->tag_2, text + i + t, t);
        if (last) last->next = p;
        else f->cr_hd->tag_l = p;
        last = p;
    }
    return 1;
}

// ---- read123ddr ---------------------------------------------------------------------------------
int read123ddr() {
    fm* f = g_cur;
    if (!f || !start123ddr(f->fp)) return 0;
    std::FILE* fp = f->fp;

    char ld[24];
    if (std::fread(ld, 1, 24, fp) != 24) {
        ddr_error("file too short for a leader");
        return 0;
    }
    ddleader* l = new (std::nothrow) ddleader{};
    if (!l) return 0;
    delete f->dl_hd;
    f->dl_hd = l;
    if (!parse_uint(ld, 5, &l->rec_len)) {
        ddr_error("record length is not a number");
        return 0;
    }
    if (ld[5] < '1' || ld[5] > '3') {
        ddr_error("interchange level is not 1, 2 or 3");
        return 0;
    }
    l->ilevel = ld[5] - '0';
    l->lead_id = ld[6];
    if (l->lead_id != 'L') {
        ddr_error("leader identifier is not L");
        return 0;
    }
    l->ice_ind = ld[7];
    l->resv_sp = ld[8];
    l->appl_ind = ld[9];
    if (!parse_uint(ld + 10, 2, &l->fd_cntrl_l) ||
        (l->ilevel == 1 ? l->fd_cntrl_l != 0 : l->fd_cntrl_l != 6 && l->fd_cntrl_l != 9)) {
        ddr_error("field control length does not suit the interchange level");
        return 0;
    }
    if (!parse_uint(ld + 12, 5, &l->da_base)) {
        ddr_error("base address of field area is not a number");
        return 0;
    }
    std::memcpy(l->ccs_ind, ld + 17, 3);
    l->ccs_ind[3] = '\0';
    if (!parse_uint(ld + 20, 1, &l->s_fdlen) || !parse_uint(ld + 21, 1, &l->s_fdpos) ||
        !parse_uint(ld + 23, 1, &l->s_tag) || l->s_fdlen < 1 || l->s_fdpos < 1 || l->s_tag < 1 ||
        l->s_tag > MAX_TAG) {
        ddr_error("entry map sizes out of range");
        return 0;
    }
    l->s_resv = ld[22] >= '0' && ld[22] <= '9' ? ld[22] - '0' : 0;

    const long entry = l->s_tag + l->s_fdlen + l->s_fdpos;
    const long dirlen = long(l->da_base) - 25;
    if (dirlen < entry || dirlen % entry != 0) {
        ddr_error("directory size does not fit its entries");
        return 0;
    }
    const long left = bytes_left(fp);
    if (left >= 0 && dirlen + 1 > left) {
        ddr_error("file ends inside the directory");
        return 0;
    }
    std::vector<char> dir(static_cast<std::size_t>(dirlen + 1));
    if (std::fread(dir.data(), 1, dir.size(), fp) != dir.size()) {
        ddr_error("file ends inside the directory");
        return 0;
    }
    ddfield* last = f->dd_hd;
    long area = 0;
    for (long i = 0; i < dirlen; i += entry) {
        ddfield* d = new (std::nothrow) ddfield{};
        if (!d) return 0;
        last->next = d;
        last = d;
        std::memcpy(d->tag, dir.data() + i, std::size_t(l->s_tag));
        if (!parse_uint(dir.data() + i + l->s_tag, l->s_fdlen, &d->fd_len) ||
            !parse_uint(dir.data() + i + l->s_tag + l->s_fdlen, l->s_fdpos, &d->fd_pos)) {
            ddr_error("directory entry is not a number");
            return 0;
        }
        area = std::max(area, long(d->fd_pos) + long(d->fd_len));
    }
    if (left >= 0 && area > left - dirlen - 1) {
        ddr_error("file ends inside the field area");
        return 0;
    }
    if (area > (1L << 28)) {
        ddr_error("field area too large");
        return 0;
    }
    std::vector<char> buf(static_cast<std::size_t>(area));
    if (std::fread(buf.data(), 1, buf.size(), fp) != buf.size()) {
        ddr_error("file ends inside the field area");
        return 0;
    }
    if (l->rec_len != 0 && l->rec_len != l->da_base + area) {
        // The record length disagrees with the directory: go on from where the fields end.
        std::fprintf(stderr, "read123ddr: record length %d differs from the directory's %ld\n",
                     l->rec_len, long(l->da_base) + area);
    }

    const long fcl = l->ilevel > 1 ? l->fd_cntrl_l : 0;
    for (ddfield* d = f->dd_hd->next; d; d = d->next) {
        const char* p = buf.data() + d->fd_pos;
        const char* e = p + d->fd_len;
        const int num = tag_number(d->tag);
        if (num == 2) {
            std::free(f->cr_hd->u_afd);
            f->cr_hd->u_afd = heap_dup(p, std::size_t(e - p));
            if (!f->cr_hd->u_afd) return 0;
            continue;
        }
        if (num != 0 && l->ilevel == 1) {
            if (e > p && e[-1] == FT) --e;
            if (!set_name(d, std::string(p, e).c_str())) return 0;
            continue;
        }
        if (e - p < fcl) {
            ddr_error("field description shorter than its field controls");
            return 0;
        }
        std::memcpy(d->fd_cntrl, p, std::size_t(fcl));
        d->fd_cntrl[fcl] = '\0';
        p += fcl;
        if (num == 0) {
            std::vector<std::string> items = split_items(p, e);
            if (!items.empty() && !items[0].empty()) {
                std::free(f->cr_hd->f_title);  // a second file control field must not leak the first's
                f->cr_hd->f_title = heap_dup(items[0].c_str());
            }
            if (items.size() > 1 && !load123pairs(items[1].c_str())) return 0;
            continue;
        }
        const bool elementary = d->fd_cntrl[0] == '0';
        if (elementary && e - p < 2) continue;
        std::vector<std::string> items = split_items(p, e);
        if (!set_name(d, items.empty() ? "" : items[0].c_str())) return 0;
        if (elementary) {
            if (d->fd_cntrl[1] == '5' && items.size() > 2 && !set_format(f, d, items[2].c_str())) {
                std::fprintf(stderr, "read123ddr: bad format controls of field %s: %s\n", d->tag,
                             items[2].c_str());
                return 0;
            }
            continue;
        }
        if (items.size() > 1 && !set_labels_or_dims(f, d, items[1].c_str())) {
            std::fprintf(stderr, "read123ddr: bad labels of field %s: %s\n", d->tag,
                         items[1].c_str());
            return 0;
        }
        if (items.size() > 2 && !set_format(f, d, items[2].c_str())) {
            std::fprintf(stderr, "read123ddr: bad format controls of field %s: %s\n", d->tag,
                         items[2].c_str());
            return 0;
        }
    }
    f->dd_cur = f->dd_hd;
    f->sf_state_dd = 5;
    if (!verify123ddtags()) {
        ddr_error("field tags out of order or repeated");
        return 0;
    }
    return 1;
}

// ---- find123ddfld -------------------------------------------------------------------------------
int is123ucs2(const ddfield* d) {
    const fm* f = g_cur;
    return f && d && ucs2_field(f, d) ? 1 : 0;
}

int find123ddfld(const char* tag) {
    fm* f = g_cur;
    if (!f || !f->dd_hd || !tag) return 0;
    for (ddfield* d = f->dd_hd->next; d; d = d->next) {
        if (std::strcmp(d->tag, tag) == 0) {
            f->dd_cur = d;
            return 1;
        }
    }
    return 0;
}

// ---- leaders and directories as text ------------------------------------------------------------
int text123ddlead(std::string& out) {
    fm* f = g_cur;
    if (!f || !f->dl_hd) return 0;
    const ddleader* l = f->dl_hd;
    char b[128];
    std::snprintf(b, sizeof b, "%05ld%1ld%c%c%c%c%02ld%05ld%.3s%1ld%1ld%1ld%1ld", long(l->rec_len),
                  long(l->ilevel), l->lead_id, l->ice_ind, l->resv_sp, l->appl_ind,
                  long(l->fd_cntrl_l), long(l->da_base), l->ccs_ind, long(l->s_fdlen),
                  long(l->s_fdpos), long(l->s_resv), long(l->s_tag));
    out = b;
    return 1;
}

int text123ddir(std::string& out) {
    fm* f = g_cur;
    if (!f || !f->dl_hd || !f->dd_hd) return 0;
    out.clear();
    char b[128];
    for (const ddfield* d = f->dd_hd->next; d; d = d->next) {
        std::snprintf(b, sizeof b, "%s%0*ld%0*ld", d->tag, int(f->dl_hd->s_fdlen), long(d->fd_len),
                      int(f->dl_hd->s_fdpos), long(d->fd_pos));
        out += b;
    }
    out += FT;
    return 1;
}

int text123drlead(std::string& out) {
    fm* f = g_cur;
    if (!f || !f->rl_hd) return 0;
    const drleader* l = f->rl_hd;
    char b[128];
    std::snprintf(b, sizeof b, "%05ld%c%c%.5s%05ld%.3s%1ld%1ld%1ld%1ld", long(l->rec_len), l->resv_sp,
                  l->lead_id, l->s_resv, long(l->da_base), l->r_space, long(l->s_fdlen),
                  long(l->s_fdpos), long(l->sp_rsrv), long(l->s_tag));
    out = b;
    return 1;
}

int text123drdir(std::string& out) {
    fm* f = g_cur;
    if (!f || !f->rl_hd || !f->dr_hd) return 0;
    out.clear();
    char b[128];
    for (const drfield* d = f->dr_hd->next; d; d = d->next) {
        std::snprintf(b, sizeof b, "%s%0*ld%0*ld", d->tag, int(f->rl_hd->s_fdlen), long(d->fd_len),
                      int(f->rl_hd->s_fdpos), long(d->fd_pos));
        out += b;
    }
    out += FT;
    return 1;
}

// ---- descriptions as text -----------------------------------------------------------------------
int text123fmt(std::string& out) {
    fm* f = g_cur;
    out.clear();
    if (!f || !f->dd_cur || f->dd_cur == f->dd_hd) return 0;
    fmt_tree_text(f->dd_cur->fmt_rt, out);
    return 1;
}

int text123fmtnum(std::string& out) {
    fm* f = g_cur;
    out.clear();
    if (!f || !f->dd_cur || f->dd_cur == f->dd_hd) return 0;
    if (!f->dd_cur->fmt_rt) return 1;
    std::FILE* t = std::tmpfile();
    if (!t) return 0;
    int ok = emit123fmtnum(t, f->dd_cur->fmt_rt);
    long n = std::ftell(t);
    std::rewind(t);
    if (ok && n > 0) {
        out.resize(std::size_t(n));
        ok = std::fread(out.data(), 1, out.size(), t) == out.size();
    }
    std::fclose(t);
    return ok ? 1 : 0;
}

int text123labels(std::string& out) {
    fm* f = g_cur;
    out.clear();
    if (!f || !f->dd_cur || f->dd_cur == f->dd_hd) return 0;
    labels_text(f->dd_cur->labels, out);
    return 1;
}

int text123dims(std::string& out) {
    fm* f = g_cur;
    out.clear();
    if (!f || !f->dd_cur || f->dd_cur == f->dd_hd) return 0;
    const ddfield* d = f->dd_cur;
    if (d->dim_num <= 0) return 1;
    out = std::to_string(d->dim_num);
    for (const dmnode* m = d->dim_lptr ? d->dim_lptr->nxt : nullptr; m; m = m->nxt)
        out += "," + std::to_string(m->length);
    return 1;
}

int text123ddsfld(std::string& out) {
    fm* f = g_cur;
    out.clear();
    if (!f) return 0;
    if (!f->dl_hd && f->open_mode == 'r' && !read123ddr()) return 0;
    const int level = f->dl_hd ? f->dl_hd->ilevel : 3;
    if (f->sf_state_dd == 0 || f->sf_state_dd == 5 || f->dd_cur == f->dd_hd) {
        ddfield* n = f->dd_cur ? f->dd_cur->next : nullptr;
        if (!n) return 0;
        f->dd_cur = n;
        f->sf_state_dd = level > 1 ? 1 : 2;
    }
    ddfield* d = f->dd_cur;
    const bool elem = d->fd_cntrl[0] == '0';
    switch (f->sf_state_dd) {
    case 1:
        out = d->fd_cntrl;
        f->sf_state_dd = 2;
        return 1;
    case 2:
        if (std::strcmp(d->tag, "0000") == 0) {
            if (f->cr_hd && f->cr_hd->f_title) out = f->cr_hd->f_title;
            f->sf_state_dd = level == 3 ? 3 : 5;
            return 1;
        }
        if (std::strcmp(d->tag, "0002") == 0) {
            if (f->cr_hd && f->cr_hd->u_afd) out = f->cr_hd->u_afd;
            f->sf_state_dd = 5;
            return 1;
        }
        if (d->name) out = d->name;
        if (level == 1) f->sf_state_dd = 5;
        else if (!elem) f->sf_state_dd = 3;
        else f->sf_state_dd = d->fd_cntrl[1] == '5' ? 4 : 5;
        return 1;
    case 3:
        if (std::strcmp(d->tag, "0000") == 0) {
            for (const tag_pair* p = f->cr_hd ? f->cr_hd->tag_l : nullptr; p; p = p->next)
                out += std::string(p->tag_1) + p->tag_2;
            f->sf_state_dd = 5;
            return 1;
        }
        if (d->dim_num > 0) text123dims(out);
        else labels_text(d->labels, out);
        f->sf_state_dd = 4;
        return 1;
    case 4:
        fmt_tree_text(d->fmt_rt, out);
        f->sf_state_dd = 5;
        return 1;
    default:
        return 0;
    }
}

int text123ddfld(std::string& out) {
    fm* f = g_cur;
    out.clear();
    if (!f || !f->dd_cur || f->dd_cur == f->dd_hd) return 0;
    const ddfield* d = f->dd_cur;
    const int level = f->dl_hd ? f->dl_hd->ilevel : 3;
    if (level > 1 && std::strcmp(d->tag, "0002") != 0) {
        std::string c = d->fd_cntrl;
        c.resize(9, ' ');
        out += c;
    }
    std::string body;
    ddfield_text(f, d, body);
    // ddfield_text starts with the controls padded to the leader's length; take what follows them.
    std::size_t skip = 0;
    if (level > 1 && std::strcmp(d->tag, "0002") != 0)
        skip = std::max(std::strlen(d->fd_cntrl), std::size_t(f->dl_hd ? f->dl_hd->fd_cntrl_l : 0));
    if (skip > body.size()) skip = body.size();
    out.append(body, skip, std::string::npos);
    return 1;
}

// ---- desc123fld ---------------------------------------------------------------------------------
int desc123fld(std::FILE* fp, std::string& tag, std::string& len, std::string& name,
               std::string& cntrl, std::string& fmt, std::string& labels) {
    tag.clear();
    len.clear();
    name.clear();
    cntrl.clear();
    fmt.clear();
    labels.clear();
    if (!find123file(fp)) return 0;
    fm* f = g_cur;
    drfield* r = f->dr_cur;
    if (!r || r == f->dr_hd) return 0;
    if (!find123ddfld(r->tag)) return 0;
    long n = r->fd_len;
    if (f->open_mode == 'w' && n == 0) {
        std::string t, bytes;
        char lid;
        long blen = 0;
        int st = 0;
        drfield* keep = f->dr_cur;
        // raw123sfld steps to the next field; stand before this one.
        drfield* prev = f->dr_hd;
        while (prev->next && prev->next != keep) prev = prev->next;
        f->dr_cur = prev;
        int keep_state = f->sf_state_dr;
        f->sf_state_dr = 4;
        if (raw123sfld(fp, t, &lid, bytes, &blen, &st)) n = blen;
        f->dr_cur = keep;
        f->sf_state_dr = keep_state;
    }
    const ddfield* d = f->dd_cur;
    tag = r->tag;
    len = std::to_string(n);
    if (d->name) name = d->name;
    cntrl = d->fd_cntrl;
    fmt_tree_text(d->fmt_rt, fmt);
    labels_text(d->labels, labels);
    return 1;
}

// ---- raw123ddr ----------------------------------------------------------------------------------
int raw123ddr(std::FILE* fp, std::string& bytes, int* status) {
    bytes.clear();
    if (!status || !find123file(fp)) return 0;
    fm* f = g_cur;
    if (!f->dl_hd || !f->dd_hd->next) {
        if (!read123ddr()) {
            *status = std::feof(fp) ? S_EOF : S_FAIL;
            return 0;
        }
    }
    long len = f->dl_hd->rec_len;
    if (len == 0) {
        const ddfield* last = f->dd_hd;
        while (last->next) last = last->next;
        len = long(f->dl_hd->da_base) + last->fd_pos + last->fd_len;
    }
    std::rewind(fp);
    bytes.resize(std::size_t(len));
    std::size_t got = std::fread(bytes.data(), 1, bytes.size(), fp);
    bytes.resize(got);
    f->sf_state_dd = 5;
    if (got != std::size_t(len)) {
        *status = S_EOF;
        return 0;
    }
    *status = S_RECEND;
    return 1;
}
