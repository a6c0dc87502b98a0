// tests/platform/geometry/geometry_builders.h: geometries built in code for the geometry tests,
// through the public interfaces only.
#pragma once

#include "platform/geometry/geometry.h"

#include <cmath>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace builders {

struct XYZ {
    double x, y, z = std::nan("");
};
using Coords = std::vector<XYZ>;

inline IPointPtr point(double x, double y) {
    IPointPtr p(CLSID_Point);
    p->PutCoords(x, y);
    return p;
}

inline IPointPtr pointZ(double x, double y, double z) {
    IPointPtr p = point(x, y);
    p->PutZ(z);
    IZAwarePtr(p)->PutZAware(VARIANT_TRUE);
    return p;
}

inline void addPoints(IPointCollection* c, const Coords& coords) {
    for (const XYZ& xyz : coords) {
        IPointPtr p = point(xyz.x, xyz.y);
        p->PutZ(xyz.z);
        c->AddPoint(p);
    }
}

// A geometry of parts (paths, rings or one multipoint part) through IGeometryCollection.
inline IGeometryPtr multipart(const CLSID& whole, const CLSID& partClass, const std::vector<Coords>& parts, bool z = false) {
    IGeometryCollectionPtr g(whole);
    for (const Coords& coords : parts) {
        IPointCollectionPtr part(partClass);
        addPoints(part, coords);
        g->AddGeometry(IGeometryPtr(part));
    }
    IZAwarePtr(g)->PutZAware(z ? VARIANT_TRUE : VARIANT_FALSE);
    return IGeometryPtr(g);
}

inline IGeometryPtr polygon(const std::vector<Coords>& rings) { return multipart(CLSID_Polygon, CLSID_Ring, rings); }
inline IGeometryPtr polyline(const std::vector<Coords>& paths, bool z = false) {
    return multipart(CLSID_Polyline, CLSID_Path, paths, z);
}

inline IGeometryPtr multipoint(const Coords& coords, bool z = false) {
    IPointCollectionPtr m(CLSID_Multipoint);
    addPoints(m, coords);
    IZAwarePtr(m)->PutZAware(z ? VARIANT_TRUE : VARIANT_FALSE);
    return IGeometryPtr(m);
}

inline IGeometryPtr box(double x0, double y0, double x1, double y1) {
    return polygon({{{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, {x0, y0}}});
}

// All coordinates, part by part, as "x y|x y;..." for comparisons in one line.
inline std::string coords(IGeometry* g) {
    std::string out;
    auto add = [&](IPointCollection* pc) {
        for (LONG i = 0; i < pc->GetPointCount(); ++i) {
            IPointPtr p = pc->GetPoint(i);
            if (i) out += '|';
            char buf[64];
            std::snprintf(buf, sizeof buf, "%g %g", p->GetX(), p->GetY());
            out += buf;
        }
    };
    IGeometryCollectionPtr parts(g);
    if (parts && g->GetGeometryType() != esriGeometryMultipoint) {
        for (LONG i = 0; i < parts->GetGeometryCount(); ++i) {
            if (i) out += ';';
            add(IPointCollectionPtr(parts->GetGeometry(i)));
        }
    } else if (IPointCollectionPtr pc = g) {
        add(pc);
    }
    return out;
}

}  // namespace builders
