// platform/geometry/spatial_relation.cpp: the spatial filter test (a GEOS prepared query geometry,
// an optional DE-9IM pattern) and its extent prefilter. GEOS failures throw _com_error(E_FAIL).
#include "platform/geometry/spatial_relation.h"

#include "platform/geometry/geos_support.h"
#include "platform/geometry/gpkg_blob.h"
#include "platform/geometry/shape.h"

#include <geos_c.h>

#include <string>

using geom::Geom;
using geom::Prepared;
using geom::Shape;

struct SpatialPredicate::Impl {
    GEOSContextHandle_t ctx = nullptr;
    Geom query{nullptr, {nullptr}};
    Prepared prepared{nullptr, {nullptr}};
    esriSpatialRelEnum relation = esriSpatialRelIntersects;  // the relation proper (never Undefined)
    bool byPattern = false;
    std::string pattern;
    GeoExtent extent;
    bool prefilter = true;

    bool test(const Shape& candidate) const {
        const GeoExtent ce = geom::shapeExtent(candidate);
        if (relation == esriSpatialRelEnvelopeIntersects || relation == esriSpatialRelIndexIntersects) {
            if (!extent.intersects(ce)) return false;
            if (!byPattern) return true;
        } else if (prefilter && !extent.intersects(ce)) {
            return false;
        }
        try {
            Geom c = geom::toGeos(candidate);
            bool ok = true;
            switch (relation) {
            case esriSpatialRelIntersects:
                ok = geom::predicate(GEOSPreparedIntersects_r(ctx, prepared.get(), c.get()), "intersects");
                break;
            case esriSpatialRelTouches:
                ok = geom::predicate(GEOSPreparedTouches_r(ctx, prepared.get(), c.get()), "touches");
                break;
            case esriSpatialRelOverlaps:
                ok = geom::predicate(GEOSPreparedOverlaps_r(ctx, prepared.get(), c.get()), "overlaps");
                break;
            case esriSpatialRelCrosses:
                ok = geom::predicate(GEOSPreparedCrosses_r(ctx, prepared.get(), c.get()), "crosses");
                break;
            case esriSpatialRelWithin:
                ok = geom::predicate(GEOSPreparedWithin_r(ctx, prepared.get(), c.get()), "within");
                break;
            case esriSpatialRelContains:
                ok = geom::predicate(GEOSPreparedContains_r(ctx, prepared.get(), c.get()), "contains");
                break;
            default:  // envelope relations (decided above) and esriSpatialRelRelation (pattern only)
                break;
            }
            if (ok && byPattern)
                ok = geom::predicate(GEOSRelatePattern_r(ctx, query.get(), c.get(), pattern.c_str()), "relation");
            return ok;
        } catch (const geom::GeometryError& e) {
            throw _com_error(E_FAIL, fromUtf8(std::string("spatial filter: ") + e.what()));
        }
    }
};

SpatialPredicate::SpatialPredicate(IGeometry* query, esriSpatialRelEnum relation, std::string_view description)
    : impl_(std::make_unique<Impl>()) {
    Impl& m = *impl_;
    if (relation < esriSpatialRelUndefined || relation > esriSpatialRelRelation)
        throw _com_error(E_INVALIDARG, L"unknown spatial relation " + std::to_wstring(int(relation)));
    m.pattern.assign(description.begin(), description.end());
    m.byPattern = !m.pattern.empty();
    if (m.byPattern && !geom::validPattern(m.pattern))
        throw _com_error(E_INVALIDARG, L"spatial relation description must be nine characters of T, F, *, 0, 1, 2");
    if (relation == esriSpatialRelRelation && !m.byPattern)
        throw _com_error(E_INVALIDARG, L"spatial relation 'relation' needs a relation description");
    if (relation == esriSpatialRelUndefined) relation = m.byPattern ? esriSpatialRelRelation : esriSpatialRelIntersects;
    m.relation = relation;

    const Shape& s = geom::shapeOf(query);
    m.extent = geom::shapeExtent(s);
    if (m.relation == esriSpatialRelRelation) {
        // Only a pattern that asks the interiors or boundaries to meet rules out far candidates.
        m.prefilter = geom::patternNeedsContact(m.pattern);
    }
    try {
        m.ctx = geom::geosContext();
        m.query = geom::toGeos(s);
        const GEOSPreparedGeometry* p = GEOSPrepare_r(m.ctx, m.query.get());
        if (!p) geom::throwGeos("prepare the spatial filter geometry");
        m.prepared = Prepared(p, {m.ctx});
    } catch (const geom::GeometryError& e) {
        throw _com_error(E_FAIL, fromUtf8(std::string("spatial filter: ") + e.what()));
    }
}

SpatialPredicate::~SpatialPredicate() = default;
SpatialPredicate::SpatialPredicate(SpatialPredicate&&) noexcept = default;
SpatialPredicate& SpatialPredicate::operator=(SpatialPredicate&&) noexcept = default;

const GeoExtent& SpatialPredicate::extent() const { return impl_->extent; }

bool SpatialPredicate::extentPrefilter() const { return impl_->prefilter; }

bool SpatialPredicate::matches(IGeometry* candidate) const { return impl_->test(geom::shapeOf(candidate)); }

bool SpatialPredicate::isOneValidPolygonWithoutHoles() const {
    const Impl& m = *impl_;
    const GEOSGeometry* g = m.query.get();
    if (!g) return false;
    if (GEOSGeomTypeId_r(m.ctx, g) == GEOS_MULTIPOLYGON) {
        if (GEOSGetNumGeometries_r(m.ctx, g) != 1) return false;
        g = GEOSGetGeometryN_r(m.ctx, g, 0);
    }
    return g && GEOSGeomTypeId_r(m.ctx, g) == GEOS_POLYGON && GEOSGetNumInteriorRings_r(m.ctx, g) == 0 &&
           GEOSisValid_r(m.ctx, g) == 1;
}

bool SpatialPredicate::matchesBlob(const void* blob, std::size_t size) const {
    if (impl_->prefilter && !impl_->extent.intersects(gpkgBlobExtent(blob, size))) return false;
    return impl_->test(geom::shapeFromGpkgBlob(blob, size));
}
