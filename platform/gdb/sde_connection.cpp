// platform/gdb/sde_connection.cpp: reading ".sde" connection files and turning them into libpq's
// connection strings.
#include "platform/gdb/sde_connection.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/com/bstr.h"
#include "platform/gdb/gdb.h"

namespace gdb {
namespace {

[[noreturn]] void refuse(HRESULT hr, const std::string& text) { throw _com_error(hr, fromUtf8(text)); }

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

std::string upper(std::string s) {
    for (auto& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// A libpq keyword value: quoted, with backslash and quote escaped.
std::string quoted(const std::string& v) {
    std::string out = "'";
    for (char c : v) {
        if (c == '\\' || c == '\'') out += '\\';
        out += c;
    }
    return out + "'";
}

bool allDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

}  // namespace

std::string SdeConnection::describe() const {
    std::string out;
    auto add = [&](const char* what, const std::string& v) {
        if (v.empty()) return;
        if (!out.empty()) out += ", ";
        out += std::string(what) + " " + v;
    };
    add("server", server.empty() && !instance.empty() && !allDigits(instance) ? instance : server);
    add("database", database);
    add("user", user);
    return out;
}

std::string SdeConnection::conninfo() const {
    std::string out = "dbname=" + quoted(database);
    // INSTANCE is a port, or the folder of the server's Unix socket (which then stands for the host).
    if (!instance.empty() && !allDigits(instance)) {
        out += " host=" + quoted(instance);
    } else {
        if (!server.empty()) out += " host=" + quoted(server);
        if (!instance.empty()) out += " port=" + quoted(instance);
    }
    if (!user.empty()) out += " user=" + quoted(user);
    if (!password.empty()) out += " password=" + quoted(password);
    return out;
}

SdeConnection readSdeConnection(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) refuse(GDB_E_NOT_FOUND, "connection file " + path + " cannot be read");
    SdeConnection c;
    c.file = path;
    const std::map<std::string, std::string SdeConnection::*> keys = {
        {"SERVER", &SdeConnection::server},     {"INSTANCE", &SdeConnection::instance},
        {"DATABASE", &SdeConnection::database}, {"USER", &SdeConnection::user},
        {"PASSWORD", &SdeConnection::password}, {"VERSION", &SdeConnection::version},
    };
    std::map<std::string, bool> seen;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (trim(line).empty()) continue;
        const auto eq = line.find('=');
        // The line itself may hold the password: name its number only.
        if (eq == std::string::npos)
            refuse(GDB_E_BAD_PATH, "connection file " + path + ": line " + std::to_string(number) + " is not KEY=VALUE");
        const std::string key = upper(trim(line.substr(0, eq)));
        const auto it = keys.find(key);
        if (it == keys.end()) refuse(GDB_E_BAD_PATH, "connection file " + path + ": unknown key " + trim(line.substr(0, eq)));
        if (seen[key]) refuse(GDB_E_BAD_PATH, "connection file " + path + ": key " + key + " given twice");
        seen[key] = true;
        c.*(it->second) = trim(line.substr(eq + 1));
    }
    if (in.bad()) refuse(GDB_E_NOT_FOUND, "connection file " + path + " cannot be read");
    if (c.database.empty()) refuse(GDB_E_BAD_PATH, "connection file " + path + ": no DATABASE");
    return c;
}

}  // namespace gdb
