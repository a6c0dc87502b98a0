// tools/tarvo/dump.cpp: `tarvo dump` (see dump.h). Without options: the DDR leader and every field
// description, then each data record's leader and fields with their subfields as label=value
// (binary values as the library decodes them, other bytes as \xNN). With --summary: the record
// count and, per field tag in tag order, the number of records holding it. --s57 hands over to the
// record layer's dump. The library's own diagnostics are gathered into the one closing message.

#include "tools/tarvo/dump.h"

#include <cstring>
#include <map>
#include <string>

#include <unistd.h>

#include "iso8211/iso8211.h"
#include "tools/tarvo/dump_s57.h"

namespace {

void usage(std::FILE* err) { std::fprintf(err, "usage: tarvo dump [--summary | --s57] FILE\n"); }

// Standard error into a temporary file while the library works; text() gives what it wrote.
class CaptureStderr {
public:
    CaptureStderr() {
        std::fflush(stderr);
        tmp_ = std::tmpfile();
        saved_ = ::dup(STDERR_FILENO);
        if (tmp_ && saved_ >= 0) active_ = ::dup2(fileno(tmp_), STDERR_FILENO) >= 0;
    }
    ~CaptureStderr() {
        restore();
        if (tmp_) std::fclose(tmp_);
    }
    CaptureStderr(const CaptureStderr&) = delete;
    CaptureStderr& operator=(const CaptureStderr&) = delete;
    void restore() {
        std::fflush(stderr);
        if (active_) ::dup2(saved_, STDERR_FILENO);
        if (saved_ >= 0) ::close(saved_);
        saved_ = -1;
        active_ = false;
    }
    // Captured lines joined with "; ".
    std::string text() {
        std::string all, out;
        if (!tmp_) return out;
        std::fflush(tmp_);
        std::rewind(tmp_);
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, tmp_)) > 0) all.append(buf, n);
        std::size_t at = 0;
        while (at < all.size()) {
            std::size_t e = all.find('\n', at);
            std::string line = all.substr(at, e == std::string::npos ? std::string::npos : e - at);
            at = e == std::string::npos ? all.size() : e + 1;
            while (!line.empty() && line.front() == ' ') line.erase(0, 1);
            while (!line.empty() && line.back() == ' ') line.pop_back();
            if (line.empty()) continue;
            if (!out.empty()) out += "; ";
            out += line;
        }
        return out;
    }

private:
    std::FILE* tmp_ = nullptr;
    int saved_ = -1;
    bool active_ = false;
};

// A value as one token: printable ASCII as is, other bytes as \xNN; quoted when empty or when it
// holds blanks or quotes.
std::string token(const std::string& v) {
    std::string s;
    bool quote = v.empty();
    for (unsigned char c : v) {
        if (c == ' ' || c == '"') quote = true;
        if (c == '"' || c == '\\') {
            s += '\\';
            s += char(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02x", c);
            s += b;
        } else {
            s += char(c);
        }
    }
    return quote ? '"' + s + '"' : s;
}

std::string lastLabel(const std::string& l) {
    const std::size_t bang = l.rfind('!');
    return bang == std::string::npos ? l : l.substr(bang + 1);
}

void printDdr(std::FILE* out) {
    fm* f = cur_fm();
    std::string lead;
    text123ddlead(lead);
    std::fprintf(out, "leader %s\n", token(lead).c_str());
    ddfield* keep = f->dd_cur;
    for (ddfield* d = f->dd_hd->next; d; d = d->next) {
        f->dd_cur = d;
        std::string labels, format;
        if (d->dim_num > 0) text123dims(labels);
        else text123labels(labels);
        text123fmt(format);
        std::string line = std::string("field ") + d->tag + " controls=" + token(d->fd_cntrl);
        if (std::strcmp(d->tag, "0000") == 0) {
            std::string pairs;
            for (const tag_pair* p = f->cr_hd ? f->cr_hd->tag_l : nullptr; p; p = p->next)
                pairs += std::string(pairs.empty() ? "" : ",") + p->tag_1 + "-" + p->tag_2;
            line += " title=" + token(f->cr_hd && f->cr_hd->f_title ? f->cr_hd->f_title : "");
            line += " pairs=" + token(pairs);
        } else {
            line += " name=" + token(d->name ? d->name : "") + " labels=" + token(labels) +
                    " format=" + token(format);
        }
        std::fprintf(out, "%s\n", line.c_str());
    }
    f->dd_cur = keep;
}

}  // namespace

int runDump(int argc, char** argv, std::FILE* out, std::FILE* err) {
    bool summary = false, s57 = false;
    const char* path = nullptr;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (options && a == "--") options = false;
        else if (options && a == "--summary") summary = true;
        else if (options && a == "--s57") s57 = true;
        else if (options && !a.empty() && a[0] == '-') {
            std::fprintf(err, "tarvo dump: unknown option %s\n", a.c_str());
            usage(err);
            return 2;
        } else if (path) {
            usage(err);
            return 2;
        } else {
            path = argv[i];
        }
    }
    if (!path || (summary && s57)) {
        usage(err);
        return 2;
    }
    if (s57) return dumpS57(path, out, err);

    auto fail = [&](const std::string& problem) {
        std::fprintf(err, "tarvo dump: %s: %s\n", path, problem.c_str());
        return 1;
    };
    if (std::FILE* probe = std::fopen(path, "rb")) {
        std::fclose(probe);
    } else {
        return fail(std::string("cannot open: ") + std::strerror(errno));
    }

    CaptureStderr cap;
    std::FILE* fp = nullptr;
    long level = 0;
    char ice = ' ', ccs[4] = {0, 0, 0, 0};
    if (!open123file(path, 'r', &level, &ice, ccs, &fp)) {
        cap.restore();
        return fail("not an ISO 8211 file (no leader with interchange level 1, 2 or 3)");
    }
    struct Closer {
        std::FILE*& fp;
        ~Closer() {
            if (fp) close123file(&fp);
        }
    } closer{fp};
    if (!find123file(fp) || !read123ddr()) {
        std::string why = cap.text();
        cap.restore();
        return fail("bad data descriptive record" + (why.empty() ? "" : ": " + why));
    }
    if (!summary) printDdr(out);

    std::map<std::string, long> holding;  // tag -> records holding it
    std::map<std::string, long> inThis;
    long records = 0;
    const rp* rec = nullptr;
    const drfield* field = nullptr;
    std::string line, tag, value, label, format, firstLabel;
    char lid = ' ';
    long len = 0;
    int st = 0;
    auto endRecord = [&]() {
        for (const auto& kv : inThis) ++holding[kv.first];
        inThis.clear();
    };
    auto flushLine = [&]() {
        if (!line.empty()) std::fprintf(out, "%s\n", line.c_str());
        line.clear();
    };
    while (next123sfld(fp, tag, &lid, value, &len, &st)) {
        if (cur_fm()->rec_loc_cur != rec) {
            endRecord();
            rec = cur_fm()->rec_loc_cur;
            field = nullptr;
            ++records;
            if (!summary) {
                flushLine();
                std::string lead;
                text123drlead(lead);
                std::fprintf(out, "record %ld leader %s\n", records, token(lead).c_str());
            }
        }
        const bool newField = cur_fm()->dr_cur != field;
        field = cur_fm()->dr_cur;
        inThis[tag] = 1;
        if (summary) continue;
        desc123sfld(fp, tag, label, format);
        const std::string l = lastLabel(label);
        if (newField) {
            flushLine();
            line = "  " + tag;
            firstLabel = l;
        } else if (l == firstLabel && !l.empty()) {
            flushLine();  // each repetition of a field on a line of its own
            line = std::string(2 + tag.size(), ' ');
        }
        line += ' ';
        if (!l.empty()) line += l + '=';
        line += token(value);
    }
    flushLine();
    endRecord();
    const std::string why = cap.text();
    cap.restore();
    if (st != S_EOF)
        return fail("record " + std::to_string(records + 1) + " cannot be read" +
                    (why.empty() ? "" : ": " + why));
    if (!why.empty()) std::fprintf(err, "tarvo dump: %s: %s\n", path, why.c_str());
    if (summary) {
        std::fprintf(out, "records %ld\n", records);
        for (const auto& kv : holding) std::fprintf(out, "field %s %ld\n", kv.first.c_str(), kv.second);
    }
    return 0;
}
