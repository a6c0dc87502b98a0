// tests/iso8211/support.cpp: builders of ISO 8211 bytes and whole-file readers and writers over the
// library, shared by the library's tests.
#include "support.h"

#include <cstdint>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

#include <gtest/gtest.h>

#include "iso8211/iso8211.h"

namespace t8211 {

std::string num(std::size_t v, int w) {
    std::string s = std::to_string(v);
    if (s.size() > std::size_t(w)) throw std::length_error(s);
    return std::string(std::size_t(w) - s.size(), '0') + s;
}

std::string record(bool ddr, const std::vector<Fld>& fields, int lenDigits, int posDigits) {
    std::string dir, area;
    for (const auto& f : fields) {
        dir += f.tag + num(f.body.size(), lenDigits) + num(area.size(), posDigits);
        area += f.body;
    }
    dir += '\x1e';
    const std::size_t base = 24 + dir.size();
    const std::size_t total = base + area.size();
    return (total > 99999 ? std::string("00000") : num(total, 5)) + (ddr ? "3LE1 09" : " D     ") + num(base, 5) +
           (ddr ? " ! " : "   ") + std::to_string(lenDigits) + std::to_string(posDigits) + "04" + dir +
           area;
}

std::string desc(const std::string& controls, const std::string& name, const std::string& labels,
                 const std::string& format) {
    return controls + name + "\x1f" + labels + "\x1f" + format + "\x1e";
}

std::string ddr(const std::vector<Fld>& more) {
    std::vector<Fld> f = {{"0000", "0000;&   \x1f\x1e"},
                          {"0001", desc("0500;&   ", "Record Identifier", "", "(b12)")}};
    f.insert(f.end(), more.begin(), more.end());
    return record(true, f);
}

std::string tempPath(const std::string& stem) {
    static int n = 0;
    return ::testing::TempDir() + "iso8211_" + std::to_string(getpid()) + "_" + std::to_string(++n) + "_" +
           stem;
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream o(path, std::ios::binary | std::ios::trunc);
    o.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string readFile(const std::string& path) {
    std::ifstream i(path, std::ios::binary);
    std::ostringstream s;
    s << i.rdbuf();
    return s.str();
}

FileRead readAll(const std::string& path) {
    FileRead r;
    std::FILE* fp = nullptr;
    char ccs[4] = {0, 0, 0, 0};
    if (!open123file(path.c_str(), 'r', &r.level, &r.ice, ccs, &fp)) return r;
    r.opened = true;
    r.ccs.assign(ccs, 3);
    if (!find123file(fp) || !read123ddr()) {
        close123file(&fp);
        return r;
    }
    r.ddrOk = true;
    fm* f = cur_fm();
    for (ddfield* d = f->dd_hd->next; d; d = d->next) {
        f->dd_cur = d;
        std::string t;
        text123ddfld(t);
        r.ddrTexts.push_back(t);
        r.ddrTags.push_back(d->tag);
    }
    f->dd_cur = f->dd_hd;
    const rp* lastRec = nullptr;
    const drfield* lastField = nullptr;
    for (;;) {
        std::string tag, value, label, format;
        char lid = ' ';
        long len = 0;
        int st = 0;
        if (!next123sfld(fp, tag, &lid, value, &len, &st)) {
            r.toEnd = st == 4;
            break;
        }
        if (cur_fm()->rec_loc_cur != lastRec) {
            lastRec = cur_fm()->rec_loc_cur;
            lastField = nullptr;
            r.recs.emplace_back();
            r.recs.back().leadid = lid;
        }
        Rec& rec = r.recs.back();
        if (cur_fm()->dr_cur != lastField) {
            lastField = cur_fm()->dr_cur;
            rec.fields.push_back({tag, {}});
        }
        desc123sfld(fp, tag, label, format);
        rec.fields.back().subs.push_back({label, format, value});
    }
    close123file(&fp);
    return r;
}

Reader::Reader(const std::string& path) {
    long level = 0;
    char ice = ' ', ccs[4] = {0, 0, 0, 0};
    opened = open123file(path.c_str(), 'r', &level, &ice, ccs, &fp) == 1;
    ddrOk = opened && find123file(fp) && read123ddr();
}

Reader::~Reader() {
    if (fp) close123file(&fp);
}

TempFile::TempFile(const std::string& bytes, const std::string& stem) : path(tempPath(stem)) {
    writeFile(path, bytes);
}

TempFile::~TempFile() { std::remove(path.c_str()); }

std::string toBytes(const Sub& s) {
    const std::string& f = s.format;
    if (f.size() == 3 && (f[0] == 'L' || f[0] == 'M')) {
        const int w = f[2] - '0';
        long long v = std::stoll(s.value);
        std::string b(std::size_t(w), '\0');
        for (int i = 0; i < w; ++i) b[std::size_t(i)] = char((static_cast<unsigned long long>(v) >> (8 * i)) & 0xff);
        return b;
    }
    return s.value;
}

int writeAll(const std::string& dst, const FileRead& src) {
    std::FILE* fp = nullptr;
    long level = src.level;
    char ice = src.ice;
    char ccs[4];
    std::snprintf(ccs, sizeof ccs, "%s", src.ccs.c_str());
    if (!open123file(dst.c_str(), 'w', &level, &ice, ccs, &fp)) return 0;
    int ok = find123file(fp) && start123ddr(fp);
    for (std::size_t i = 0; ok && i < src.ddrTexts.size(); ++i)
        ok = wr123ddfld(fp, src.ddrTags[i].c_str(), src.ddrTexts[i].c_str(), i == 0 ? 2 : 6);
    ok = ok && finish123ddr(fp);
    for (const Rec& r : src.recs) {
        for (std::size_t i = 0; ok && i < r.fields.size(); ++i) {
            const Field& fl = r.fields[i];
            for (std::size_t j = 0; ok && j < fl.subs.size(); ++j) {
                int opt = j == 0 ? (i == 0 ? 2 : 6) : 1;
                if (j > 0 && j + 1 == fl.subs.size()) opt = i + 1 == r.fields.size() ? 3 : 5;
                const std::string b = toBytes(fl.subs[j]);
                ok = put123sfld(fp, fl.tag.c_str(), r.leadid, b.data(), long(b.size()), opt);
            }
        }
    }
    if (!close123file(&fp)) ok = 0;
    return ok;
}

std::string le16(unsigned v) { return {char(v & 0xff), char((v >> 8) & 0xff)}; }

std::string le32(unsigned long v) {
    return {char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff), char((v >> 24) & 0xff)};
}

std::vector<Step> walk(std::FILE* fp, int* lastStatus) {
    std::vector<Step> out;
    std::string tag, value, label, format;
    char lid = ' ';
    long len = 0;
    int st = 0;
    while (next123sfld(fp, tag, &lid, value, &len, &st)) {
        desc123sfld(fp, tag, label, format);
        out.push_back({tag, label, value, st});
        if (out.size() > 1000000) break;
    }
    if (lastStatus) *lastStatus = st;
    return out;
}

}  // namespace t8211
