// iso8211/open.cpp: the open-file list and its current file: opening, selecting, closing, the
// end-of-file test and truncation of a written file. Shared helpers of the library live here too.
// Failures return 0; open fails silently, the others say why on stderr.

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "iso8211/internal.h"

namespace iso8211 {

fm* g_head = nullptr;
fm* g_cur = nullptr;
static bool g_init = false;

// ---- Arena --------------------------------------------------------------------------------------
void* Arena::grow(std::size_t n) {
    while (block_ < blocks_.size()) {
        Block& b = blocks_[block_];
        if (b.size - used_ >= n) {
            void* p = b.mem.get() + used_;
            used_ += n;
            return p;
        }
        ++block_;
        used_ = 0;
    }
    std::size_t size = n > 65536 ? n : 65536;
    blocks_.push_back({std::unique_ptr<char[]>(new (std::nothrow) char[size]), size});
    if (!blocks_.back().mem) {
        blocks_.pop_back();
        return nullptr;
    }
    block_ = blocks_.size() - 1;
    used_ = n;
    return blocks_.back().mem.get();
}

char* Arena::dup(const char* p, std::size_t n) {
    char* d = static_cast<char*>(take(n + 1));
    if (!d) return nullptr;
    if (n) std::memcpy(d, p, n);
    d[n] = '\0';
    return d;
}

void Arena::reset() {
    // Keep a few ordinary blocks for the next record, drop the oversized ones and those only a
    // record of many thousand values needed: their memory serves the rest of the program instead.
    constexpr std::size_t kKeptBlocks = 4;
    block_ = 0;
    used_ = 0;
    if (blocks_.size() <= 1 && (blocks_.empty() || blocks_[0].size == 65536)) return;  // the usual record
    std::size_t keep = 0;
    for (std::size_t i = 0; i < blocks_.size() && keep < kKeptBlocks; ++i)
        if (blocks_[i].size == 65536) blocks_[keep++] = std::move(blocks_[i]);
    blocks_.resize(keep);
}

// ---- helpers ------------------------------------------------------------------------------------
void set_text_longer(std::string& out, const char* p, std::size_t n) {
    const std::size_t have = out.size();
    if (n <= out.capacity()) {
        copy_short(out.data(), p, have);
        out.append(p + have, n - have);
        return;
    }
    out.assign(p, n);
}

int digits_of(long v) {
    int d = 1;
    while (v >= 10) {
        v /= 10;
        ++d;
    }
    return d;
}

char* heap_dup(const char* s) { return s ? heap_dup(s, std::strlen(s)) : nullptr; }

char* heap_dup(const char* s, std::size_t n) {
    if (!s) return nullptr;
    char* d = static_cast<char*>(std::malloc(n + 1));
    if (!d) return nullptr;
    std::memcpy(d, s, n);
    d[n] = '\0';
    return d;
}

vnode* new_vnode(fm* f) {
    vnode* v = static_cast<vnode*>(f->priv->arena.take(sizeof(vnode)));
    if (v) *v = vnode{nullptr, 0, nullptr, nullptr, nullptr};
    return v;
}

char* keep_value(fm* f, const char* p, std::size_t n) { return f->priv->arena.dup(p, n); }

void free_ddfield(ddfield* d) {
    if (!d) return;
    std::free(d->name);
    free123list(d->dim_lptr);
    free123labels(d->labels);
    free123fmt(d->fmt_rt);
    delete[] d->lab_text;
    delete[] d->fmt_seq;
    delete d;
}

void free_ddfields(fm* f) {
    if (!f->dd_hd) return;
    ddfield* d = f->dd_hd->next;
    while (d) {
        ddfield* n = d->next;
        free_ddfield(d);
        d = n;
    }
    f->dd_hd->next = nullptr;
    f->dd_cur = f->dd_hd;
}

void free_filectl(filectl* c) {
    if (!c) return;
    std::free(c->f_title);
    std::free(c->u_afd);
    for (tag_pair* p = c->tag_l; p;) {
        tag_pair* n = p->next;
        delete p;
        p = n;
    }
    delete c;
}

drfield* new_drfield(fm* f) {
    drfield* d = f->priv->free_dr;
    if (!d) return new (std::nothrow) drfield{};
    f->priv->free_dr = d->next;
    *d = drfield{};
    return d;
}

void free_drfields(fm* f) {
    for (drfield* d = f->dr_hd; d;) {
        drfield* n = d->next;
        free123list(d->dim_lptr);
        d->dim_lptr = nullptr;
        d->next = f->priv->free_dr;
        f->priv->free_dr = d;
        d = n;
    }
    f->dr_hd = nullptr;
    f->dr_cur = nullptr;
    f->dv_cur = nullptr;
    f->vset_cur = nullptr;
    f->dim_cur = nullptr;
    f->priv->arena.reset();
}

void clear_drvalues(fm* f) {
    for (drfield* d = f->dr_hd; d; d = d->next) {
        d->values = nullptr;
        d->dim_lptr = free123list(d->dim_lptr);
        d->num_dim = 0;
    }
    f->dv_cur = nullptr;
    f->vset_cur = nullptr;
    f->dim_cur = nullptr;
    f->bit_cnt = 0;
    f->priv->arena.reset();
}

rp* new_rp(fm* f, std::int32_t start) {
    fm_priv* pv = f->priv;
    rp* r = pv->free_rp;
    if (r) {
        pv->free_rp = r->next;
    } else {
        constexpr std::size_t kBlock = 1024;
        if (pv->rp_blocks.empty() || pv->rp_used == kBlock) {
            std::unique_ptr<rp[]> b(new (std::nothrow) rp[kBlock]);
            if (!b) return nullptr;
            try {
                pv->rp_blocks.push_back(std::move(b));
            } catch (const std::bad_alloc&) {
                return nullptr;
            }
            pv->rp_used = 0;
        }
        r = &pv->rp_blocks.back()[pv->rp_used++];
    }
    *r = rp{start, nullptr, nullptr};
    return r;
}

void free_rp(fm* f, rp* r) {
    r->next = f->priv->free_rp;
    r->back = nullptr;
    f->priv->free_rp = r;
}

void free_rplist(fm* f) {
    if (!f->rec_loc_hd) return;
    for (rp* r = f->rec_loc_hd->next; r;) {
        rp* n = r->next;
        free_rp(f, r);
        r = n;
    }
    f->rec_loc_hd->next = nullptr;
    f->rec_loc_cur = f->rec_loc_hd;
    f->nld_loc = nullptr;
}

}  // namespace iso8211

using namespace iso8211;

fm* cur_fm() { return g_cur; }

// ---- open123file --------------------------------------------------------------------------------
int open123file(const char* name, char mode, long* level, char* ice, char* ccs, std::FILE** fp) {
    if (!name || !level || !ice || !ccs || !fp) return 0;
    if (!g_init) {
        g_head = nullptr;
        g_cur = nullptr;
        g_init = true;
    }
    const bool reading = mode == 'r' || mode == 'R';
    const bool writing = mode == 'w' || mode == 'W';
    if (!reading && !writing) return 0;

    std::FILE* f = std::fopen(name, reading ? "rb" : "wb+");
    if (!f) return 0;
    std::setvbuf(f, nullptr, _IOFBF, 1 << 16);
    auto fail = [&]() {
        std::fclose(f);
        return 0;
    };
    if (reading) {
        char lead[20];
        if (std::fread(lead, 1, sizeof lead, f) != sizeof lead) return fail();
        if (lead[5] < '1' || lead[5] > '3') return fail();
        *level = lead[5] - '0';
        *ice = lead[7];
        std::memcpy(ccs, lead + 17, 3);
        std::rewind(f);
    }

    if (!g_head) {
        g_head = new (std::nothrow) fm{};
        if (!g_head) return fail();
        g_head->f_name = heap_dup("");
    }
    fm* n = new (std::nothrow) fm{};
    if (!n) return fail();
    n->priv = new (std::nothrow) fm_priv{};
    n->f_name = heap_dup(name);
    n->cr_hd = new (std::nothrow) filectl{};
    n->dd_hd = new (std::nothrow) ddfield{};
    n->rec_loc_hd = new (std::nothrow) rp{0, nullptr, nullptr};
    if (writing) n->dl_hd = new (std::nothrow) ddleader{};
    if (!n->priv || !n->f_name || !n->cr_hd || !n->dd_hd || !n->rec_loc_hd ||
        (writing && !n->dl_hd)) {
        delete n->priv;
        std::free(n->f_name);
        delete n->cr_hd;
        delete n->dd_hd;
        delete n->rec_loc_hd;
        delete n->dl_hd;
        delete n;
        return fail();
    }
    n->fp = f;
    if (reading) {
        struct stat st;
        if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode)) n->priv->file_size = long(st.st_size);
    }
    n->open_mode = reading ? 'r' : 'w';
    n->dd_cur = n->dd_hd;
    n->rec_loc_cur = n->rec_loc_hd;
    n->sf_state_dr = 4;
    if (writing) {
        ddleader* l = n->dl_hd;
        l->ilevel = std::int32_t(*level);
        l->lead_id = 'L';
        l->ice_ind = *ice;
        l->resv_sp = '1';
        l->appl_ind = ' ';
        std::memcpy(l->ccs_ind, ccs, 3);
        l->ccs_ind[3] = '\0';
        l->s_tag = 0;
    }
    n->next = g_head->next;
    n->back = g_head;
    if (g_head->next) g_head->next->back = n;
    g_head->next = n;
    g_cur = g_head;
    *fp = f;
    return 1;
}

// ---- find123file --------------------------------------------------------------------------------
int find123file(std::FILE* fp) {
    if (!fp) return 0;
    if (g_cur && g_cur->fp == fp) return 1;
    for (fm* f = g_head ? g_head->next : nullptr; f; f = f->next) {
        if (f->fp == fp) {
            g_cur = f;
            return 1;
        }
    }
    return 0;
}

// ---- close123file -------------------------------------------------------------------------------
int close123file(std::FILE** fp) {
    if (!fp || !find123file(*fp)) return 0;
    fm* f = g_cur;
    int ok = flush123rec(f->fp);
    if (f->open_mode == 'w') {
        long pos = std::ftell(f->fp);
        if (pos < 0 || !trunc123file(&f->fp, pos)) ok = 0;
    }
    free_ddfields(f);
    if (std::fclose(f->fp) != 0) ok = 0;
    *fp = nullptr;

    f->back->next = f->next;
    if (f->next) f->next->back = f->back;
    free_drfields(f);
    free_rplist(f);
    delete f->rec_loc_hd;
    std::free(f->f_name);
    free_filectl(f->cr_hd);
    delete f->dl_hd;
    delete f->rl_hd;
    delete f->priv->spare_rl;
    delete f->dd_hd;
    free123lp();  // needs g_cur == f
    clear_reps(f);
    for (repnode* r = f->priv->free_reps; r;) {
        repnode* n = r->next;
        delete r;
        r = n;
    }
    for (drfield* d = f->priv->free_dr; d;) {
        drfield* n = d->next;
        delete d;
        d = n;
    }
    delete f->priv;
    delete f;
    g_cur = nullptr;
    if (g_head && !g_head->next) {
        std::free(g_head->f_name);
        delete g_head;
        g_head = nullptr;
    }
    return ok;
}

// ---- test123eof ---------------------------------------------------------------------------------
int test123eof(std::FILE* fp, int* status) {
    if (!status || !find123file(fp)) return 0;
    if (g_cur->open_mode == 'w') return 1;
    int c = std::fgetc(fp);
    if (c == EOF || c == 0x1a || c == '^' || std::feof(fp)) *status = S_EOF;
    if (c == EOF || std::feof(fp)) return 1;
    return std::ungetc(c, fp) == c ? 1 : 0;
}

// ---- trunc123file -------------------------------------------------------------------------------
int trunc123file(std::FILE** fp, long length) {
    if (!fp || !*fp || length < 0) return 0;
    if (std::fflush(*fp) != 0) {
        std::fprintf(stderr, "\n fflush() Stream error is %d ", std::ferror(*fp));
        return 0;
    }
    // In place: copying and renaming could lose the file when a step fails half-way.
    if (::ftruncate(fileno(*fp), off_t(length)) != 0) {
        std::fprintf(stderr, "trunc123file: unable to truncate to %ld bytes: %s\n", length,
                     std::strerror(errno));
        return 0;
    }
    return std::fseek(*fp, length, SEEK_SET) == 0 ? 1 : 0;
}
