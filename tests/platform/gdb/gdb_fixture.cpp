// tests/platform/gdb/gdb_fixture.cpp: the shared fixture of the geodatabase tests.
#include "gdb_fixture.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace gdbtest {

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    path = std::filesystem::temp_directory_path() /
           ("gdb_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
}
TempDir::~TempDir() {
    std::error_code ec;
    if (!std::getenv("GDB_TEST_KEEP")) std::filesystem::remove_all(path, ec);
}

static IFieldPtr field(const wchar_t* name, esriFieldType type, LONG length) {
    IFieldEditPtr f(CLSID_Field);
    f->PutName(name);
    f->PutType(type);
    f->PutLength(length);
    return IFieldPtr(f);
}

IFieldsPtr tableFields(const std::vector<Column>& columns) {
    IObjectClassDescriptionPtr d(CLSID_ObjectClassDescription);
    IFieldsEditPtr fields(d->GetRequiredFields());
    for (const Column& c : columns) fields->AddField(field(c.name, c.type, c.length));
    return IFieldsPtr(fields);
}

IFieldsPtr featureFields(esriGeometryType type, bool hasZ, const std::vector<Column>& columns) {
    IObjectClassDescriptionPtr d(CLSID_FeatureClassDescription);
    IFeatureClassDescriptionPtr fd(d);
    IFieldsEditPtr fields(d->GetRequiredFields());
    IFieldPtr shape = fields->GetField(fields->FindField(fd->GetShapeFieldName()));
    IGeometryDefEditPtr def(shape->GetGeometryDef());
    def->PutGeometryType(type);
    def->PutHasZ(hasZ ? VARIANT_TRUE : VARIANT_FALSE);
    def->PutRefSpatialReference(wgs84());
    def->PutGridCount(1);
    def->PutGridSize(0, 100.0);
    for (const Column& c : columns) fields->AddField(field(c.name, c.type, c.length));
    return IFieldsPtr(fields);
}

ISpatialReferencePtr wgs84() {
    ISpatialReferencePtr sr(CLSID_SpatialReferenceWGS84);
    sr->SetZDomain(-12000.0, 9000.0);
    return sr;
}

IPointPtr point(double x, double y) {
    IPointPtr p(CLSID_Point);
    p->PutCoords(x, y);
    return p;
}
IPointPtr pointZ(double x, double y, double z) {
    IPointPtr p = point(x, y);
    p->PutZ(z);
    IZAwarePtr(p)->PutZAware(VARIANT_TRUE);
    return p;
}
IPolylinePtr polyline(const std::vector<std::pair<double, double>>& xy) {
    IPolylinePtr l(CLSID_Polyline);
    IPointCollectionPtr pc(l);
    for (auto [x, y] : xy) pc->AddPoint(point(x, y));
    return l;
}
IPolygonPtr polygon(const std::vector<std::pair<double, double>>& ring) {
    IPolygonPtr g(CLSID_Polygon);
    IPointCollectionPtr pc(g);
    for (auto [x, y] : ring) pc->AddPoint(point(x, y));
    g->Close();
    ITopologicalOperatorPtr(g)->Simplify();
    return g;
}

void insertPoints(IFeatureClass* fc, IFeatureCursor* ins, int count, const std::function<IPointPtr(int)>& at) {
    IFeatureBufferPtr b = fc->CreateFeatureBuffer();
    for (int i = 0; i < count; ++i) {
        b->PutRefShape(at(i));
        ins->InsertFeature(b);
    }
}

IWorkspacePtr openGdb(const std::string& path) {
    IWorkspaceFactoryPtr f(CLSID_AccessWorkspaceFactory);
    return f->OpenFromFile(path.c_str());
}
IWorkspacePtr createGdb(const std::filesystem::path& dir, const std::string& name) {
    IWorkspaceFactoryPtr f(CLSID_AccessWorkspaceFactory);
    return f->Create(dir.string().c_str(), name.c_str());
}

std::string backendName(Backend b) { return b == Backend::Personal ? "Personal" : "Enterprise"; }

void GdbTest::open(Backend backend) {
    backend_ = backend;
    if (backend == Backend::Personal) {
        path_ = (dir_.path / "test.gpkg").string();
        ws_ = createGdb(dir_.path, "test.gpkg");
    } else {
        SKIP_WITHOUT_PG();
        pgdb_ = std::make_unique<pgtest::TempDatabase>();
        // The socket folder stands for the server; the port is the cluster's.
        setenv("PGPORT", pgtest::keyword("port").c_str(), 1);
        path_ = (dir_.path / "test.sde").string();
        std::ofstream(path_) << "INSTANCE=" << pgtest::keyword("host") << "\nDATABASE=" << pgdb_->name
                             << "\nUSER=" << pgtest::keyword("user") << "\n";
        ws_ = openGdb(path_);
    }
    fws_ = ws_;
    ASSERT_TRUE(fws_);
}

IFeatureClassPtr GdbTest::pointClass(const char* name) {
    return fws_->CreateFeatureClass(name, featureFields(esriGeometryPoint, false, {}), nullptr, nullptr, esriFTSimple,
                                    "SHAPE");
}

IFeatureClassPtr GdbTest::savedPoints(int count, const std::function<IPointPtr(int)>& at) {
    IFeatureClassPtr fc = pointClass("p");
    IWorkspaceEditPtr edit(ws_);
    edit->StartEditing(VARIANT_FALSE);
    insertPoints(fc, fc->Insert(VARIANT_TRUE), count, at);
    edit->StopEditing(VARIANT_TRUE);
    return fc;
}

void GdbTest::reopen() {
    fws_ = nullptr;
    ws_ = nullptr;
    ws_ = openGdb(path_);
    fws_ = ws_;
}

_com_error openSde(const std::string& path) {
    IWorkspaceFactoryPtr f(CLSID_SdeWorkspaceFactory);
    try {
        f->OpenFromFile(path.c_str());
    } catch (const _com_error& e) {
        return e;
    }
    return _com_error(S_OK);
}

}  // namespace gdbtest
