// platform/com/registry.cpp: the registry tree, its text file and the atomic save.
// File format, one line each:
//   [HKEY_CLASSES_ROOT\CLSID\{...}]     a key (every key has its line, so empty keys survive)
//   @="text"                            its default value
//   "name"="text"                       a named value
// Values are quoted with \\, \" and \n escaped; blank lines and lines starting with ';' are skipped.
// Errors throw RegistryError with the file's path or line.
#include "platform/com/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

namespace reg {

namespace {

constexpr char kHeader[] = "; registry of Tarvo components\n";

std::string lower(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string sysError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// A file descriptor with one owner.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

void quote(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    out += '"';
}

void formatKey(std::string& out, const std::string& path, const Key& key) {
    out += '[';
    out += path;
    out += "]\n";
    if (key.defaultValue()) {
        out += '@';
        out += '=';
        quote(out, *key.defaultValue());
        out += '\n';
    }
    for (const auto& [name, text] : key.values()) {
        quote(out, name);
        out += '=';
        quote(out, text);
        out += '\n';
    }
    for (const auto& [name, sub] : key.subkeys()) formatKey(out, path + '\\' + name, sub);
}

[[noreturn]] void lineError(int line, const std::string& what) {
    throw RegistryError("line " + std::to_string(line) + ": " + what);
}

// Reads a quoted text from `pos`; leaves pos after the closing quote.
std::string unquote(std::string_view line, std::size_t& pos, int lineNo) {
    if (pos >= line.size() || line[pos] != '"') lineError(lineNo, "a quoted text was expected");
    std::string out;
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c == '\\') {
            if (++pos >= line.size()) break;
            c = line[pos];
            if (c == 'n') {
                out += '\n';
            } else if (c == '\\' || c == '"') {
                out += c;
            } else {
                lineError(lineNo, std::string("unknown escape \\") + c);
            }
        } else {
            out += c;
        }
    }
    lineError(lineNo, "unterminated quoted text");
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

void makeDirectories(const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw RegistryError("cannot create the folder " + dir + ": " + ec.message());
}

// An exclusive or shared lock on PATH.lock, held while it lives.
class FileLock {
public:
    FileLock(const std::string& path, bool exclusive) : fd_(-1) {
        makeDirectories(directoryOf(path));
        const std::string lockPath = path + ".lock";
        Fd fd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        if (fd.get() < 0) {
            // A read-only place can still be read without a lock.
            if (!exclusive) return;
            throw RegistryError(sysError("cannot open the lock file", lockPath));
        }
        while (::flock(fd.get(), exclusive ? LOCK_EX : LOCK_SH) != 0) {
            if (errno != EINTR) throw RegistryError(sysError("cannot lock", lockPath));
        }
        fd_ = fd.release();
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);  // closing lets go of the lock
    }

private:
    int fd_;
};

Key loadUnlocked(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) && !ec) return Key();
    std::ifstream in(path, std::ios::binary);
    if (!in) throw RegistryError(sysError("cannot open the registry", path));
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw RegistryError(sysError("cannot read the registry", path));
    try {
        return parseRegistry(text.str());
    } catch (const RegistryError& e) {
        throw RegistryError("registry " + path + ", " + e.what());
    }
}

void writeAll(int fd, std::string_view data, const std::string& path) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            throw RegistryError(sysError("cannot write", path));
        }
        data.remove_prefix(std::size_t(n));
    }
}

// Temporary files of writers that were killed before their rename. Only called under the exclusive
// lock, when no other writer can be between mkostemp and rename.
void removeStaleTemporaries(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path p(path);
    const std::string prefix = p.filename().string() + ".";
    for (const auto& e : std::filesystem::directory_iterator(p.parent_path().empty() ? "." : p.parent_path(), ec)) {
        const std::string name = e.path().filename().string();
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0)
            std::filesystem::remove(e.path(), ec);
    }
}

}  // namespace

bool CaseLess::operator()(std::string_view a, std::string_view b) const noexcept {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int x = std::tolower(static_cast<unsigned char>(a[i]));
        const int y = std::tolower(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

std::string_view hiveName(std::string_view name) {
    const std::string l = lower(name);
    if (l == "hkcr") return "HKEY_CLASSES_ROOT";
    if (l == "hkcu") return "HKEY_CURRENT_USER";
    if (l == "hklm") return "HKEY_LOCAL_MACHINE";
    return name;
}

std::vector<std::string> splitKeyPath(std::string_view path) {
    std::vector<std::string> names;
    if (path.empty()) return names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t sep = path.find('\\', start);
        names.emplace_back(path.substr(start, sep == std::string_view::npos ? sep : sep - start));
        if (sep == std::string_view::npos) break;
        start = sep + 1;
    }
    if (!names.empty()) names.front() = std::string(hiveName(names.front()));
    return names;
}

const std::string* Key::value(std::string_view name) const {
    auto it = values_.find(name);
    return it == values_.end() ? nullptr : &it->second;
}

void Key::setValue(std::string_view name, std::string text) {
    auto it = values_.find(name);
    if (it != values_.end()) {
        it->second = std::move(text);
    } else {
        values_.emplace(std::string(name), std::move(text));
    }
}

bool Key::removeValue(std::string_view name) {
    auto it = values_.find(name);
    if (it == values_.end()) return false;
    values_.erase(it);
    return true;
}

const Key* Key::find(std::string_view path) const {
    const Key* key = this;
    for (const auto& name : splitKeyPath(path)) {
        auto it = key->subkeys_.find(name);
        if (it == key->subkeys_.end()) return nullptr;
        key = &it->second;
    }
    return key;
}

Key* Key::find(std::string_view path) { return const_cast<Key*>(std::as_const(*this).find(path)); }

Key& Key::create(std::string_view path) {
    Key* key = this;
    for (const auto& name : splitKeyPath(path)) {
        if (name.empty()) throw RegistryError("empty key name in \"" + std::string(path) + "\"");
        auto it = key->subkeys_.find(name);
        if (it == key->subkeys_.end()) it = key->subkeys_.emplace(name, Key()).first;
        key = &it->second;
    }
    return *key;
}

bool Key::remove(std::string_view path) {
    auto names = splitKeyPath(path);
    if (names.empty()) return false;
    const std::string last = names.back();
    names.pop_back();
    Key* parent = this;
    for (const auto& name : names) {
        auto it = parent->subkeys_.find(name);
        if (it == parent->subkeys_.end()) return false;
        parent = &it->second;
    }
    auto it = parent->subkeys_.find(last);
    if (it == parent->subkeys_.end()) return false;
    parent->subkeys_.erase(it);
    return true;
}

bool operator==(const Key& a, const Key& b) {
    if (a.default_ != b.default_ || a.values_.size() != b.values_.size() ||
        a.subkeys_.size() != b.subkeys_.size())
        return false;
    // Names compare as the registry compares them: without regard to case.
    CaseLess less;
    for (auto i = a.values_.begin(), j = b.values_.begin(); i != a.values_.end(); ++i, ++j)
        if (less(i->first, j->first) || less(j->first, i->first) || i->second != j->second) return false;
    for (auto i = a.subkeys_.begin(), j = b.subkeys_.begin(); i != a.subkeys_.end(); ++i, ++j)
        if (less(i->first, j->first) || less(j->first, i->first) || !(i->second == j->second)) return false;
    return true;
}

std::string registryPath() {
    if (const char* p = std::getenv("TARVO_REGISTRY"); p && *p) return p;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return std::string(x) + "/tarvo/registry";
    if (const char* h = std::getenv("HOME"); h && *h) return std::string(h) + "/.config/tarvo/registry";
    return ".tarvo-registry";
}

std::string formatRegistry(const Key& root) {
    std::string out = kHeader;
    for (const auto& [name, sub] : root.subkeys()) formatKey(out, name, sub);
    return out;
}

Key parseRegistry(std::string_view text) {
    Key root;
    Key* current = nullptr;
    int lineNo = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            if (line.back() != ']') lineError(lineNo, "a key line ends with ']'");
            const std::string_view path = line.substr(1, line.size() - 2);
            if (path.empty()) lineError(lineNo, "empty key path");
            try {
                current = &root.create(path);
            } catch (const RegistryError& e) {
                lineError(lineNo, e.what());
            }
            continue;
        }
        if (!current) lineError(lineNo, "a value before the first key");
        std::size_t pos = 0;
        std::optional<std::string> name;
        if (line.front() == '@') {
            pos = 1;
        } else {
            name = unquote(line, pos, lineNo);
        }
        if (pos >= line.size() || line[pos] != '=') lineError(lineNo, "'=' was expected");
        ++pos;
        std::string value = unquote(line, pos, lineNo);
        if (pos != line.size()) lineError(lineNo, "text after the value");
        if (name) {
            current->setValue(*name, std::move(value));
        } else {
            current->setDefault(std::move(value));
        }
    }
    // A file cut short inside a line would still parse: the text must end at a line end.
    if (!text.empty() && text.back() != '\n') lineError(lineNo, "the file does not end with a line end");
    return root;
}

Key loadRegistry(const std::string& path) {
    FileLock lock(path, false);
    return loadUnlocked(path);
}

void saveRegistry(const Key& root, const std::string& path) {
    const std::string dir = directoryOf(path);
    makeDirectories(dir);
    const std::string text = formatRegistry(root);
    std::string tmp = path + ".XXXXXX";
    Fd fd(::mkostemp(tmp.data(), O_CLOEXEC));
    if (fd.get() < 0) throw RegistryError(sysError("cannot create a temporary file beside", path));
    try {
        // Keep the old file's permissions; a new file gets the usual ones.
        struct stat st{};
        const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
        if (::fchmod(fd.get(), mode) != 0) throw RegistryError(sysError("cannot set the mode of", tmp));
        writeAll(fd.get(), text, tmp);
        if (::fsync(fd.get()) != 0) throw RegistryError(sysError("cannot flush", tmp));
        if (::close(fd.release()) != 0) throw RegistryError(sysError("cannot close", tmp));
        if (::rename(tmp.c_str(), path.c_str()) != 0) throw RegistryError(sysError("cannot replace", path));
    } catch (...) {
        ::unlink(tmp.c_str());
        throw;
    }
    // The rename itself reaches the disk with its folder.
    Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() >= 0) (void)::fsync(dirFd.get());
}

void editRegistry(const std::function<void(Key& root)>& body, const std::string& path) {
    FileLock lock(path, true);
    Key root = loadUnlocked(path);
    body(root);
    saveRegistry(root, path);
    removeStaleTemporaries(path);
}

std::optional<std::string> queryValue(std::string_view keyPath, std::string_view name) {
    try {
        const Key root = loadRegistry();
        const Key* key = root.find(keyPath);
        if (!key) return std::nullopt;
        if (name.empty()) return key->defaultValue();
        if (const std::string* v = key->value(name)) return *v;
    } catch (const RegistryError&) {
    }
    return std::nullopt;
}

}  // namespace reg
