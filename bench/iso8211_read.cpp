// bench/iso8211_read.cpp: reading speed of the ISO 8211 library: every record and every subfield
// (value and description) of each NOAA cell, best of several runs, in MB/s and records/s. Two ways:
// the subfield walk (next123sfld and desc123sfld, a copy of each text into the caller's strings),
// and whole records (ld123rec, then each value with its label and format read in place from the
// record's field and value lists, as the converter's record layer packs a loaded record).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "iso8211/iso8211.h"

namespace {

struct Count {
    long records = 0, subfields = 0;
    bool ok = true;
    unsigned long sum = 0;  // of what was read, so that nothing read can be left out
};

// What read(fp, c) counts of the cell, opened with its DDR read and closed after; not ok when it
// cannot be opened.
template <typename Read>
Count onCell(const std::string& path, Read read) {
    Count c;
    std::FILE* fp = nullptr;
    long level = 0;
    char ice = ' ', ccs[4] = {0, 0, 0, 0};
    if (open123file(path.c_str(), 'r', &level, &ice, ccs, &fp) && find123file(fp) && read123ddr()) read(fp, c);
    else c.ok = false;
    if (fp) close123file(&fp);
    return c;
}

void readCell(std::FILE* fp, Count& c) {
    std::string tag, value, label, format;
    char lid = ' ';
    long len = 0;
    int st = 0;
    while (next123sfld(fp, tag, &lid, value, &len, &st)) {
        if (!desc123sfld(fp, tag, label, format)) c.ok = false;
        ++c.subfields;
        if (st == 2) ++c.records;
    }
    if (st != 4) c.ok = false;
}

// Every value of every record in place: the value's bytes, the label of its position in the
// repetition and its format item's description. A field without values counts as the one empty
// subfield the walk gives for it.
void readCellWhole(std::FILE* fp, Count& c) {
    while (ld123rec()) {
        ++c.records;
        const fm* f = cur_fm();
        for (const drfield* r = f->dr_hd->next; r; r = r->next) {
            const ddfield* d = r->desc;
            if (!d || (r->num_dim > 0 && d->dim_num == 0)) {
                c.ok = false;  // not in these cells: the walk gives the dimensions as subfields first
                continue;
            }
            if (!r->values || !r->values->nxt_vset) {
                ++c.subfields;
                continue;
            }
            const bool labelled = d->lab_count > 0 && d->lab_text;
            long pos = -1;
            for (const vnode* set = r->values->nxt_vset; set; set = set->nxt_vset) {
                for (const vnode* v = set; v; v = v->nxt_vptr) {
                    if (labelled) pos = pos + 1 < d->lab_count ? pos + 1 : 0;
                    const std::string_view value(v->value ? v->value : "", v->value ? std::size_t(v->length) : 0);
                    const std::string_view label = labelled ? std::string_view(d->lab_text[pos]) : std::string_view();
                    const std::string_view format =
                        v->fmt ? std::string_view(v->fmt->desc, std::size_t(v->fmt->desc_len)) : std::string_view();
                    c.sum += value.size() + (value.empty() ? 0 : static_cast<unsigned char>(value.back())) +
                             label.size() + format.size();
                    ++c.subfields;
                }
            }
        }
    }
    int st = 0;
    if (!test123eof(fp, &st) || st != S_EOF) c.ok = false;
}

struct Best {
    double seconds = 1e30;
    Count total;
};

template <typename Read>
bool timeRuns(const std::vector<std::string>& cells, int runs, Read read, Best& best) {
    for (int r = 0; r < runs; ++r) {
        Count t;
        auto t0 = std::chrono::steady_clock::now();
        for (const auto& c : cells) {
            Count one = onCell(c, read);
            if (!one.ok) {
                std::fprintf(stderr, "bench_iso8211_read: %s did not read to its end\n", c.c_str());
                return false;
            }
            t.records += one.records;
            t.subfields += one.subfields;
            t.sum += one.sum;
        }
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (s < best.seconds) best.seconds = s;
        best.total = t;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> cells;
    const std::filesystem::path enc = std::filesystem::path(TARVO_BENCH_DATA) / "enc";
    if (std::filesystem::is_directory(enc))
        for (const auto& e : std::filesystem::recursive_directory_iterator(enc)) {
            const std::string ext = e.path().extension().string();
            if (e.is_regular_file() && (ext == ".000" || ext == ".001" || ext == ".002"))
                cells.push_back(e.path().string());
        }
    if (cells.empty()) {
        std::fprintf(stderr, "bench_iso8211_read: no NOAA cells under %s\n", enc.string().c_str());
        return 1;
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    double bytes = 0;
    for (const auto& c : cells) bytes += double(std::filesystem::file_size(c));
    Best walk, whole;
    if (!timeRuns(cells, runs, readCell, walk) || !timeRuns(cells, runs, readCellWhole, whole)) return 1;
    if (walk.total.records != whole.total.records || walk.total.subfields != whole.total.subfields) {
        std::fprintf(stderr, "bench_iso8211_read: the two ways read %ld/%ld and %ld/%ld records/subfields\n",
                     walk.total.records, walk.total.subfields, whole.total.records, whole.total.subfields);
        return 1;
    }
    std::printf("files %zu, %.2f MB, %ld records, %ld subfields\n", cells.size(), bytes / 1e6,
                walk.total.records, walk.total.subfields);
    const auto line = [&](const char* name, const Best& b) {
        std::printf("%-14s best of %d: %.1f ms, %.1f MB/s, %.0f records/s, %.0f subfields/s\n", name, runs,
                    b.seconds * 1e3, bytes / 1e6 / b.seconds, double(b.total.records) / b.seconds,
                    double(b.total.subfields) / b.seconds);
    };
    line("subfield walk", walk);
    line("whole records", whole);
    return 0;
}
