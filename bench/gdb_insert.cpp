// bench/gdb_insert.cpp: insert speed of the geodatabase: point features and polylines of 20
// vertices into feature classes with their R-tree, through feature buffers and an insert cursor
// flushed after each feature (as the importers do), in one edit session. Prints features per
// second for each kind; the commit at the end of the session is included.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "platform/gdb/gdb.h"

namespace {

IFieldPtr field(const wchar_t* name, esriFieldType type, LONG length) {
    IFieldEditPtr f(CLSID_Field);
    f->PutName(name);
    f->PutType(type);
    f->PutLength(length);
    return IFieldPtr(f);
}

IFieldsPtr primitiveFields(esriGeometryType type) {
    IObjectClassDescriptionPtr d(CLSID_FeatureClassDescription);
    IFieldsEditPtr fields(d->GetRequiredFields());
    IGeometryDefEditPtr def(fields->GetField(fields->FindField("SHAPE"))->GetGeometryDef());
    def->PutGeometryType(type);
    ISpatialReferencePtr sr(CLSID_SpatialReferenceWGS84);
    def->PutRefSpatialReference(sr);
    fields->AddField(field(L"NAME", esriFieldTypeString, 12));
    fields->AddField(field(L"RVER", esriFieldTypeInteger, 2));
    fields->AddField(field(L"RUIN", esriFieldTypeString, 1));
    fields->AddField(field(L"DSNM", esriFieldTypeString, 16));
    return IFieldsPtr(fields);
}

// byName: every value goes to the column found by name in the buffer's fields, as the importers'
// SetRecordValue does.
double run(IFeatureWorkspace* fws, IWorkspaceEdit* edit, const char* name, esriGeometryType type, int count,
           bool byName = false) {
    IFeatureClassPtr fc = fws->CreateFeatureClass(name, primitiveFields(type), nullptr, nullptr, esriFTSimple, "SHAPE");
    const LONG iName = fc->FindField("NAME"), iRver = fc->FindField("RVER"), iRuin = fc->FindField("RUIN"),
               iDsnm = fc->FindField("DSNM");
    const _variant_t name12("VE0000000001"), rver(1L), ruin("I"), dsnm("US5MA12M.000");
    auto start = std::chrono::steady_clock::now();
    edit->StartEditing(VARIANT_FALSE);
    IFeatureCursorPtr cursor = fc->Insert(VARIANT_TRUE);
    IFeatureBufferPtr buffer = fc->CreateFeatureBuffer();
    for (int i = 0; i < count; ++i) {
        // Spread over a chart-sized area so that the R-tree works as it does on real cells.
        const double x = -71.0 + double((i * 7919LL) % 100000) * 1e-5;
        const double y = 42.0 + double((i * 104729LL) % 100003) * 1e-5;
        if (type == esriGeometryPoint) {
            IPointPtr p(CLSID_Point);
            p->PutCoords(x, y);
            buffer->PutRefShape(p);
        } else {
            IPolylinePtr line(CLSID_Polyline);
            IPointCollectionPtr pc(line);
            IPointPtr p(CLSID_Point);
            for (int k = 0; k < 20; ++k) {
                p->PutCoords(x + k * 1e-4, y + (k % 2) * 1e-4);
                pc->AddPoint(p);
            }
            buffer->PutRefShape(line);
        }
        if (byName) {
            IFieldsPtr fields = buffer->GetFields();
            buffer->PutValue(fields->FindField("NAME"), name12);
            buffer->PutValue(fields->FindField("RVER"), rver);
            buffer->PutValue(fields->FindField("RUIN"), ruin);
            buffer->PutValue(fields->FindField("DSNM"), dsnm);
        } else {
            buffer->PutValue(iName, name12);
            buffer->PutValue(iRver, rver);
            buffer->PutValue(iRuin, ruin);
            buffer->PutValue(iDsnm, dsnm);
        }
        cursor->InsertFeature(buffer);
        cursor->Flush();
    }
    edit->StopEditing(VARIANT_TRUE);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (fc->FeatureCount(nullptr) != count) std::printf("%s: wrong feature count\n", name);
    return count / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const int points = argc > 1 ? std::atoi(argv[1]) : 200000;
    const int lines = argc > 2 ? std::atoi(argv[2]) : 50000;
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("bench_gdb_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    int rc = 0;
    try {
        IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
        IWorkspacePtr ws = factory->Create(dir.string().c_str(), "bench.gpkg");
        IFeatureWorkspacePtr fws(ws);
        IWorkspaceEditPtr edit(ws);
        const double p = run(fws, edit, "vc", esriGeometryPoint, points);
        const double l = run(fws, edit, "ve", esriGeometryPolyline, lines);
        const double n = run(fws, edit, "vi2d", esriGeometryPoint, points, true);
        std::printf("points: %d in one edit session, %.0f features/s (goal 200000)\n", points, p);
        std::printf("points, columns found by name for every value: %.0f features/s\n", n);
        std::printf("polylines of 20 vertices: %d in one edit session, %.0f features/s (goal 50000)\n", lines, l);
    } catch (const _com_error& e) {
        std::printf("failed: %s\n", static_cast<const char*>(e.Description()));
        rc = 1;
    }
    std::error_code ec;
    if (!std::getenv("BENCH_KEEP")) std::filesystem::remove_all(dir, ec);
    return rc;
}
