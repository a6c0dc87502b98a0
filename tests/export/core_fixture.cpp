// tests/export/core_fixture.cpp: see core_fixture.h.
#include "core_fixture.h"

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "import/impf.h"
#include "s57/dbutil.h"
#include "s57/gdb_template.h"

namespace fs = std::filesystem;

namespace coretest {

Scratch::Scratch() {
    std::string pattern = (fs::temp_directory_path() / "tarvo-export-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("no scratch folder");
    path_ = pattern;
}

Scratch::~Scratch() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

IGeometryPtr rectangle(double xmin, double ymin, double xmax, double ymax) {
    IPointCollectionPtr ring(CLSID_Ring);
    const WKSPoint points[5] = {{xmin, ymin}, {xmin, ymax}, {xmax, ymax}, {xmax, ymin}, {xmin, ymin}};
    ring->AddWKSPoints(5, points);
    IGeometryCollectionPtr polygon(CLSID_Polygon);
    polygon->AddGeometry(IGeometryPtr(ring));
    return IGeometryPtr(polygon);
}

namespace {

std::string templatePath() {
    static Scratch folder;  // lives until the process ends
    static std::string made;
    if (made.empty()) {
        const std::string path = (folder.path() / "template.gpkg").string();
        if (FAILED(createGeodatabase(path.c_str(), "S57", nullptr, nullptr, nullptr)))
            throw std::runtime_error("the geodatabase template cannot be made");
        made = path;
    }
    return made;
}

}  // namespace

TemplateGdb::TemplateGdb() {
    fs::copy_file(templatePath(), path());
    IWorkspace* raw = nullptr;
    if (FAILED(openWorkspace(path().c_str(), &raw)) || !raw) throw std::runtime_error("the copy does not open");
    ws_.Attach(raw);
    fws_ = ws_;
}

long TemplateGdb::addCoverage(const std::string& cell, int catcov, IGeometry* shape) {
    IFeatureClassPtr cls = fws_->OpenFeatureClass("MetadataAreaFeature");
    ISubtypesPtr subtypes(cls);
    IFeatureBufferPtr buffer = cls->CreateFeatureBuffer();
    buffer->PutValue(cls->FindField(subtypes->GetSubtypeFieldName()), _variant_t(302L));
    buffer->PutValue(cls->FindField("CATCOV"), _variant_t(std::to_string(catcov).c_str()));
    buffer->PutRefShape(shape);
    IFeatureCursorPtr cursor = cls->Insert(VARIANT_TRUE);
    const long oid = long(cursor->InsertFeature(buffer));
    cursor->Flush();
    if (::addCoverage(ws_, cell.c_str(), catcov, int32_t(oid)) != 0) throw std::runtime_error("no dsnm row");
    return oid;
}

}  // namespace coretest
