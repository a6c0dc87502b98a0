// bench/iso8211_read.cpp: reading speed of the ISO 8211 library: every record and every subfield
// (value and description) of each NOAA cell, best of several runs, in MB/s and records/s.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "iso8211/iso8211.h"

namespace {

struct Count {
    long records = 0, subfields = 0;
    bool ok = true;
};

Count readCell(const std::string& path) {
    Count c;
    std::FILE* fp = nullptr;
    long level = 0;
    char ice = ' ', ccs[4] = {0, 0, 0, 0};
    if (!open123file(path.c_str(), 'r', &level, &ice, ccs, &fp) || !find123file(fp) || !read123ddr()) {
        c.ok = false;
        if (fp) close123file(&fp);
        return c;
    }
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
    close123file(&fp);
    return c;
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
    double best = 1e30;
    Count total;
    for (int r = 0; r < runs; ++r) {
        Count t;
        auto t0 = std::chrono::steady_clock::now();
        for (const auto& c : cells) {
            Count one = readCell(c);
            if (!one.ok) {
                std::fprintf(stderr, "bench_iso8211_read: %s did not read to its end\n", c.c_str());
                return 1;
            }
            t.records += one.records;
            t.subfields += one.subfields;
        }
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (s < best) best = s;
        total = t;
    }
    std::printf("files %zu, %.2f MB, %ld records, %ld subfields\n", cells.size(), bytes / 1e6,
                total.records, total.subfields);
    std::printf("best of %d: %.1f ms, %.1f MB/s, %.0f records/s, %.0f subfields/s\n", runs,
                best * 1e3, bytes / 1e6 / best, double(total.records) / best,
                double(total.subfields) / best);
    return 0;
}
