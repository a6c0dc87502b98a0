// tests/s57/s57_file_fixtures.cpp: see s57_file_fixtures.h.

#include "s57_file_fixtures.h"

#include <filesystem>
#include <stdexcept>

#include <gtest/gtest.h>

#include "iso8211/iso8211.h"
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
    std::string dir, area;
    for (const auto& f : fields) {
        dir += f.tag + num(f.body.size(), 3) + num(area.size(), 4);
        area += f.body;
    }
    dir += '\x1e';
    const std::size_t base = 24 + dir.size();
    return num(base + area.size(), 5) + (ddr ? "3LE1 09" : " D     ") + num(base, 5) +
           (ddr ? " ! " : "   ") + "3404" + dir + area;
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
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "tarvo_s57_tests";
    std::filesystem::create_directories(dir);
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

CapturedLog::CapturedLog() : saved_(logFile) {
    mem_ = open_memstream(&buf_, &size_);
    logFile = mem_;
}

CapturedLog::~CapturedLog() {
    logFile = saved_;
    if (mem_) std::fclose(mem_);
    std::free(buf_);
}

std::string CapturedLog::text() {
    if (!mem_) return {};
    std::fflush(mem_);
    return std::string(buf_, size_);
}

}  // namespace s57test
