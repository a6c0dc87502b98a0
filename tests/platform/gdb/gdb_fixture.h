// tests/platform/gdb/gdb_fixture.h: a fresh geodatabase per test and small builders of field
// lists and geometries.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/gdb/gdb.h"

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

class GdbTest : public ::testing::Test {
protected:
    void SetUp() override;
    TempDir dir_;
    std::string path_;
    IWorkspacePtr ws_;
    IFeatureWorkspacePtr fws_;
};

}  // namespace gdbtest
