// tests/platform/geometry/geometry_test.cpp: the geometry objects as the importers and exporters
// use them: creation by class, the interfaces each kind answers, point collections, Z, envelopes,
// and errors that reach the caller with a description.
#include "platform/geometry/geometry.h"

#include "geometry_builders.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace builders;

namespace {

struct KindCase {
    const char* name;
    CLSID clsid;
    esriGeometryType type;
    bool point, curve, area, pointCollection, geometryCollection, topological;
};

const KindCase kKinds[] = {
    {"Point", CLSID_Point, esriGeometryPoint, true, false, false, false, false, true},
    {"Multipoint", CLSID_Multipoint, esriGeometryMultipoint, false, false, false, true, true, true},
    {"Polyline", CLSID_Polyline, esriGeometryPolyline, false, true, false, true, true, true},
    {"Polygon", CLSID_Polygon, esriGeometryPolygon, false, true, true, true, true, true},
    {"Path", CLSID_Path, esriGeometryPath, false, true, false, true, false, false},
    {"Ring", CLSID_Ring, esriGeometryRing, false, true, true, true, false, false},
    {"Line", CLSID_Line, esriGeometryLine, false, true, false, false, false, false},
    {"Envelope", CLSID_Envelope, esriGeometryEnvelope, false, false, true, false, false, false},
};

class Kind : public ::testing::TestWithParam<KindCase> {};

TEST_P(Kind, AnswersItsInterfacesOnly) {
    const KindCase& k = GetParam();
    IGeometryPtr g(k.clsid);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->GetGeometryType(), k.type);
    EXPECT_EQ(g->GetIsEmpty(), VARIANT_TRUE);
    EXPECT_EQ(bool(IPointPtr(g)), k.point);
    EXPECT_EQ(bool(ICurvePtr(g)), k.curve);
    EXPECT_EQ(bool(IAreaPtr(g)), k.area);
    EXPECT_EQ(bool(IPointCollectionPtr(g)), k.pointCollection);
    EXPECT_EQ(bool(IGeometryCollectionPtr(g)), k.geometryCollection);
    EXPECT_EQ(bool(ITopologicalOperatorPtr(g)), k.topological);
    EXPECT_TRUE(IRelationalOperatorPtr(g));
    EXPECT_TRUE(IClonePtr(g));
    EXPECT_EQ(bool(IPolylinePtr(g)), k.type == esriGeometryPolyline);
    EXPECT_EQ(bool(IPolygonPtr(g)), k.type == esriGeometryPolygon);
    EXPECT_EQ(bool(IEnvelopePtr(g)), k.type == esriGeometryEnvelope);
    // One identity whichever interface is asked.
    IUnknownPtr a(g);
    IUnknownPtr b = IRelationalOperatorPtr(g);
    EXPECT_EQ(a.GetInterfacePtr(), b.GetInterfacePtr());
    // Clones are new objects of the same kind.
    IClonePtr copy = IClonePtr(g)->Clone();
    EXPECT_NE(IUnknownPtr(copy).GetInterfacePtr(), a.GetInterfacePtr());
    EXPECT_EQ(IGeometryPtr(copy)->GetGeometryType(), k.type);
}

INSTANTIATE_TEST_SUITE_P(ByClass, Kind, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Point, StartsEmptyWithNaNAndKeepsZ) {
    IPointPtr p(CLSID_Point);
    EXPECT_TRUE(std::isnan(p->GetX()));
    EXPECT_TRUE(std::isnan(p->GetZ()));
    p->PutX(1.5);
    EXPECT_EQ(IGeometryPtr(p)->GetIsEmpty(), VARIANT_TRUE);  // no Y yet
    p->PutY(-2);
    EXPECT_EQ(IGeometryPtr(p)->GetIsEmpty(), VARIANT_FALSE);
    p->PutZ(-12.25);
    double x = 0, y = 0;
    p->QueryCoords(&x, &y);
    EXPECT_EQ(x, 1.5);
    EXPECT_EQ(y, -2);
    EXPECT_EQ(p->GetZ(), -12.25);
    IGeometryPtr(p)->SetEmpty();
    EXPECT_TRUE(std::isnan(p->GetX()));
}

// Soundings: each point of a multipoint keeps its own depth.
TEST(PointCollection, SoundingsKeepTheirDepths) {
    IPointCollectionPtr m(CLSID_Multipoint);
    IZAwarePtr(m)->PutZAware(VARIANT_TRUE);
    for (int i = 0; i < 4; ++i) m->AddPoint(pointZ(i, 2 * i, -0.5 * i));
    ASSERT_EQ(m->GetPointCount(), 4);
    for (LONG i = 0; i < 4; ++i) {
        IPointPtr p = m->GetPoint(i);
        EXPECT_EQ(p->GetX(), i);
        EXPECT_EQ(p->GetY(), 2 * i);
        EXPECT_EQ(p->GetZ(), -0.5 * i);
        EXPECT_EQ(IZAwarePtr(p)->GetZAware(), VARIANT_TRUE);
    }
    EXPECT_EQ(IGeometryCollectionPtr(m)->GetGeometryCount(), 4);
    IEnvelopePtr e = IGeometryPtr(m)->GetEnvelope();
    EXPECT_EQ(e->GetZMin(), -1.5);
    EXPECT_EQ(e->GetZMax(), 0);
}

TEST(PointCollection, InsertsBeforeAndAfterAndCopies) {
    IPointCollectionPtr path(CLSID_Path);
    addPoints(path, {{0, 0}, {2, 2}});
    const _variant_t one(1L);
    path->AddPoint(point(1, 1), &one);           // before index 1
    path->AddPoint(point(3, 3), nullptr, &one);  // after index 1
    path->AddPoint(point(9, 9), &vtMissing, &vtMissing);
    EXPECT_EQ(coords(IGeometryPtr(path)), "0 0|1 1|3 3|2 2|9 9");
    IPointPtr got = path->GetPoint(0);
    got->PutX(100);  // a copy: the path keeps its point
    EXPECT_EQ(path->GetPoint(0)->GetX(), 0);
    path->UpdatePoint(0, got);
    path->RemovePoints(1, 2);
    EXPECT_EQ(coords(IGeometryPtr(path)), "100 0|2 2|9 9");
}

TEST(PointCollection, PolylineAddsToItsLastPath) {
    IGeometryPtr line = polyline({{{0, 0}, {1, 0}}, {{5, 5}}});
    IPointCollectionPtr pc(line);
    pc->AddPoint(point(6, 5));
    EXPECT_EQ(coords(line), "0 0|1 0;5 5|6 5");
    EXPECT_EQ(pc->GetPointCount(), 4);
    EXPECT_EQ(ICurvePtr(line)->GetFromPoint()->GetX(), 0);
    EXPECT_EQ(ICurvePtr(line)->GetToPoint()->GetX(), 6);
    EXPECT_DOUBLE_EQ(ICurvePtr(line)->GetLength(), 2);
}

// The builders' bulk form: the same points as AddPoint one by one gives, Z unset, on the last part.
TEST(PointCollection, AddWKSPointsIsAddPointInBulk) {
    IGeometryPtr line = polyline({{{0, 0}, {1, 0}}, {{5, 5}}});
    IGeometryPtr byPoint = polyline({{{0, 0}, {1, 0}}, {{5, 5}}});
    const WKSPoint more[] = {{6, 5}, {7, 6}, {7, 6}};
    IPointCollectionPtr(line)->AddWKSPoints(3, more);
    for (const WKSPoint& w : more) IPointCollectionPtr(byPoint)->AddPoint(point(w.X, w.Y));
    EXPECT_EQ(coords(line), "0 0|1 0;5 5|6 5|7 6|7 6");
    EXPECT_EQ(IClonePtr(line)->IsEqual(IClonePtr(byPoint)), VARIANT_TRUE);
    EXPECT_TRUE(std::isnan(IPointCollectionPtr(line)->GetPoint(4)->GetZ()));

    IPointCollectionPtr ring(CLSID_Ring);  // an empty collection gets its first part
    ring->AddWKSPoints(2, more);
    ring->AddWKSPoints(0, nullptr);
    EXPECT_EQ(coords(IGeometryPtr(ring)), "6 5|7 6");
    EXPECT_EQ(ring->raw_AddWKSPoints(-1, more), E_INVALIDARG);
    EXPECT_EQ(ring->raw_AddWKSPoints(1, nullptr), E_POINTER);
    EXPECT_EQ(ring->GetPointCount(), 2);
}

TEST(PointCollection, BadIndexIsAnErrorWithADescription) {
    IPointCollectionPtr path(CLSID_Path);
    addPoints(path, {{0, 0}});
    try {
        path->GetPoint(1);
        FAIL() << "no error";
    } catch (const _com_error& e) {
        EXPECT_EQ(e.Error(), E_INVALIDARG);
        EXPECT_STREQ(static_cast<const wchar_t*>(e.Description()), L"point index out of range");
    }
    EXPECT_EQ(path->raw_AddPoint(IPointPtr(CLSID_Point), nullptr, nullptr), E_INVALIDARG);  // empty point
    EXPECT_EQ(path->raw_AddPoint(nullptr, nullptr, nullptr), E_INVALIDARG);
    const _variant_t five(5L);
    EXPECT_EQ(path->raw_AddPoint(point(1, 1), &five, nullptr), E_INVALIDARG);
    EXPECT_EQ(path->GetPointCount(), 1);
}

TEST(GeometryCollection, TakesOnlyPartsOfItsKind) {
    IGeometryCollectionPtr poly(CLSID_Polygon);
    IGeometryPtr path(CLSID_Path);
    EXPECT_EQ(poly->raw_AddGeometry(path, nullptr, nullptr), E_INVALIDARG);
    IGeometryCollectionPtr line(CLSID_Polyline);
    EXPECT_EQ(line->raw_AddGeometry(IGeometryPtr(CLSID_Ring), nullptr, nullptr), E_INVALIDARG);
    ILinePtr segment(CLSID_Line);
    segment->PutCoords(point(0, 0), point(3, 4));
    line->AddGeometry(IGeometryPtr(segment));
    EXPECT_DOUBLE_EQ(ICurvePtr(line)->GetLength(), 5);
    EXPECT_EQ(line->GetGeometry(0)->GetGeometryType(), esriGeometryPath);
    // A polygon given itself takes a copy of the rings it had, wherever they go.
    IGeometryPtr twice = polygon({{{0, 0}, {0, 1}, {1, 1}, {0, 0}}, {{5, 5}, {5, 6}, {6, 6}, {5, 5}}});
    const _variant_t first(0L);
    IGeometryCollectionPtr(twice)->AddGeometry(twice, &first);
    EXPECT_EQ(coords(twice), "0 0|0 1|1 1|0 0;5 5|5 6|6 6|5 5;0 0|0 1|1 1|0 0;5 5|5 6|6 6|5 5");
}

TEST(Envelope, WidensUnitesAndIntersects) {
    IEnvelopePtr e(CLSID_Envelope);
    EXPECT_TRUE(std::isnan(e->GetWidth()));
    e->PutCoords(10, 20, 0, 0);  // swapped bounds are put in order
    EXPECT_EQ(e->GetXMin(), 0);
    EXPECT_EQ(e->GetYMax(), 20);
    EXPECT_EQ(e->GetWidth(), 10);
    EXPECT_EQ(e->GetHeight(), 20);
    // One hundredth of width and height on each side.
    e->Expand(e->GetWidth() / 100, e->GetHeight() / 100, VARIANT_FALSE);
    EXPECT_DOUBLE_EQ(e->GetXMin(), -0.1);
    EXPECT_DOUBLE_EQ(e->GetYMax(), 20.2);
    e->PutCoords(0, 0, 10, 20);
    e->Expand(2, 0.5, VARIANT_TRUE);
    EXPECT_DOUBLE_EQ(e->GetXMin(), -5);
    EXPECT_DOUBLE_EQ(e->GetXMax(), 15);
    EXPECT_DOUBLE_EQ(e->GetYMin(), 5);
    EXPECT_DOUBLE_EQ(e->GetYMax(), 15);

    IEnvelopePtr other(CLSID_Envelope);
    e->Union(other);  // an empty one changes nothing
    EXPECT_DOUBLE_EQ(e->GetXMin(), -5);
    other->PutCoords(20, 0, 30, 1);
    e->Union(other);
    EXPECT_DOUBLE_EQ(e->GetXMax(), 30);
    EXPECT_DOUBLE_EQ(e->GetYMin(), 0);

    IEnvelopePtr a(CLSID_Envelope), b(CLSID_Envelope);
    a->PutCoords(0, 0, 10, 10);
    b->PutCoords(10, 5, 20, 20);
    a->Intersect(b);  // touching edge: a box of no width
    EXPECT_EQ(IGeometryPtr(a)->GetIsEmpty(), VARIANT_FALSE);
    EXPECT_EQ(a->GetWidth(), 0);
    EXPECT_EQ(a->GetHeight(), 5);
    b->PutCoords(50, 50, 60, 60);
    a->Intersect(b);
    EXPECT_EQ(IGeometryPtr(a)->GetIsEmpty(), VARIANT_TRUE);
}

TEST(Envelope, OfGeometriesAndForTheIndex) {
    IGeometryPtr line = polyline({{{3, -1}, {-2, 4}}, {{7, 0}}});
    IEnvelopePtr e = line->GetEnvelope();
    double x0, y0, x1, y1;
    e->QueryCoords(&x0, &y0, &x1, &y1);
    EXPECT_EQ(x0, -2);
    EXPECT_EQ(y0, -1);
    EXPECT_EQ(x1, 7);
    EXPECT_EQ(y1, 4);
    IEnvelopePtr mine(CLSID_Envelope);
    line->QueryEnvelope(mine);
    EXPECT_EQ(mine->GetXMax(), 7);
    const GeoExtent ext = geometryExtent(line);
    EXPECT_EQ(ext.xmin, -2);
    EXPECT_EQ(ext.ymax, 4);
    EXPECT_TRUE(geometryExtent(IGeometryPtr(CLSID_Polyline)).empty());
    EXPECT_TRUE(IGeometryPtr(CLSID_Polygon)->GetEnvelope()->GetIsEmpty());
    // An envelope is a geometry too: relations treat it as its box.
    EXPECT_EQ(IRelationalOperatorPtr(e)->Contains(IGeometryPtr(point(0, 0))), VARIANT_TRUE);
    EXPECT_DOUBLE_EQ(IAreaPtr(e)->GetArea(), 45);
}

TEST(Clone, IsEqualComparesKindCoordinatesAndZ) {
    IGeometryPtr a = polyline({{{0, 0}, {1, 1}}});
    IClonePtr copy = IClonePtr(a)->Clone();
    EXPECT_EQ(IClonePtr(a)->IsEqual(copy), VARIANT_TRUE);
    IPointCollectionPtr(copy)->AddPoint(point(2, 2));
    EXPECT_EQ(IClonePtr(a)->IsEqual(copy), VARIANT_FALSE);
    EXPECT_EQ(IClonePtr(a)->IsEqual(IClonePtr(multipoint({{0, 0}, {1, 1}}))), VARIANT_FALSE);
}

}  // namespace
