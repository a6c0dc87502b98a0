// platform/geometry/geometry.h: the geometry objects of the platform (points with optional Z,
// multipoints, paths, rings, lines, polylines, polygons, envelopes) and their operators (relations,
// union, intersection, simplification, area, length, distance), computed with GEOS.
//
// Objects are created by class id (`IPointPtr p(CLSID_Point);`) and reached through the interfaces
// below. Each interface has the raw methods (get_X / put_X / raw_Name, returning an HRESULT) and
// the throwing wrappers (GetX / PutX / Name), which raise _com_error on a failed HRESULT; the
// error's description says what went wrong. No method lets an exception out.
//
// Semantics a caller relies on:
// - Coordinates are doubles in the units of the data (degrees); X/Y/Z of a new point are NaN, and a
//   point is empty while X or Y is NaN. Z is carried always and used only where ZAware is set (the
//   GeoPackage blobs); relations and overlay work in two dimensions.
// - Point collections and geometry collections hold copies: AddPoint and AddGeometry copy their
//   argument, Point(i) and Geometry(i) return new objects. Change a part, then add it (again).
// - A polyline's AddPoint appends to its last path (starting one when there is none); a polygon's
//   AddPoint appends to its last ring. PointCount counts the points of all parts.
// - Polygons are rings in any order and orientation until Simplify: it closes the rings, drops
//   rings whose points lie on one line, nests them (a ring inside an odd number of others is a hole), orients them
//   (exterior rings clockwise, holes counter-clockwise), orders each exterior ring before its holes
//   and repairs self-intersections. Relations, areas, exterior rings and blobs read rings by
//   nesting, so they do not depend on orientation; a lone ring's IsExterior goes by orientation
//   (clockwise is exterior), which after Simplify agrees with its place in the polygon.
//   A polyline's Simplify drops repeated points and paths of fewer than two points; points and
//   multipoints stay as they are (two soundings at one place are two soundings).
// - Intersect(other, dimension) gives a multipoint (0), a polyline (1) or a polygon (2); Union gives
//   a geometry of the receiver's kind (points give a multipoint) and refuses (E_INVALIDARG) a
//   geometry of another dimension, which it could not keep. Results come without Z, polygon rings
//   oriented as after Simplify.
// - IEnvelope::Union and IEnvelope::Intersect change the receiver; an intersection that is void
//   leaves it empty.
//
// GEOS runs in one context per thread (platform/geometry/geos_support.cpp); objects may move between
// threads, calls on one object must not overlap.
#pragma once

#include "platform/com/com.h"

#include <cmath>
#include <limits>

enum esriGeometryType {
    esriGeometryNull = 0,
    esriGeometryPoint = 1,
    esriGeometryMultipoint = 2,
    esriGeometryPolyline = 3,
    esriGeometryPolygon = 4,
    esriGeometryEnvelope = 5,
    esriGeometryPath = 6,
    esriGeometryAny = 7,
    esriGeometryRing = 11,
    esriGeometryLine = 13,
};

enum esriGeometryDimension {
    esriGeometryNoDimension = -1,
    esriGeometry0Dimension = 1,
    esriGeometry1Dimension = 2,
    esriGeometry2Dimension = 4,
};

// How a spatial filter relates its query geometry (first) to each candidate (second); used by the
// geodatabase's spatial filters and SpatialPredicate (platform/geometry/spatial_relation.h).
enum esriSpatialRelEnum {
    esriSpatialRelUndefined = 0,           // intersects, or the relation description alone when set
    esriSpatialRelIntersects = 1,
    esriSpatialRelEnvelopeIntersects = 2,  // the two envelopes intersect
    esriSpatialRelIndexIntersects = 3,     // same as envelope-intersects
    esriSpatialRelTouches = 4,
    esriSpatialRelOverlaps = 5,
    esriSpatialRelCrosses = 6,
    esriSpatialRelWithin = 7,              // query geometry within candidate
    esriSpatialRelContains = 8,            // query geometry contains candidate
    esriSpatialRelRelation = 9,            // by the DE-9IM relation description only
};

struct IEnvelope;
struct IPoint;
struct IRing;
struct IClone;

// ---------------------------------------------------------------------------------------------
// Interfaces
// ---------------------------------------------------------------------------------------------

struct IGeometry : IUnknown {
    static constexpr GUID iid = {0xA4C490B8, 0x9441, 0x11D0, {0x82, 0xF7, 0x00, 0x00, 0xF8, 0x03, 0x40, 0x32}};
    using base_interface = IUnknown;
    virtual HRESULT get_GeometryType(esriGeometryType* type) = 0;
    virtual HRESULT get_Dimension(esriGeometryDimension* dimension) = 0;
    virtual HRESULT get_Envelope(IEnvelope** envelope) = 0;     // a new envelope object
    virtual HRESULT raw_QueryEnvelope(IEnvelope* envelope) = 0; // fills the caller's envelope
    virtual HRESULT get_IsEmpty(VARIANT_BOOL* empty) = 0;
    virtual HRESULT raw_SetEmpty() = 0;

    esriGeometryType GetGeometryType();
    esriGeometryDimension GetDimension();
    _com_ptr_t<IEnvelope> GetEnvelope();
    HRESULT QueryEnvelope(IEnvelope* envelope);
    VARIANT_BOOL GetIsEmpty();
    HRESULT SetEmpty();
};

struct IPoint : IGeometry {
    static constexpr GUID iid = {0x067B52C9, 0x3357, 0x4578, {0x93, 0x0B, 0xFE, 0xDB, 0xDB, 0x98, 0xD8, 0x74}};
    using base_interface = IGeometry;
    virtual HRESULT get_X(double* x) = 0;
    virtual HRESULT put_X(double x) = 0;
    virtual HRESULT get_Y(double* y) = 0;
    virtual HRESULT put_Y(double y) = 0;
    virtual HRESULT get_Z(double* z) = 0;
    virtual HRESULT put_Z(double z) = 0;
    virtual HRESULT raw_PutCoords(double x, double y) = 0;
    virtual HRESULT raw_QueryCoords(double* x, double* y) = 0;

    double GetX();
    void PutX(double x);
    double GetY();
    void PutY(double y);
    double GetZ();
    void PutZ(double z);
    HRESULT PutCoords(double x, double y);
    HRESULT QueryCoords(double* x, double* y);
};

// Points without order of meaning; its points through IPointCollection / IGeometryCollection.
struct IMultipoint : IGeometry {
    static constexpr GUID iid = {0xD081474E, 0x0461, 0x42A4, {0xAD, 0x82, 0xEA, 0xB2, 0x38, 0x26, 0xC2, 0x31}};
    using base_interface = IGeometry;
};

struct ICurve : IGeometry {
    static constexpr GUID iid = {0xF2485894, 0x4CBD, 0x11D1, {0x83, 0x4E, 0x00, 0x00, 0xF8, 0x77, 0x5B, 0xE9}};
    using base_interface = IGeometry;
    virtual HRESULT get_Length(double* length) = 0;            // 2-D; a polygon's is its perimeter
    virtual HRESULT get_FromPoint(IPoint** point) = 0;         // first point of the first part
    virtual HRESULT get_ToPoint(IPoint** point) = 0;           // last point of the last part
    virtual HRESULT get_IsClosed(VARIANT_BOOL* closed) = 0;    // every part ends where it starts

    double GetLength();
    _com_ptr_t<IPoint> GetFromPoint();
    _com_ptr_t<IPoint> GetToPoint();
    VARIANT_BOOL GetIsClosed();
};

struct IPolycurve : ICurve {
    static constexpr GUID iid = {0xC511AAFF, 0xB841, 0x4982, {0x95, 0x4E, 0xF4, 0x2F, 0xA6, 0x68, 0x4D, 0x29}};
    using base_interface = ICurve;
    // Douglas-Peucker per part: drops vertices closer than the offset to the kept line; the first
    // and last point of every part stay. Rings that would fall below four points stay as they are.
    virtual HRESULT raw_Generalize(double maxAllowableOffset) = 0;

    HRESULT Generalize(double maxAllowableOffset);
};

// Paths (IPath) as parts.
struct IPolyline : IPolycurve {
    static constexpr GUID iid = {0x8A542E5D, 0xA621, 0x4682, {0x81, 0xB6, 0xB2, 0x35, 0x4F, 0xC1, 0xF9, 0x5A}};
    using base_interface = IPolycurve;
};

// Rings (IRing) as parts.
struct IPolygon : IPolycurve {
    static constexpr GUID iid = {0x2FED9477, 0xA9B9, 0x4FC0, {0x86, 0x1C, 0x48, 0x71, 0x9A, 0x32, 0x15, 0x4C}};
    using base_interface = IPolycurve;
    virtual HRESULT raw_Close() = 0;                               // closes every ring
    virtual HRESULT get_ExteriorRingCount(LONG* count) = 0;        // rings that nest as exteriors
    // Fills rings[0 .. ExteriorRingCount-1] with new ring objects (the caller releases them).
    virtual HRESULT raw_QueryExteriorRings(IRing** rings) = 0;

    HRESULT Close();
    LONG GetExteriorRingCount();
    HRESULT QueryExteriorRings(IRing** rings);
};

struct IPath : ICurve {
    static constexpr GUID iid = {0x40B3F0E9, 0x2B4C, 0x4D08, {0xAB, 0x26, 0xF4, 0xD9, 0x89, 0xF5, 0xF2, 0x73}};
    using base_interface = ICurve;
};

struct IRing : ICurve {
    static constexpr GUID iid = {0x0CAE45A7, 0x4C61, 0x4D36, {0x84, 0x34, 0x67, 0xF0, 0x16, 0x01, 0x58, 0x83}};
    using base_interface = ICurve;
    virtual HRESULT raw_Close() = 0;                          // appends the first point if needed
    virtual HRESULT get_IsExterior(VARIANT_BOOL* exterior) = 0; // clockwise

    HRESULT Close();
    VARIANT_BOOL GetIsExterior();
};

// A straight segment between two points.
struct ILine : ICurve {
    static constexpr GUID iid = {0xBDEA110A, 0x72CB, 0x454F, {0xA0, 0x0B, 0xA5, 0x6D, 0x69, 0x4C, 0x18, 0x0D}};
    using base_interface = ICurve;
    virtual HRESULT raw_PutCoords(IPoint* from, IPoint* to) = 0;

    HRESULT PutCoords(IPoint* from, IPoint* to);
};

// An axis-aligned box; empty until its coordinates are set (NaN bounds). Width and Height are NaN
// when empty.
struct IEnvelope : IGeometry {
    static constexpr GUID iid = {0xA78F89F6, 0x0F5A, 0x49FC, {0x97, 0x05, 0xBB, 0x1A, 0xF0, 0x69, 0x0D, 0xA3}};
    using base_interface = IGeometry;
    virtual HRESULT get_XMin(double* v) = 0;
    virtual HRESULT put_XMin(double v) = 0;
    virtual HRESULT get_YMin(double* v) = 0;
    virtual HRESULT put_YMin(double v) = 0;
    virtual HRESULT get_XMax(double* v) = 0;
    virtual HRESULT put_XMax(double v) = 0;
    virtual HRESULT get_YMax(double* v) = 0;
    virtual HRESULT put_YMax(double v) = 0;
    virtual HRESULT get_ZMin(double* v) = 0;
    virtual HRESULT put_ZMin(double v) = 0;
    virtual HRESULT get_ZMax(double* v) = 0;
    virtual HRESULT put_ZMax(double v) = 0;
    virtual HRESULT get_Width(double* v) = 0;
    virtual HRESULT get_Height(double* v) = 0;
    // Sets all four bounds; swapped bounds are put in order.
    virtual HRESULT raw_PutCoords(double xmin, double ymin, double xmax, double ymax) = 0;
    virtual HRESULT raw_QueryCoords(double* xmin, double* ymin, double* xmax, double* ymax) = 0;
    // asRatio false: widens each side by dx (left and right) and dy (bottom and top);
    // asRatio true: scales width by dx and height by dy about the centre.
    virtual HRESULT raw_Expand(double dx, double dy, VARIANT_BOOL asRatio) = 0;
    virtual HRESULT raw_Union(IEnvelope* other) = 0;     // this := smallest box holding both
    virtual HRESULT raw_Intersect(IEnvelope* other) = 0; // this := common part, or empty

    double GetXMin();
    void PutXMin(double v);
    double GetYMin();
    void PutYMin(double v);
    double GetXMax();
    void PutXMax(double v);
    double GetYMax();
    void PutYMax(double v);
    double GetZMin();
    void PutZMin(double v);
    double GetZMax();
    void PutZMax(double v);
    double GetWidth();
    double GetHeight();
    HRESULT PutCoords(double xmin, double ymin, double xmax, double ymax);
    HRESULT QueryCoords(double* xmin, double* ymin, double* xmax, double* ymax);
    HRESULT Expand(double dx, double dy, VARIANT_BOOL asRatio);
    HRESULT Union(IEnvelope* other);
    HRESULT Intersect(IEnvelope* other);
};

// A vertex as plain coordinates, for AddWKSPoints.
struct WKSPoint {
    double X;
    double Y;
};

// `before` / `after` of AddPoint and AddGeometry: null, VT_EMPTY or VT_ERROR (vtMissing) for
// "not given", or an integer index; at most one of them may be given; none appends.
// AddWKSPoints appends `count` points (Z not set) as that many AddPoint calls would, without a
// point object each.
struct IPointCollection : IUnknown {
    static constexpr GUID iid = {0xDC11D88C, 0x6F65, 0x4282, {0xB6, 0x5A, 0xEB, 0xCC, 0xB8, 0xF1, 0xAD, 0x1E}};
    using base_interface = IUnknown;
    virtual HRESULT get_PointCount(LONG* count) = 0;
    virtual HRESULT get_Point(LONG index, IPoint** point) = 0;        // a new point
    virtual HRESULT raw_QueryPoint(LONG index, IPoint* point) = 0;    // fills the caller's point
    virtual HRESULT raw_AddPoint(IPoint* point, const VARIANT* before, const VARIANT* after) = 0;
    virtual HRESULT raw_UpdatePoint(LONG index, IPoint* point) = 0;
    virtual HRESULT raw_RemovePoints(LONG index, LONG count) = 0;
    virtual HRESULT raw_AddWKSPoints(LONG count, const WKSPoint* points) = 0;

    LONG GetPointCount();
    _com_ptr_t<IPoint> GetPoint(LONG index);
    HRESULT QueryPoint(LONG index, IPoint* point);
    HRESULT AddPoint(IPoint* point, const VARIANT* before = nullptr, const VARIANT* after = nullptr);
    HRESULT UpdatePoint(LONG index, IPoint* point);
    HRESULT RemovePoints(LONG index, LONG count);
    HRESULT AddWKSPoints(LONG count, const WKSPoint* points);
};

// Parts: points of a multipoint, paths of a polyline, rings of a polygon.
struct IGeometryCollection : IUnknown {
    static constexpr GUID iid = {0xB9D881D6, 0x925F, 0x4B9C, {0xA5, 0xD1, 0xF5, 0xCE, 0x0F, 0x7E, 0xCC, 0xDB}};
    using base_interface = IUnknown;
    virtual HRESULT get_GeometryCount(LONG* count) = 0;
    virtual HRESULT get_Geometry(LONG index, IGeometry** part) = 0;  // a copy of the part
    // A polyline takes paths, lines and polylines (their paths); a polygon rings and polygons
    // (their rings); a multipoint points and multipoints. Anything else: E_INVALIDARG.
    virtual HRESULT raw_AddGeometry(IGeometry* part, const VARIANT* before, const VARIANT* after) = 0;
    virtual HRESULT raw_RemoveGeometries(LONG index, LONG count) = 0;

    LONG GetGeometryCount();
    _com_ptr_t<IGeometry> GetGeometry(LONG index);
    HRESULT AddGeometry(IGeometry* part, const VARIANT* before = nullptr, const VARIANT* after = nullptr);
    HRESULT RemoveGeometries(LONG index, LONG count);
};

struct IZAware : IUnknown {
    static constexpr GUID iid = {0x69A344DF, 0xA9CF, 0x4D55, {0xBD, 0xBB, 0xE5, 0x83, 0x4C, 0x3D, 0xB9, 0x64}};
    using base_interface = IUnknown;
    virtual HRESULT get_ZAware(VARIANT_BOOL* aware) = 0;
    virtual HRESULT put_ZAware(VARIANT_BOOL aware) = 0;

    VARIANT_BOOL GetZAware();
    void PutZAware(VARIANT_BOOL aware);
};

// Relations of this geometry (first) to another (second), in two dimensions, as GEOS decides them.
// Relate takes a DE-9IM pattern of nine characters out of T F * 0 1 2 ("T********": the interiors
// meet); another text gives E_INVALIDARG.
struct IRelationalOperator : IUnknown {
    static constexpr GUID iid = {0x1B07790E, 0x38C5, 0x11D0, {0x92, 0xD2, 0x00, 0x80, 0x5F, 0x7C, 0x28, 0xB0}};
    using base_interface = IUnknown;
    virtual HRESULT raw_Contains(IGeometry* other, VARIANT_BOOL* result) = 0;
    virtual HRESULT raw_Within(IGeometry* other, VARIANT_BOOL* result) = 0;
    virtual HRESULT raw_Touches(IGeometry* other, VARIANT_BOOL* result) = 0;
    virtual HRESULT raw_Crosses(IGeometry* other, VARIANT_BOOL* result) = 0;
    virtual HRESULT raw_Overlaps(IGeometry* other, VARIANT_BOOL* result) = 0;
    virtual HRESULT raw_Disjoint(IGeometry* other, VARIANT_BOOL* result) = 0;
    virtual HRESULT raw_Equals(IGeometry* other, VARIANT_BOOL* result) = 0;
    virtual HRESULT raw_Relate(IGeometry* other, BSTR relationDescription, VARIANT_BOOL* result) = 0;

    VARIANT_BOOL Contains(IGeometry* other);
    VARIANT_BOOL Within(IGeometry* other);
    VARIANT_BOOL Touches(IGeometry* other);
    VARIANT_BOOL Crosses(IGeometry* other);
    VARIANT_BOOL Overlaps(IGeometry* other);
    VARIANT_BOOL Disjoint(IGeometry* other);
    VARIANT_BOOL Equals(IGeometry* other);
    VARIANT_BOOL Relate(IGeometry* other, const OLECHAR* relationDescription);
};

struct ITopologicalOperator : IUnknown {
    static constexpr GUID iid = {0x1B077911, 0x38C5, 0x11D0, {0x92, 0xD2, 0x00, 0x80, 0x5F, 0x7C, 0x28, 0xB0}};
    using base_interface = IUnknown;
    virtual HRESULT raw_Union(IGeometry* other, IGeometry** result) = 0;
    virtual HRESULT raw_Intersect(IGeometry* other, esriGeometryDimension dimension, IGeometry** result) = 0;
    virtual HRESULT raw_Simplify() = 0;  // in place
    virtual HRESULT raw_Buffer(double distance, IGeometry** result) = 0;  // a polygon
    virtual HRESULT get_IsSimple(VARIANT_BOOL* simple) = 0;

    _com_ptr_t<IGeometry> Union(IGeometry* other);
    _com_ptr_t<IGeometry> Intersect(IGeometry* other, esriGeometryDimension dimension);
    HRESULT Simplify();
    _com_ptr_t<IGeometry> Buffer(double distance);
    VARIANT_BOOL GetIsSimple();
};

// A polygon's area counts holes negative whatever the orientation; a ring's is positive when it
// runs clockwise and negative otherwise; an envelope's is width times height.
struct IArea : IUnknown {
    static constexpr GUID iid = {0x6039E192, 0x4CC8, 0x11D1, {0x83, 0x4E, 0x00, 0x00, 0xF8, 0x77, 0x5B, 0xE9}};
    using base_interface = IUnknown;
    virtual HRESULT get_Area(double* area) = 0;

    double GetArea();
};

struct IProximityOperator : IUnknown {
    static constexpr GUID iid = {0x811E3AFD, 0xA079, 0x446D, {0xB5, 0x70, 0x7A, 0x01, 0x04, 0xD7, 0x93, 0x25}};
    using base_interface = IUnknown;
    // Shortest 2-D distance; rings and paths count as lines, polygons as areas.
    virtual HRESULT raw_ReturnDistance(IGeometry* other, double* distance) = 0;

    double ReturnDistance(IGeometry* other);
};

struct IClone : IUnknown {
    static constexpr GUID iid = {0x71D80224, 0x26EB, 0x48E6, {0xA0, 0x61, 0x35, 0x7E, 0x72, 0x78, 0x32, 0x99}};
    using base_interface = IUnknown;
    virtual HRESULT raw_Clone(IClone** copy) = 0;
    virtual HRESULT raw_IsEqual(IClone* other, VARIANT_BOOL* equal) = 0;  // same kind and coordinates

    _com_ptr_t<IClone> Clone();
    VARIANT_BOOL IsEqual(IClone* other);
};

_COM_SMARTPTR_TYPEDEF(IGeometry, __uuidof(IGeometry));
_COM_SMARTPTR_TYPEDEF(IPoint, __uuidof(IPoint));
_COM_SMARTPTR_TYPEDEF(IMultipoint, __uuidof(IMultipoint));
_COM_SMARTPTR_TYPEDEF(ICurve, __uuidof(ICurve));
_COM_SMARTPTR_TYPEDEF(IPolycurve, __uuidof(IPolycurve));
_COM_SMARTPTR_TYPEDEF(IPolyline, __uuidof(IPolyline));
_COM_SMARTPTR_TYPEDEF(IPolygon, __uuidof(IPolygon));
_COM_SMARTPTR_TYPEDEF(IPath, __uuidof(IPath));
_COM_SMARTPTR_TYPEDEF(IRing, __uuidof(IRing));
_COM_SMARTPTR_TYPEDEF(ILine, __uuidof(ILine));
_COM_SMARTPTR_TYPEDEF(IEnvelope, __uuidof(IEnvelope));
_COM_SMARTPTR_TYPEDEF(IPointCollection, __uuidof(IPointCollection));
_COM_SMARTPTR_TYPEDEF(IGeometryCollection, __uuidof(IGeometryCollection));
_COM_SMARTPTR_TYPEDEF(IZAware, __uuidof(IZAware));
_COM_SMARTPTR_TYPEDEF(IRelationalOperator, __uuidof(IRelationalOperator));
_COM_SMARTPTR_TYPEDEF(ITopologicalOperator, __uuidof(ITopologicalOperator));
_COM_SMARTPTR_TYPEDEF(IArea, __uuidof(IArea));
_COM_SMARTPTR_TYPEDEF(IProximityOperator, __uuidof(IProximityOperator));
_COM_SMARTPTR_TYPEDEF(IClone, __uuidof(IClone));

// ---------------------------------------------------------------------------------------------
// Classes (registered with registerComClass when libplatform is loaded)
// ---------------------------------------------------------------------------------------------
// Point: IGeometry IPoint IZAware IRelationalOperator ITopologicalOperator IProximityOperator IClone
// Multipoint: IGeometry IMultipoint IPointCollection IGeometryCollection + the operators
// Polyline: IGeometry ICurve IPolycurve IPolyline IPointCollection IGeometryCollection + operators
// Polygon: as Polyline with IPolygon in place of IPolyline, and IArea
// Path, Ring: IGeometry ICurve IPath / IRing IPointCollection IZAware IRelationalOperator
//             IProximityOperator IClone (Ring also IArea)
// Line: IGeometry ICurve ILine IRelationalOperator IProximityOperator IClone
// Envelope: IGeometry IEnvelope IZAware IArea IRelationalOperator IProximityOperator IClone
// ("the operators": IZAware IRelationalOperator ITopologicalOperator IProximityOperator IClone)
inline constexpr CLSID CLSID_Point = {0x81AC3070, 0xA62A, 0x4AAC, {0x9C, 0x9D, 0xDB, 0xCA, 0x3C, 0x2B, 0x9A, 0xC7}};
inline constexpr CLSID CLSID_Multipoint = {0x2315A4A8, 0x4C79, 0x4E8C, {0x8B, 0xC4, 0xB1, 0xFA, 0xC1, 0x73, 0x1F, 0x43}};
inline constexpr CLSID CLSID_Polyline = {0xCC913C1A, 0x1710, 0x4B3D, {0xBB, 0x39, 0xC3, 0x9C, 0x50, 0xF0, 0x61, 0xC2}};
inline constexpr CLSID CLSID_Polygon = {0xC7478E44, 0xA0B5, 0x44CD, {0xA6, 0xF8, 0x0F, 0xA2, 0x65, 0x42, 0x78, 0xBF}};
inline constexpr CLSID CLSID_Path = {0xD54F0078, 0x6E3D, 0x4DEB, {0xB9, 0xBD, 0x6E, 0x84, 0x94, 0x3F, 0x15, 0x9B}};
inline constexpr CLSID CLSID_Ring = {0x2513579C, 0xAC37, 0x4DD3, {0xB0, 0x68, 0x7F, 0x0B, 0x94, 0xCF, 0xCE, 0x73}};
inline constexpr CLSID CLSID_Line = {0x5CCAAF57, 0xDCE8, 0x4277, {0xB3, 0xC3, 0x84, 0xC7, 0x9D, 0x13, 0xF6, 0x0F}};
inline constexpr CLSID CLSID_Envelope = {0x43A6BF1D, 0x5F10, 0x444A, {0xB3, 0x95, 0xBC, 0x3D, 0xF7, 0xC7, 0x99, 0x65}};

// ---------------------------------------------------------------------------------------------
// Plain C++ helpers for the geodatabase (no COM boundary: these throw)
// ---------------------------------------------------------------------------------------------

// A 2-D extent; empty (all NaN) for an empty geometry.
struct GeoExtent {
    double xmin = std::numeric_limits<double>::quiet_NaN();
    double ymin = std::numeric_limits<double>::quiet_NaN();
    double xmax = std::numeric_limits<double>::quiet_NaN();
    double ymax = std::numeric_limits<double>::quiet_NaN();

    bool empty() const { return std::isnan(xmin) || std::isnan(ymin) || std::isnan(xmax) || std::isnan(ymax); }
    // Closed boxes: touching edges intersect. Empty intersects nothing.
    bool intersects(const GeoExtent& o) const {
        return !empty() && !o.empty() && xmin <= o.xmax && o.xmin <= xmax && ymin <= o.ymax && o.ymin <= ymax;
    }
};

// The extent of a geometry of this library. Throws _com_error (E_INVALIDARG) for null or a foreign
// object.
GeoExtent geometryExtent(IGeometry* geometry);

// ---------------------------------------------------------------------------------------------
// Wrapper bodies
// ---------------------------------------------------------------------------------------------
namespace geometry_detail {
using ::check;  // com_error.h's, for the wrapper bodies below
template <class I>
_com_ptr_t<I> attach(I* raw) {
    _com_ptr_t<I> p;
    p.Attach(raw);
    return p;
}
}  // namespace geometry_detail

#define TARVO_GEOMETRY_GETTER(Iface, Type, Name, Init) \
    inline Type Iface::Get##Name() {                     \
        Type v = Init;                                   \
        geometry_detail::check(get_##Name(&v));          \
        return v;                                        \
    }
#define TARVO_GEOMETRY_PUTTER(Iface, Type, Name) \
    inline void Iface::Put##Name(Type v) { geometry_detail::check(put_##Name(v)); }

TARVO_GEOMETRY_GETTER(IGeometry, esriGeometryType, GeometryType, esriGeometryNull)
TARVO_GEOMETRY_GETTER(IGeometry, esriGeometryDimension, Dimension, esriGeometryNoDimension)
TARVO_GEOMETRY_GETTER(IGeometry, VARIANT_BOOL, IsEmpty, VARIANT_TRUE)
inline IEnvelopePtr IGeometry::GetEnvelope() {
    IEnvelope* raw = nullptr;
    geometry_detail::check(get_Envelope(&raw));
    return geometry_detail::attach(raw);
}
inline HRESULT IGeometry::QueryEnvelope(IEnvelope* e) { return geometry_detail::check(raw_QueryEnvelope(e)); }
inline HRESULT IGeometry::SetEmpty() { return geometry_detail::check(raw_SetEmpty()); }

TARVO_GEOMETRY_GETTER(IPoint, double, X, 0)
TARVO_GEOMETRY_PUTTER(IPoint, double, X)
TARVO_GEOMETRY_GETTER(IPoint, double, Y, 0)
TARVO_GEOMETRY_PUTTER(IPoint, double, Y)
TARVO_GEOMETRY_GETTER(IPoint, double, Z, 0)
TARVO_GEOMETRY_PUTTER(IPoint, double, Z)
inline HRESULT IPoint::PutCoords(double x, double y) { return geometry_detail::check(raw_PutCoords(x, y)); }
inline HRESULT IPoint::QueryCoords(double* x, double* y) { return geometry_detail::check(raw_QueryCoords(x, y)); }

TARVO_GEOMETRY_GETTER(ICurve, double, Length, 0)
TARVO_GEOMETRY_GETTER(ICurve, VARIANT_BOOL, IsClosed, VARIANT_FALSE)
inline IPointPtr ICurve::GetFromPoint() {
    IPoint* raw = nullptr;
    geometry_detail::check(get_FromPoint(&raw));
    return geometry_detail::attach(raw);
}
inline IPointPtr ICurve::GetToPoint() {
    IPoint* raw = nullptr;
    geometry_detail::check(get_ToPoint(&raw));
    return geometry_detail::attach(raw);
}
inline HRESULT IPolycurve::Generalize(double d) { return geometry_detail::check(raw_Generalize(d)); }
inline HRESULT IPolygon::Close() { return geometry_detail::check(raw_Close()); }
TARVO_GEOMETRY_GETTER(IPolygon, LONG, ExteriorRingCount, 0)
inline HRESULT IPolygon::QueryExteriorRings(IRing** rings) { return geometry_detail::check(raw_QueryExteriorRings(rings)); }
inline HRESULT IRing::Close() { return geometry_detail::check(raw_Close()); }
TARVO_GEOMETRY_GETTER(IRing, VARIANT_BOOL, IsExterior, VARIANT_FALSE)
inline HRESULT ILine::PutCoords(IPoint* from, IPoint* to) { return geometry_detail::check(raw_PutCoords(from, to)); }

TARVO_GEOMETRY_GETTER(IEnvelope, double, XMin, 0)
TARVO_GEOMETRY_PUTTER(IEnvelope, double, XMin)
TARVO_GEOMETRY_GETTER(IEnvelope, double, YMin, 0)
TARVO_GEOMETRY_PUTTER(IEnvelope, double, YMin)
TARVO_GEOMETRY_GETTER(IEnvelope, double, XMax, 0)
TARVO_GEOMETRY_PUTTER(IEnvelope, double, XMax)
TARVO_GEOMETRY_GETTER(IEnvelope, double, YMax, 0)
TARVO_GEOMETRY_PUTTER(IEnvelope, double, YMax)
TARVO_GEOMETRY_GETTER(IEnvelope, double, ZMin, 0)
TARVO_GEOMETRY_PUTTER(IEnvelope, double, ZMin)
TARVO_GEOMETRY_GETTER(IEnvelope, double, ZMax, 0)
TARVO_GEOMETRY_PUTTER(IEnvelope, double, ZMax)
TARVO_GEOMETRY_GETTER(IEnvelope, double, Width, 0)
TARVO_GEOMETRY_GETTER(IEnvelope, double, Height, 0)
inline HRESULT IEnvelope::PutCoords(double a, double b, double c, double d) {
    return geometry_detail::check(raw_PutCoords(a, b, c, d));
}
inline HRESULT IEnvelope::QueryCoords(double* a, double* b, double* c, double* d) {
    return geometry_detail::check(raw_QueryCoords(a, b, c, d));
}
inline HRESULT IEnvelope::Expand(double dx, double dy, VARIANT_BOOL r) { return geometry_detail::check(raw_Expand(dx, dy, r)); }
inline HRESULT IEnvelope::Union(IEnvelope* o) { return geometry_detail::check(raw_Union(o)); }
inline HRESULT IEnvelope::Intersect(IEnvelope* o) { return geometry_detail::check(raw_Intersect(o)); }

TARVO_GEOMETRY_GETTER(IPointCollection, LONG, PointCount, 0)
inline IPointPtr IPointCollection::GetPoint(LONG i) {
    IPoint* raw = nullptr;
    geometry_detail::check(get_Point(i, &raw));
    return geometry_detail::attach(raw);
}
inline HRESULT IPointCollection::QueryPoint(LONG i, IPoint* p) { return geometry_detail::check(raw_QueryPoint(i, p)); }
inline HRESULT IPointCollection::AddPoint(IPoint* p, const VARIANT* before, const VARIANT* after) {
    return geometry_detail::check(raw_AddPoint(p, before, after));
}
inline HRESULT IPointCollection::UpdatePoint(LONG i, IPoint* p) { return geometry_detail::check(raw_UpdatePoint(i, p)); }
inline HRESULT IPointCollection::RemovePoints(LONG i, LONG n) { return geometry_detail::check(raw_RemovePoints(i, n)); }
inline HRESULT IPointCollection::AddWKSPoints(LONG n, const WKSPoint* p) {
    return geometry_detail::check(raw_AddWKSPoints(n, p));
}

TARVO_GEOMETRY_GETTER(IGeometryCollection, LONG, GeometryCount, 0)
inline IGeometryPtr IGeometryCollection::GetGeometry(LONG i) {
    IGeometry* raw = nullptr;
    geometry_detail::check(get_Geometry(i, &raw));
    return geometry_detail::attach(raw);
}
inline HRESULT IGeometryCollection::AddGeometry(IGeometry* g, const VARIANT* before, const VARIANT* after) {
    return geometry_detail::check(raw_AddGeometry(g, before, after));
}
inline HRESULT IGeometryCollection::RemoveGeometries(LONG i, LONG n) {
    return geometry_detail::check(raw_RemoveGeometries(i, n));
}

TARVO_GEOMETRY_GETTER(IZAware, VARIANT_BOOL, ZAware, VARIANT_FALSE)
TARVO_GEOMETRY_PUTTER(IZAware, VARIANT_BOOL, ZAware)

#define TARVO_GEOMETRY_RELATION(Name)                                  \
    inline VARIANT_BOOL IRelationalOperator::Name(IGeometry* other) { \
        VARIANT_BOOL r = VARIANT_FALSE;                                \
        geometry_detail::check(raw_##Name(other, &r));                 \
        return r;                                                      \
    }
TARVO_GEOMETRY_RELATION(Contains)
TARVO_GEOMETRY_RELATION(Within)
TARVO_GEOMETRY_RELATION(Touches)
TARVO_GEOMETRY_RELATION(Crosses)
TARVO_GEOMETRY_RELATION(Overlaps)
TARVO_GEOMETRY_RELATION(Disjoint)
TARVO_GEOMETRY_RELATION(Equals)
#undef TARVO_GEOMETRY_RELATION
inline VARIANT_BOOL IRelationalOperator::Relate(IGeometry* other, const OLECHAR* description) {
    VARIANT_BOOL r = VARIANT_FALSE;
    geometry_detail::check(raw_Relate(other, const_cast<BSTR>(description), &r));
    return r;
}

inline IGeometryPtr ITopologicalOperator::Union(IGeometry* other) {
    IGeometry* raw = nullptr;
    geometry_detail::check(raw_Union(other, &raw));
    return geometry_detail::attach(raw);
}
inline IGeometryPtr ITopologicalOperator::Intersect(IGeometry* other, esriGeometryDimension d) {
    IGeometry* raw = nullptr;
    geometry_detail::check(raw_Intersect(other, d, &raw));
    return geometry_detail::attach(raw);
}
inline HRESULT ITopologicalOperator::Simplify() { return geometry_detail::check(raw_Simplify()); }
inline IGeometryPtr ITopologicalOperator::Buffer(double distance) {
    IGeometry* raw = nullptr;
    geometry_detail::check(raw_Buffer(distance, &raw));
    return geometry_detail::attach(raw);
}
TARVO_GEOMETRY_GETTER(ITopologicalOperator, VARIANT_BOOL, IsSimple, VARIANT_FALSE)

TARVO_GEOMETRY_GETTER(IArea, double, Area, 0)
inline double IProximityOperator::ReturnDistance(IGeometry* other) {
    double d = 0;
    geometry_detail::check(raw_ReturnDistance(other, &d));
    return d;
}
inline IClonePtr IClone::Clone() {
    IClone* raw = nullptr;
    geometry_detail::check(raw_Clone(&raw));
    return geometry_detail::attach(raw);
}
inline VARIANT_BOOL IClone::IsEqual(IClone* other) {
    VARIANT_BOOL r = VARIANT_FALSE;
    geometry_detail::check(raw_IsEqual(other, &r));
    return r;
}

#undef TARVO_GEOMETRY_GETTER
#undef TARVO_GEOMETRY_PUTTER
