// platform/gdb/pq_library.cpp: the PostgreSQL client library, loaded at the first call that needs
// it. Most runs never meet a server, and loading it (with its TLS, Kerberos and LDAP libraries) cost
// every start of the tools about 2 ms and a megabyte of memory. Each function here stands for
// libpq's own of the same name; without the library a connection fails and says why.
#include <dlfcn.h>
#include <libpq-fe.h>

#include <string>

namespace {

constexpr char kLibrary[] = "libpq.so.5";

struct Library {
    void* handle = nullptr;
    std::string failure;
    Library() {
        handle = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = ::dlerror();
            failure = std::string("the PostgreSQL client library could not be loaded: ") + (why ? why : kLibrary) + "\n";
        }
    }
};

const Library& library() {
    static const Library loaded;
    return loaded;
}

void* symbol(const char* name) {
    const Library& lib = library();
    return lib.handle ? ::dlsym(lib.handle, name) : nullptr;
}

}  // namespace

#define TARVO_PQ_FORWARD(Ret, name, fallback, params, args)                \
    extern "C" Ret name params {                                           \
        using Fn = Ret(*) params;                                          \
        static const Fn fn = reinterpret_cast<Fn>(symbol(#name));          \
        if (!fn) return fallback;                                          \
        return fn args;                                                    \
    }
#define TARVO_PQ_FORWARD_VOID(name, params, args)                          \
    extern "C" void name params {                                          \
        using Fn = void(*) params;                                         \
        static const Fn fn = reinterpret_cast<Fn>(symbol(#name));          \
        if (fn) fn args;                                                   \
    }

TARVO_PQ_FORWARD(PGconn*, PQconnectdb, nullptr, (const char* conninfo), (conninfo))
TARVO_PQ_FORWARD(PQconninfoOption*, PQconndefaults, nullptr, (void), ())
TARVO_PQ_FORWARD_VOID(PQconninfoFree, (PQconninfoOption * options), (options))
TARVO_PQ_FORWARD_VOID(PQfinish, (PGconn * conn), (conn))
TARVO_PQ_FORWARD(ConnStatusType, PQstatus, CONNECTION_BAD, (const PGconn* conn), (conn))
TARVO_PQ_FORWARD(PGTransactionStatusType, PQtransactionStatus, PQTRANS_UNKNOWN, (const PGconn* conn), (conn))
TARVO_PQ_FORWARD(char*, PQerrorMessage, const_cast<char*>(library().failure.c_str()), (const PGconn* conn), (conn))
TARVO_PQ_FORWARD(PQnoticeProcessor, PQsetNoticeProcessor, nullptr,
                 (PGconn * conn, PQnoticeProcessor proc, void* arg), (conn, proc, arg))
TARVO_PQ_FORWARD(PGresult*, PQexec, nullptr, (PGconn * conn, const char* query), (conn, query))
TARVO_PQ_FORWARD(PGresult*, PQexecParams, nullptr,
                 (PGconn * conn, const char* command, int nParams, const Oid* paramTypes,
                  const char* const* paramValues, const int* paramLengths, const int* paramFormats, int resultFormat),
                 (conn, command, nParams, paramTypes, paramValues, paramLengths, paramFormats, resultFormat))
TARVO_PQ_FORWARD(PGresult*, PQexecPrepared, nullptr,
                 (PGconn * conn, const char* stmtName, int nParams, const char* const* paramValues,
                  const int* paramLengths, const int* paramFormats, int resultFormat),
                 (conn, stmtName, nParams, paramValues, paramLengths, paramFormats, resultFormat))
TARVO_PQ_FORWARD(int, PQsendQueryParams, 0,
                 (PGconn * conn, const char* command, int nParams, const Oid* paramTypes,
                  const char* const* paramValues, const int* paramLengths, const int* paramFormats, int resultFormat),
                 (conn, command, nParams, paramTypes, paramValues, paramLengths, paramFormats, resultFormat))
TARVO_PQ_FORWARD(int, PQsendQueryPrepared, 0,
                 (PGconn * conn, const char* stmtName, int nParams, const char* const* paramValues,
                  const int* paramLengths, const int* paramFormats, int resultFormat),
                 (conn, stmtName, nParams, paramValues, paramLengths, paramFormats, resultFormat))
TARVO_PQ_FORWARD(int, PQsendPrepare, 0,
                 (PGconn * conn, const char* stmtName, const char* query, int nParams, const Oid* paramTypes),
                 (conn, stmtName, query, nParams, paramTypes))
TARVO_PQ_FORWARD(PGresult*, PQgetResult, nullptr, (PGconn * conn), (conn))
TARVO_PQ_FORWARD(int, PQconsumeInput, 0, (PGconn * conn), (conn))
TARVO_PQ_FORWARD(int, PQenterPipelineMode, 0, (PGconn * conn), (conn))
TARVO_PQ_FORWARD(int, PQexitPipelineMode, 0, (PGconn * conn), (conn))
TARVO_PQ_FORWARD(int, PQpipelineSync, 0, (PGconn * conn), (conn))
TARVO_PQ_FORWARD(int, PQputCopyData, -1, (PGconn * conn, const char* buffer, int nbytes), (conn, buffer, nbytes))
TARVO_PQ_FORWARD(int, PQputCopyEnd, -1, (PGconn * conn, const char* errormsg), (conn, errormsg))
TARVO_PQ_FORWARD(ExecStatusType, PQresultStatus, PGRES_FATAL_ERROR, (const PGresult* res), (res))
TARVO_PQ_FORWARD(char*, PQresultErrorMessage, const_cast<char*>(library().failure.c_str()), (const PGresult* res), (res))
TARVO_PQ_FORWARD_VOID(PQclear, (PGresult * res), (res))
TARVO_PQ_FORWARD(int, PQntuples, 0, (const PGresult* res), (res))
TARVO_PQ_FORWARD(int, PQnfields, 0, (const PGresult* res), (res))
TARVO_PQ_FORWARD(Oid, PQftype, InvalidOid, (const PGresult* res, int field), (res, field))
TARVO_PQ_FORWARD(int, PQfformat, 0, (const PGresult* res, int field), (res, field))
TARVO_PQ_FORWARD(char*, PQgetvalue, nullptr, (const PGresult* res, int row, int field), (res, row, field))
TARVO_PQ_FORWARD(int, PQgetlength, 0, (const PGresult* res, int row, int field), (res, row, field))
TARVO_PQ_FORWARD(int, PQgetisnull, 1, (const PGresult* res, int row, int field), (res, row, field))
TARVO_PQ_FORWARD(char*, PQcmdTuples, nullptr, (PGresult * res), (res))
