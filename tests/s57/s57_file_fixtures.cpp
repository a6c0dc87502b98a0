// tests/s57/s57_file_fixtures.cpp: see s57_file_fixtures.h.

#include "s57_file_fixtures.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <cstring>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "iso8211/iso8211.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"
#include "support/test_data.h"

namespace s57test {

int walkRaw(const std::string& path, const std::function<void(const RawSubfield&)>& each) {
    long level = 0;
    char ice = ' ';
    char ccs[4] = "   ";
    std::FILE* fp = nullptr;
    if (!open123file(path.c_str(), 'r', &level, &ice, ccs, &fp) || !fp) return -1;
    if (!find123file(fp) || !read123ddr()) {
        close123file(&fp);
        return -1;
    }
    int records = 0;
    bool ok = false;
    for (;;) {
        RawSubfield sf;
        char lead = ' ';
        int status = 0;
        if (!next123sfld(fp, sf.tag, &lead, sf.value, &sf.length, &status)) {
            ok = status == S_EOF;
            break;
        }
        if (status == S_RECSTART) ++records;
        std::string labels;
        std::string tag;
        if (!desc123sfld(fp, tag, labels, sf.format)) break;
        const auto bang = labels.rfind('!');
        sf.label = bang == std::string::npos ? labels : labels.substr(bang + 1);
        sf.record = records;
        if (each) each(sf);
    }
    close123file(&fp);
    return ok ? records : -1;
}

bool fileBytes(const RawSubfield& sf, std::string& bytes) {
    const std::string& f = sf.format;
    if (f.size() == 3 && (f[0] == 'L' || f[0] == 'M')) {
        const int width = f[2] - '0';
        const long long v = std::stoll(sf.value);
        bytes.clear();
        for (int i = 0; i < width; ++i) bytes += char((static_cast<unsigned long long>(v) >> (8 * i)) & 0xff);
        return true;
    }
    if (!f.empty() && f[0] == 'B') {
        bytes.assign(sf.value.data(), std::size_t(sf.length));
        return true;
    }
    return false;
}

std::vector<std::string> baseCells() {
    std::vector<std::string> out;
    for (const auto& p : testdata::files({".000"}))
        if (p.find("/negative/") == std::string::npos) out.push_back(p);
    return out;
}

std::string num(std::size_t v, int w) {
    std::string s = std::to_string(v);
    if (s.size() > std::size_t(w)) throw std::length_error(s);
    return std::string(std::size_t(w) - s.size(), '0') + s;
}

std::string record(bool ddr, const std::vector<Fld>& fields) {
    // Field lengths take 3 digits unless a field needs more; positions at least 4.
    std::size_t longest = 0, total = 0;
    for (const auto& f : fields) {
        longest = std::max(longest, f.body.size());
        total += f.body.size();
    }
    const int lenDigits = std::max<int>(3, int(std::to_string(longest).size()));
    const int posDigits = std::max<int>(4, int(std::to_string(total).size()));
    std::string dir, area;
    for (const auto& f : fields) {
        dir += f.tag + num(f.body.size(), lenDigits) + num(area.size(), posDigits);
        area += f.body;
    }
    dir += '\x1e';
    const std::size_t base = 24 + dir.size();
    return num(base + area.size(), 5) + (ddr ? "3LE1 09" : " D     ") + num(base, 5) +
           (ddr ? " ! " : "   ") + std::to_string(lenDigits) + std::to_string(posDigits) + "04" + dir + area;
}

std::string smallDdr() {
    return record(true, {
                            {"0000", "0000;&   SMALL CELL\x1f" "0001DSID0001ATTF\x1e"},
                            {"0001", "0500;&   ISO 8211 Record Identifier\x1f\x1f(b12)\x1e"},
                            {"DSID", "1600;&   Data set identification field\x1fRCNM!RCID\x1f(b11,b14)\x1e"},
                            {"ATTF", "2600;&   Feature record attribute field\x1f*ATTL!ATVL\x1f(b12,A)\x1e"},
                        });
}

std::string smallRecord(int rcnm, unsigned rcid, const std::string& atvl) {
    static int counter = 0;
    ++counter;
    std::string id{char(counter & 0xff), char((counter >> 8) & 0xff)};
    std::string dsid{char(rcnm), char(rcid & 0xff), char((rcid >> 8) & 0xff), char((rcid >> 16) & 0xff),
                     char((rcid >> 24) & 0xff)};
    std::string attf{char(75), char(0)};
    attf += atvl + "\x1f";
    return record(false, {{"0001", id + "\x1e"}, {"DSID", dsid + "\x1e"}, {"ATTF", attf + "\x1e"}});
}

std::string writeTemp(const std::string& name, const std::string& bytes) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // One folder a process, gone at its exit: the same test may run in another checkout at once.
    static const struct Folder {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("tarvo_s57_tests." + std::to_string(::getpid()));
        Folder() { std::filesystem::create_directories(path); }
        ~Folder() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    } folder;
    const std::filesystem::path& dir = folder.path;
    std::string stem = info ? std::string(info->test_suite_name()) + "_" + info->name() : "fixture";
    for (auto& c : stem)
        if (c == '/') c = '_';
    const std::string path = (dir / (stem + "_" + name)).string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot write " + path);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
}

}  // namespace s57test

namespace s57test {

bool ddrDescription(const std::string& path, Iso8211FileDesc& file, std::vector<Iso8211FieldDesc>& fields) {
    long level = 0;
    char ice = ' ';
    char ccs[4] = "   ";
    std::FILE* fp = nullptr;
    if (!open123file(path.c_str(), 'r', &level, &ice, ccs, &fp) || !fp) return false;
    bool ok = find123file(fp) && read123ddr();
    fields.clear();
    file = Iso8211FileDesc{};
    if (ok) {
        fm* f = cur_fm();
        for (ddfield* d = f->dd_hd->next; d; d = d->next) {
            if (std::strcmp(d->tag, "0000") == 0) {
                std::snprintf(file.controls, sizeof file.controls, "%s", d->fd_cntrl);
                continue;
            }
            Iso8211FieldDesc desc{};
            std::string labels, format;
            f->dd_cur = d;
            text123labels(labels);
            text123fmt(format);
            std::snprintf(desc.tag, sizeof desc.tag, "%s", d->tag);
            std::snprintf(desc.controls, sizeof desc.controls, "%s", d->fd_cntrl);
            std::snprintf(desc.name, sizeof desc.name, "%s", d->name ? d->name : "");
            std::snprintf(desc.labels, sizeof desc.labels, "%s", labels.c_str());
            std::snprintf(desc.asciiFormat, sizeof desc.asciiFormat, "%s", format.c_str());
            std::snprintf(desc.binaryFormat, sizeof desc.binaryFormat, "%s", format.c_str());
            std::snprintf(desc.format, sizeof desc.format, "%s", format.c_str());
            desc.binary = 1;
            fields.push_back(desc);
        }
        if (f->cr_hd) {
            std::snprintf(file.title, sizeof file.title, "%s", f->cr_hd->f_title ? f->cr_hd->f_title : "");
            std::string pairs;
            for (const tag_pair* p = f->cr_hd->tag_l; p; p = p->next) pairs += std::string(p->tag_1) + p->tag_2;
            std::snprintf(file.tagPairs, sizeof file.tagPairs, "%s", pairs.c_str());
        }
        f->dd_cur = f->dd_hd;
    }
    close123file(&fp);
    return ok;
}

}  // namespace s57test
