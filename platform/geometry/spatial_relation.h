// platform/geometry/spatial_relation.h: the test behind a spatial filter: one query geometry,
// prepared once with GEOS, tested against many candidates (geometries or GeoPackage blobs).
//
// The relation reads "query <relation> candidate": esriSpatialRelWithin selects candidates that
// contain the query geometry, esriSpatialRelContains those that the query geometry contains. A
// relation description (DE-9IM, nine of T F * 0 1 2, e.g. "T********") relates the query geometry
// to the candidate in the same order; given beside another relation, a candidate must satisfy
// both. esriSpatialRelRelation needs the description; esriSpatialRelUndefined means intersects, or
// the description alone when one is given.
//
// A predicate belongs to the thread that made it (GEOS objects of that thread's context).
#pragma once

#include "platform/geometry/geometry.h"

#include <cstddef>
#include <memory>
#include <string_view>

class SpatialPredicate {
 public:
    // Throws _com_error: E_INVALIDARG for a null or foreign geometry, an unknown relation, a bad
    // description or esriSpatialRelRelation without one; E_FAIL when GEOS fails.
    SpatialPredicate(IGeometry* query, esriSpatialRelEnum relation, std::string_view relationDescription = {});
    ~SpatialPredicate();
    SpatialPredicate(SpatialPredicate&&) noexcept;
    SpatialPredicate& operator=(SpatialPredicate&&) noexcept;

    // The query geometry's extent, for the R-tree prefilter.
    const GeoExtent& extent() const;
    // True when no candidate can match unless its extent intersects extent(): every relation but
    // a description that holds for disjoint geometries (e.g. "FF*FF****"). When false, scan all rows.
    bool extentPrefilter() const;

    // Throws _com_error as the constructor (E_FAIL when GEOS fails on the candidate).
    bool matches(IGeometry* candidate) const;
    // Whether the query geometry is one valid polygon without holes (so its exterior is connected).
    bool isOneValidPolygonWithoutHoles() const;
    // A GeoPackage geometry blob; throws GpkgBlobError when it is malformed.
    bool matchesBlob(const void* blob, std::size_t size) const;

 private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
