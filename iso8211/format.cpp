// iso8211/format.cpp: format controls, labels and fixed dimensions of a field description: parsing
// them into trees, stepping through a format item by item (with its repetition stack), and writing
// them back as text. Parsers return 0 on malformed text without a message.

#include <cctype>
#include <cstdlib>
#include <new>

#include "iso8211/internal.h"

namespace iso8211 {

namespace {

constexpr int kMaxDepth = 32;  // nesting of format groups; deeper text is refused

fnode* new_fnode(fnode* back) {
    fnode* n = new (std::nothrow) fnode{};
    if (n) n->back = back;
    return n;
}

constexpr std::size_t kMaxSeq = 4096;

bool expand(fnode* n, std::vector<fnode*>& out) {
    if (!n->nxt_lev) {
        out.push_back(n);
        return out.size() <= kMaxSeq;
    }
    for (std::int32_t r = 0; r < n->rep_no; ++r)
        for (fnode* m = n->nxt_lev; m; m = m->next)
            if (!expand(m, out)) return false;
    return true;
}

void fill_desc(fnode* n) {
    std::string t;
    fmt_item_text(n, t);
    std::snprintf(n->desc, sizeof n->desc, "%s", t.c_str());
    n->desc_len = std::int32_t(std::strlen(n->desc));
}

struct FmtParser {
    const char* p;
    const char* end;

    bool number(std::int32_t* out) {
        if (p >= end || !std::isdigit(static_cast<unsigned char>(*p))) return false;
        long v = 0;
        while (p < end && std::isdigit(static_cast<unsigned char>(*p))) {
            v = v * 10 + (*p++ - '0');
            if (v > 99999999) return false;
        }
        *out = std::int32_t(v);
        return true;
    }

    // Members of a group up to its ")" (consumed).
    bool list(fnode* group, int depth) {
        if (depth > kMaxDepth) return false;
        fnode* last = nullptr;
        for (;;) {
            fnode* item = this->item(group, depth);
            if (!item) return false;
            if (last) last->next = item;
            else group->nxt_lev = item;
            last = item;
            if (p >= end) return false;
            if (*p == ',') {
                ++p;
                continue;
            }
            if (*p == ')') {
                ++p;
                return true;
            }
            return false;
        }
    }

    fnode* item(fnode* back, int depth) {
        std::int32_t count = 0;
        bool counted = false;
        if (p < end && std::isdigit(static_cast<unsigned char>(*p))) {
            if (!number(&count) || count < 1) return nullptr;
            counted = true;
        }
        if (p >= end) return nullptr;
        if (*p == '(') {
            ++p;
            fnode* g = new_fnode(back);
            if (!g) return nullptr;
            g->rep_no = counted ? count : 1;
            if (!list(g, depth + 1)) {
                free123fmt(g);
                return nullptr;
            }
            return g;
        }
        if (counted) {  // 3A: a group of three around one item
            fnode* g = new_fnode(back);
            if (!g) return nullptr;
            g->rep_no = count;
            g->nxt_lev = leaf(g);
            if (!g->nxt_lev) {
                delete g;
                return nullptr;
            }
            return g;
        }
        return leaf(back);
    }

    fnode* leaf(fnode* back) {
        if (p >= end || !std::isalpha(static_cast<unsigned char>(*p))) return nullptr;
        char t = *p++;
        fnode* n = new_fnode(back);
        if (!n) return nullptr;
        auto digit = [&](char c) { return c >= '0' && c <= '9'; };
        if ((t == 'b' || t == 'B') && p + 1 < end && digit(p[0]) && digit(p[1])) {
            n->d_type = t == 'b' ? 'L' : 'M';
            n->b_type = p[0];
            n->width = p[1] - '0';
            p += 2;
            fill_desc(n);
            return n;
        }
        if (t == 'b') {  // "b" must carry its two digits
            delete n;
            return nullptr;
        }
        n->d_type = t;
        if (p < end && *p == '(') {
            ++p;
            if (p < end && digit(*p)) {
                std::int32_t w = 0;
                if (!number(&w) || w < 1) {
                    delete n;
                    return nullptr;
                }
                n->width = w;
            } else if (p < end && *p != ')') {
                n->delim = *p++;
            }
            if (p >= end || *p != ')') {
                delete n;
                return nullptr;
            }
            ++p;
        }
        fill_desc(n);
        return n;
    }
};

repnode* take_rep(fm* f) {
    repnode* r = f->priv->free_reps;
    if (r) {
        f->priv->free_reps = r->next;
        return r;
    }
    return new (std::nothrow) repnode{};
}

void give_rep(fm* f, repnode* r) {
    r->next = f->priv->free_reps;
    f->priv->free_reps = r;
}

// Down from an item to its first leaf, entering each group on the way.
fnode* descend(fnode* n) {
    while (n && n->nxt_lev) {
        if (!push123rep(n->rep_no)) return nullptr;
        n = n->nxt_lev;
    }
    return n;
}

fnode* tree_root(fnode* n) {
    while (n && n->back) n = n->back;
    return n;
}

void leaf_fmt_text(const fnode* n, std::string& out) {
    if (n->d_type == 'L' || n->d_type == 'M') {
        out += n->d_type == 'L' ? 'b' : 'B';
        out += n->b_type;
        out += char('0' + n->width % 10);
        return;
    }
    fmt_item_text(n, out);
}

void group_text(const fnode* g, std::string& out, bool root) {
    const fnode* m = g->nxt_lev;
    if (!root && g->rep_no > 1 && m && !m->next && !m->nxt_lev) {
        out += std::to_string(g->rep_no);
        leaf_fmt_text(m, out);
        return;
    }
    if (!root && g->rep_no > 1) out += std::to_string(g->rep_no);
    out += '(';
    for (; m; m = m->next) {
        if (m->nxt_lev) group_text(m, out, false);
        else leaf_fmt_text(m, out);
        if (m->next) out += ',';
    }
    out += ')';
}

}  // namespace

void clear_reps(fm* f) {
    while (f->rs_hd) {
        repnode* r = f->rs_hd;
        f->rs_hd = r->next;
        give_rep(f, r);
    }
}

FmtState save_fmt(const fm* f) {
    FmtState s;
    s.cur = f->fmt_cur;
    s.root = f->fmt_root_cur;
    for (const repnode* r = f->rs_hd; r; r = r->next) s.push(r->rep_num);
    return s;
}

void restore_fmt(fm* f, const FmtState& s) {
    clear_reps(f);
    for (std::size_t i = s.depth; i-- > 0;) push123rep(s.at(i));
    f->fmt_cur = s.cur;
    f->fmt_root_cur = s.root;
}


bool fmt_has_binary(const fnode* n) {
    for (; n; n = n->next) {
        if (n->d_type == 'L' || n->d_type == 'M' || n->d_type == 'B') return true;
        if (n->nxt_lev && fmt_has_binary(n->nxt_lev)) return true;
    }
    return false;
}

int count_labels_set(const lnode* set) {
    int n = 0;
    for (; set; set = set->nxt_lab) ++n;
    return n;
}

int label_sets(const lnode* tree) {
    int n = 0;
    for (; tree; tree = tree->nxt_lset) ++n;
    return n;
}

long values_per_rep(const ddfield* d) {
    if (d->labels) {
        long n = count_labels_set(d->labels);
        if (n < 2 && d->fd_cntrl[0] != '1' && d->labels->nxt_lset)
            n = count_labels_set(d->labels->nxt_lset);
        return n > 0 ? n : 1;
    }
    if (d->dim_num > 0 && d->dim_vals > 0) return d->dim_vals;
    return 1;
}

bool dims_in_data(const fm* f, const ddfield* d) {
    return has_controls(f, d) && d->fd_cntrl[0] != '0' && d->fd_cntrl[0] != '1' && !d->labels &&
           d->dim_num == 0;
}

void fmt_item_text(const fnode* n, std::string& out) {
    if (n->d_type == 'L' || n->d_type == 'M') {
        out += n->d_type;
        out += n->b_type;
        out += char('0' + n->width % 10);
        return;
    }
    out += n->d_type;
    if (!n->delim && !n->width) return;
    out += '(';
    if (n->delim) out += n->delim;
    if (n->width) out += std::to_string(n->width);
    out += ')';
}

void fmt_tree_text(const fnode* root, std::string& out) {
    if (root) group_text(root, out, true);
}

void labels_text(const lnode* tree, std::string& out) {
    for (const lnode* set = tree; set; set = set->nxt_lset) {
        if (set != tree) out += '*';
        for (const lnode* l = set; l; l = l->nxt_lab) {
            if (l != set) out += '!';
            if (l->label) out += l->label;
        }
    }
}

bool only_digits_commas(const char* s) {
    if (!s || !*s) return false;
    for (; *s; ++s)
        if (!std::isdigit(static_cast<unsigned char>(*s)) && *s != ',') return false;
    return true;
}

}  // namespace iso8211

using namespace iso8211;

// ---- parse123fmt --------------------------------------------------------------------------------
int parse123fmt(const char* text) {
    fm* f = g_cur;
    if (!f || !f->dd_cur || !text) return 0;
    std::size_t n = std::strlen(text);
    if (n < 3 || text[0] != '(' || text[n - 1] != ')') return 0;
    FmtParser ps{text + 1, text + n};
    fnode* root = new (std::nothrow) fnode{};
    if (!root) return 0;
    root->rep_no = 1;
    if (!ps.list(root, 1) || ps.p != ps.end) {
        free123fmt(root);
        return 0;
    }
    ddfield* d = f->dd_cur;
    free123fmt(d->fmt_rt);
    d->fmt_rt = root;
    delete[] d->fmt_seq;
    d->fmt_seq = nullptr;
    d->seq_len = d->seq_again = 0;
    // One pass of the tree as a list of leaves, so that reading steps by index.
    std::vector<fnode*> seq;
    if (expand(root, seq) && !seq.empty()) {
        fnode* last = root->nxt_lev;
        while (last && last->next) last = last->next;
        std::vector<fnode*> tail;
        if (last && last->nxt_lev && last->nxt_lev->nxt_lev && expand(last, tail))
            d->seq_again = std::int32_t(seq.size() - tail.size());
        d->fmt_seq = new (std::nothrow) fnode*[seq.size()];
        if (d->fmt_seq) {
            std::copy(seq.begin(), seq.end(), d->fmt_seq);
            d->seq_len = std::int32_t(seq.size());
        }
    }
    return 1;
}

// ---- parse123labels -----------------------------------------------------------------------------
int parse123labels(const char* text) {
    fm* f = g_cur;
    if (!f || !f->dd_cur || !text) return 0;
    lnode* tree = nullptr;
    lnode* last_set = nullptr;
    lnode* last = nullptr;
    const char* p = text;
    bool new_set = true;
    for (;;) {
        const char* q = p;
        while (*q && *q != '!' && *q != '*') ++q;
        lnode* l = new (std::nothrow) lnode{};
        if (!l || !(l->label = heap_dup(p, std::size_t(q - p)))) {
            delete l;
            free123labels(tree);
            return 0;
        }
        l->len = std::int32_t(q - p);
        if (new_set) {
            if (last_set) last_set->nxt_lset = l;
            else tree = l;
            last_set = l;
        } else {
            last->nxt_lab = l;
        }
        last = l;
        if (!*q) break;
        new_set = *q == '*';
        p = q + 1;
    }
    ddfield* d = f->dd_cur;
    free123labels(d->labels);
    d->labels = tree;
    delete[] d->lab_text;
    d->lab_text = nullptr;
    d->lab_count = 0;
    // Every label combination in walking order (odometer, last set fastest), when there are few.
    long combos = 1;
    for (const lnode* set = tree; set; set = set->nxt_lset) combos *= count_labels_set(set);
    if (combos > 0 && combos <= 4096) {
        d->lab_text = new (std::nothrow) std::string[std::size_t(combos)];
        if (d->lab_text) {
            d->lab_count = std::int32_t(combos);
            for (long i = 0; i < combos; ++i) {
                long rest = i, div = combos;
                std::string& t = d->lab_text[i];
                for (const lnode* set = tree; set; set = set->nxt_lset) {
                    div /= count_labels_set(set);
                    const lnode* l = set;
                    for (long k = rest / div; k > 0; --k) l = l->nxt_lab;
                    rest %= div;
                    if (set != tree) t += '!';
                    t.append(l->label, std::size_t(l->len));
                }
            }
        }
    }
    return 1;
}

// ---- parse123dims -------------------------------------------------------------------------------
int parse123dims(const char* text) {
    fm* f = g_cur;
    if (!f || !f->dd_cur || !only_digits_commas(text)) return 0;
    std::vector<long> nums;
    for (const char* p = text;;) {
        char* e = nullptr;
        long v = std::strtol(p, &e, 10);
        if (e == p || v < 0 || v > 99999999) return 0;
        nums.push_back(v);
        if (*e == '\0') break;
        p = e + 1;
    }
    if (nums[0] < 2 || long(nums.size()) != nums[0] + 1) return 0;
    dmnode* head = new (std::nothrow) dmnode{0, nullptr};
    if (!head) return 0;
    dmnode* last = head;
    for (std::size_t i = 1; i < nums.size(); ++i) {
        dmnode* d = new (std::nothrow) dmnode{std::int32_t(nums[i]), nullptr};
        if (!d) {
            free123list(head);
            return 0;
        }
        last->nxt = d;
        last = d;
    }
    ddfield* d = f->dd_cur;
    free123list(d->dim_lptr);
    d->dim_lptr = head;
    d->dim_num = std::int32_t(nums[0]);
    d->dim_vals = std::int32_t(nums[1]);
    return 1;
}

// ---- get123fmt ----------------------------------------------------------------------------------
int get123fmt(char* type, char* ext, long* width, char* delim) {
    fm* f = g_cur;
    if (!f || !f->fmt_root_cur) return 0;
    fnode* n = nullptr;
    auto restart = [&]() -> fnode* {
        fnode* root = tree_root(f->fmt_root_cur);
        if (f->fmt_root_cur == root) {
            fnode* last = root->nxt_lev;
            while (last && last->next) last = last->next;
            // A trailing group that opens with a repeated item repeats alone for the rest of the field.
            if (last && last->nxt_lev && last->nxt_lev->nxt_lev) f->fmt_root_cur = last;
        }
        clear_reps(f);
        return descend(f->fmt_root_cur);
    };
    if (!f->fmt_cur) {
        clear_reps(f);
        n = descend(f->fmt_root_cur);
    } else if (f->fmt_cur != f->fmt_root_cur && f->fmt_cur->next && !f->fmt_cur->next->nxt_lev) {
        n = f->fmt_cur->next;  // the next plain item of the same group
    } else {
        n = f->fmt_cur;
        for (int guard = 0; guard < 4 * kMaxDepth; ++guard) {
            if (n != f->fmt_root_cur && n->next) {
                n = descend(n->next);
                break;
            }
            fnode* parent = n == f->fmt_root_cur ? nullptr : n->back;
            if (!parent) {
                n = restart();
                break;
            }
            if (f->rs_hd && --f->rs_hd->rep_num >= 1) {
                n = descend(parent->nxt_lev);
                break;
            }
            long dummy;
            pop123rep(&dummy);
            n = parent;
            if (n == f->fmt_root_cur) {
                n = restart();
                break;
            }
        }
    }
    if (!n || n->nxt_lev) return 0;
    f->fmt_cur = n;
    if (type) *type = n->d_type;
    if (ext) *ext = n->b_type;
    if (width) *width = n->width;
    if (delim) *delim = n->delim;
    return 1;
}

int push123rep(long count) {
    fm* f = g_cur;
    if (!f) return 0;
    repnode* r = take_rep(f);
    if (!r) return 0;
    r->rep_num = std::int32_t(count);
    r->next = f->rs_hd;
    f->rs_hd = r;
    return 1;
}

int pop123rep(long* count) {
    fm* f = g_cur;
    if (!f || !f->rs_hd) return 0;
    repnode* r = f->rs_hd;
    f->rs_hd = r->next;
    if (count) *count = r->rep_num;
    give_rep(f, r);
    return 1;
}

// ---- emitters -----------------------------------------------------------------------------------
int emit123fmt(std::FILE* fp, const fnode* tree) {
    if (!fp || !tree) return 0;
    std::string s;
    fmt_tree_text(tree, s);
    return std::fwrite(s.data(), 1, s.size(), fp) == s.size() ? 1 : 0;
}

namespace {
bool emit_num_group(std::FILE* fp, const fnode* g, bool root) {
    auto put = [&](const char* t) { return std::fputs(t, fp) >= 0; };
    auto leaf = [&](const fnode* n) {
        if (n->d_type == 'L' || n->d_type == 'M') {
            char t[2] = {n->d_type == 'L' ? 'b' : 'B', n->b_type};
            return std::fwrite(t, 1, 2, fp) == 2 && put123num(fp, n->width, 1);
        }
        if (std::fputc(n->d_type, fp) == EOF) return false;
        if (!n->delim && !n->width) return true;
        if (!put("(")) return false;
        if (n->delim && std::fputc(n->delim, fp) == EOF) return false;
        if (n->width && !put123num(fp, n->width, digits_of(n->width))) return false;
        return put(")");
    };
    const fnode* m = g->nxt_lev;
    if (!root && g->rep_no > 1) {
        if (!put123num(fp, g->rep_no, digits_of(g->rep_no))) return false;
        if (m && !m->next && !m->nxt_lev) return leaf(m);
    }
    if (!put("(")) return false;
    for (; m; m = m->next) {
        if (!(m->nxt_lev ? emit_num_group(fp, m, false) : leaf(m))) return false;
        if (m->next && !put(",")) return false;
    }
    return put(")");
}
}  // namespace

int emit123fmtnum(std::FILE* fp, const fnode* tree) {
    if (!fp || !tree) return 0;
    return emit_num_group(fp, tree, true) ? 1 : 0;
}

// ---- free functions -----------------------------------------------------------------------------
fnode* free123fmt(fnode* tree) {
    while (tree) {
        fnode* n = tree->next;
        free123fmt(tree->nxt_lev);
        delete tree;
        tree = n;
    }
    return nullptr;
}

lnode* free123labels(lnode* tree) {
    while (tree) {
        lnode* set = tree->nxt_lset;
        for (lnode* l = tree; l;) {
            lnode* n = l->nxt_lab;
            std::free(l->label);
            delete l;
            l = n;
        }
        tree = set;
    }
    return nullptr;
}

dmnode* free123list(dmnode* list) {
    while (list) {
        dmnode* n = list->nxt;
        delete list;
        list = n;
    }
    return nullptr;
}

repnode* free123list(repnode* list) {
    while (list) {
        repnode* n = list->next;
        delete list;
        list = n;
    }
    return nullptr;
}

vnode* free123values(vnode*) {
    // Values live in the record's arena and go with the record.
    return nullptr;
}
