// tests/platform/gdb/gdb_fixture.h: a fresh geodatabase per test, on either backend, and small
// builders of field lists and geometries.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/gdb/gdb.h"
#include "support/pg_server.h"

namespace gdbtest {

// A temporary directory removed with the fixture.
struct TempDir {
    std::filesystem::path path;
    TempDir();
    ~TempDir();
};

struct Column {
    const wchar_t* name;
    esriFieldType type;
    LONG length;
};

IFieldsPtr tableFields(const std::vector<Column>& columns);
IFieldsPtr featureFields(esriGeometryType type, bool hasZ, const std::vector<Column>& columns);
ISpatialReferencePtr wgs84();

IPointPtr point(double x, double y);
IPointPtr pointZ(double x, double y, double z);
IPolylinePtr polyline(const std::vector<std::pair<double, double>>& xy);
IPolygonPtr polygon(const std::vector<std::pair<double, double>>& ring);

// Inserts count points through the cursor from one buffer of the class, the i-th at at(i).
void insertPoints(IFeatureClass* fc, IFeatureCursor* ins, int count, const std::function<IPointPtr(int)>& at);

IWorkspacePtr openGdb(const std::string& path);
IWorkspacePtr createGdb(const std::filesystem::path& dir, const std::string& name);

// The HRESULT of a call that throws _com_error, S_OK when it does not.
template <class F>
HRESULT resultOf(F&& f) {
    try {
        f();
        return S_OK;
    } catch (const _com_error& e) {
        return e.Error();
    }
}

enum class Backend { Personal, Enterprise };
std::string backendName(Backend b);

// A fresh geodatabase: a GeoPackage file, or on the enterprise backend a database of its own on the
// test server (skipped when none is configured) opened through a connection file.
class GdbTest : public ::testing::Test {
protected:
    void SetUp() override { open(Backend::Personal); }
    void open(Backend backend);
    // The workspace released and opened again from its path.
    void reopen();
    bool enterprise() const { return backend_ == Backend::Enterprise; }
    // A new class of points without Z or other columns.
    IFeatureClassPtr pointClass(const char* name);
    // A new class "p" of count points, the i-th at at(i), saved by an edit session.
    IFeatureClassPtr savedPoints(int count, const std::function<IPointPtr(int)>& at);
    TempDir dir_;
    std::string path_;  // the GeoPackage file or the connection file
    Backend backend_ = Backend::Personal;
    std::unique_ptr<pgtest::TempDatabase> pgdb_;
    IWorkspacePtr ws_;
    IFeatureWorkspacePtr fws_;
};

// The same test on both backends.
class BackendTest : public GdbTest, public ::testing::WithParamInterface<Backend> {
protected:
    void SetUp() override { open(GetParam()); }
};

// A table of cases, each on both backends.
template <class Case>
class CaseOnBothBackends : public GdbTest, public ::testing::WithParamInterface<std::tuple<Backend, Case>> {
protected:
    void SetUp() override { open(std::get<0>(this->GetParam())); }
    const Case& param() const { return std::get<1>(this->GetParam()); }
};
// The cases' table crossed with the backends, named "<case>_<backend>".
template <class Case, std::size_t N>
auto onBothBackends(const Case (&cases)[N]) {
    return ::testing::Combine(::testing::Values(Backend::Personal, Backend::Enterprise), ::testing::ValuesIn(cases));
}
template <class Info>
std::string caseAndBackend(const Info& i) {
    return std::string(std::get<1>(i.param).name) + "_" + backendName(std::get<0>(i.param));
}

// Opens the enterprise geodatabase's connection file; returns the error, S_OK when the workspace opened.
_com_error openSde(const std::string& path);

}  // namespace gdbtest
