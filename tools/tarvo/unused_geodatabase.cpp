// tools/tarvo/unused_geodatabase.cpp: taking back a geodatabase that a failed `tarvo import` made.
#include "tools/tarvo/unused_geodatabase.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

namespace {

// Larger than a new geodatabase by far: a file this size has been written into.
constexpr off_t kLargestUnused = off_t(16) << 20;

// Whether the file open at `fd` (`size` bytes) holds a cell, read from the descriptor itself: while
// the lease is held, no open of the file, ours included, may happen. Unreadable means "holds one".
bool holdsACell(int fd, off_t size) {
    if (size <= 0) return false;
    if (size > kLargestUnused) return true;
    auto* bytes = static_cast<unsigned char*>(sqlite3_malloc64(sqlite3_uint64(size)));
    if (!bytes) return true;
    for (off_t done = 0; done < size;) {
        const ssize_t n = ::pread(fd, bytes + done, std::size_t(size - done), done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            sqlite3_free(bytes);
            return true;
        }
        done += n;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        sqlite3_free(bytes);
        return true;
    }
    const std::unique_ptr<sqlite3, decltype(&sqlite3_close)> owner(db, sqlite3_close);
    if (sqlite3_deserialize(db, "main", bytes, size, size,
                            SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_READONLY) != SQLITE_OK)
        return true;
    // Each imported cell leaves its row in dsid; a geodatabase without the table has none.
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db,
                           "SELECT CASE WHEN EXISTS (SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'dsid') "
                           "THEN 1 ELSE 0 END",
                           -1, &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        return true;
    }
    const bool hasTable = sqlite3_step(st) != SQLITE_ROW || sqlite3_column_int(st, 0) != 0;
    sqlite3_finalize(st);
    if (!hasTable) return false;
    bool holds = true;
    if (sqlite3_prepare_v2(db, "SELECT EXISTS (SELECT 1 FROM dsid)", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        holds = sqlite3_column_int(st, 0) != 0;
    sqlite3_finalize(st);
    return holds;
}

}  // namespace

// Only the very file made (same device and inode) goes, and only while no other program has it
// open: a write lease is granted only on a file nobody else holds open, and while it is held another
// program's open waits for its release.
bool removeUnusedGeodatabase(const char* path, const struct stat& made) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool removed = false;
    if (::fstat(fd, &st) == 0 && st.st_dev == made.st_dev && st.st_ino == made.st_ino &&
        ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
        const std::string journal = std::string(path) + "-journal";
        struct stat js {};
        // A journal beside it belongs to a transaction still to be rolled back: leave both.
        if (::stat(journal.c_str(), &js) != 0 && errno == ENOENT && !holdsACell(fd, st.st_size))
            removed = ::unlink(path) == 0;
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
    }
    ::close(fd);
    return removed;
}
