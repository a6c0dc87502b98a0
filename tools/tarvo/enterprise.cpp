// tools/tarvo/enterprise.cpp: naming and checking an enterprise geodatabase for the commands.
#include "tools/tarvo/enterprise.h"

#include "platform/gdb/gdb.h"
#include "platform/gdb/sde_connection.h"
#include "s57/dbutil.h"
#include "tools/tarvo/quiet_stdout.h"

std::string geodatabaseLabel(const char* path) {
    if (!isConnectionFilePath(path)) return path;
    try {
        const std::string where = gdb::readSdeConnection(path).describe();
        return where.empty() ? std::string(path) : std::string(path) + " (" + where + ")";
    } catch (const _com_error&) {
        return path;  // an unreadable file is reported by the check, naming what is wrong with it
    }
}

std::string enterpriseProblem(const char* path, const std::string& dataset, bool* hasDataset) {
    if (hasDataset) *hasDataset = false;
    IWorkspacePtr workspace;
    HRESULT hr;
    {
        QuietStdout quiet;
        hr = openWorkspace(path, &workspace);
    }
    if (FAILED(hr) || !workspace) {
        // The factory's description names the connection file, or the server and the database.
        std::string why = toUtf8(takeErrorDescription());
        if (why.empty()) {
            const char* reason = gdbFailureReason(hr);
            why = "cannot open the enterprise geodatabase " + geodatabaseLabel(path) + ": " +
                  (reason ? reason : errorMessageOf(hr));
        }
        // The server's hint comes on a line of its own: the command says it on one.
        std::string line;
        for (char c : why) {
            if (c == '\n' || c == '\t' || c == '\r') c = ' ';
            if (c != ' ' || (!line.empty() && line.back() != ' ')) line += c;
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        return line;
    }
    if (hasDataset) {
        IFeatureWorkspacePtr features(workspace);
        IFeatureDatasetPtr opened;
        *hasDataset = features && SUCCEEDED(features->raw_OpenFeatureDataset(_bstr_t(dataset.c_str()).GetBSTR(), &opened)) && opened;
    }
    return {};
}
