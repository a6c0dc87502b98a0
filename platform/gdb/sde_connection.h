// platform/gdb/sde_connection.h: the connection file of an enterprise geodatabase (".sde"): one
// KEY=VALUE a line with the keys SERVER, INSTANCE (a port number, or a socket folder), DATABASE
// (required), USER, PASSWORD and VERSION. Without PASSWORD libpq's password file and environment
// answer. The password is a secret: describe() and every error leave it out.
#pragma once

#include <string>

namespace gdb {

struct SdeConnection {
    std::string file;  // the connection file it was read from, for messages
    std::string server;
    std::string instance;
    std::string database;
    std::string user;
    std::string password;
    std::string version;

    // "server S, database D, user U" (the parts that are set), never the password.
    std::string describe() const;
    // libpq's connection string (keywords, values quoted), with the password when there is one.
    std::string conninfo() const;
};

// Reads a connection file. Throws _com_error: GDB_E_NOT_FOUND when it cannot be read,
// GDB_E_BAD_PATH for a line without "=", an unknown or repeated key, or no DATABASE (the
// description names the key and the file, never a value).
SdeConnection readSdeConnection(const std::string& path);

}  // namespace gdb
