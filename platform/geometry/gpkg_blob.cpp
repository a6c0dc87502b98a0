// platform/geometry/gpkg_blob.cpp: GeoPackage geometry blobs (GeoPackage 1.3, clause 2.1.3.1.1,
// StandardGeoPackageBinary over ISO WKB) written from and read into geometry shapes.
// The reader checks every length before it reads or allocates and throws GpkgBlobError with the
// rule that failed; it never reads past the blob.
#include "platform/geometry/gpkg_blob.h"

#include "platform/geometry/shape.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {

using geom::Coord;
using geom::Part;
using geom::Shape;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// WKB geometry type codes (ISO: +1000 for Z).
enum : std::uint32_t { kPoint = 1, kLineString = 2, kPolygon = 3, kMultiPoint = 4, kMultiLineString = 5, kMultiPolygon = 6 };
constexpr std::uint32_t kZ = 1000;

constexpr std::uint8_t kFlagLittleEndian = 0x01;
constexpr std::uint8_t kFlagEnvelopeMask = 0x0E;
constexpr std::uint8_t kFlagEmpty = 0x10;
constexpr std::uint8_t kFlagExtended = 0x20;

// Doubles in the header envelope per envelope contents indicator 0..4.
constexpr int kEnvelopeDoubles[] = {0, 4, 6, 6, 8};

// ---------------------------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------------------------
class Writer {
 public:
    explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}
    void u8(std::uint8_t v) { out_.push_back(v); }
    void u32(std::uint32_t v) { little(v); }
    void i32(std::int32_t v) { u32(std::uint32_t(v)); }
    void f64(double v) { little(std::bit_cast<std::uint64_t>(v)); }
    void coord(const Coord& c, bool z) { coords(&c, 1, z); }
    // Coordinates are most of a blob: the room for a run of them is made once.
    void coords(const Coord* c, std::size_t n, bool z) {
        const std::size_t each = z ? 24 : 16;
        const std::size_t at = out_.size();
        out_.resize(at + n * each);
        std::uint8_t* to = out_.data() + at;
        for (std::size_t i = 0; i < n; ++i, to += each) {
            put(to, std::bit_cast<std::uint64_t>(c[i].x));
            put(to + 8, std::bit_cast<std::uint64_t>(c[i].y));
            if (z) put(to + 16, std::bit_cast<std::uint64_t>(c[i].z));
        }
    }
    void header(std::uint32_t type, bool z) {
        u8(1);  // little-endian WKB
        u32(type + (z ? kZ : 0));
    }
    void ring(const Part& p, bool z) {
        const bool close = !p.empty() && !geom::sameXY(p.front(), p.back());  // WKB rings are closed
        u32(std::uint32_t(p.size() + (close ? 1 : 0)));
        coords(p.data(), p.size(), z);
        if (close) coord(p.front(), z);
    }

 private:
    template <class U>
    static void put(std::uint8_t* to, U v) {
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(to, &v, sizeof v);
        } else {
            for (std::size_t i = 0; i < sizeof(U); ++i) to[i] = std::uint8_t(v >> (8 * i));
        }
    }
    template <class U>
    void little(U v) {
        const std::size_t at = out_.size();
        out_.resize(at + sizeof(U));
        put(out_.data() + at, v);
    }

    std::vector<std::uint8_t>& out_;
};

void writeWkb(Writer& w, const Shape& s, const std::vector<geom::RingGroup>* groups, bool z) {
    switch (s.type) {
    case esriGeometryPoint:
        w.header(kPoint, z);
        w.coord(s.empty() ? Coord{kNaN, kNaN, kNaN} : s.parts[0][0], z);  // empty point: NaN coordinates
        return;
    case esriGeometryMultipoint: {
        w.header(kMultiPoint, z);
        w.u32(std::uint32_t(s.pointCount()));
        for (const Part& p : s.parts)
            for (const Coord& c : p) {
                w.header(kPoint, z);
                w.coord(c, z);
            }
        return;
    }
    case esriGeometryPolyline:
    case esriGeometryPath:
    case esriGeometryLine: {
        std::uint32_t n = 0;
        for (const Part& p : s.parts) n += p.empty() ? 0 : 1;
        w.header(kMultiLineString, z);
        w.u32(n);
        for (const Part& p : s.parts) {
            if (p.empty()) continue;
            w.header(kLineString, z);
            w.u32(std::uint32_t(p.size()));
            w.coords(p.data(), p.size(), z);
        }
        return;
    }
    case esriGeometryPolygon:
    case esriGeometryRing: {
        w.header(kMultiPolygon, z);
        w.u32(std::uint32_t(groups->size()));
        for (const geom::RingGroup& g : *groups) {
            w.header(kPolygon, z);
            w.u32(std::uint32_t(1 + g.holes.size()));
            w.ring(s.parts[g.shell], z);
            for (std::size_t h : g.holes) w.ring(s.parts[h], z);
        }
        return;
    }
    case esriGeometryEnvelope: {
        w.header(kMultiPolygon, z);
        if (s.empty()) {
            w.u32(0);
            return;
        }
        const Coord& lo = s.parts[0][0];
        const Coord& hi = s.parts[0][1];
        w.u32(1);
        w.header(kPolygon, z);
        w.u32(1);
        w.ring(Part{{lo.x, lo.y, lo.z}, {lo.x, hi.y, lo.z}, {hi.x, hi.y, lo.z}, {hi.x, lo.y, lo.z}}, z);
        return;
    }
    default:
        throw _com_error(E_INVALIDARG, L"geometry type has no GeoPackage form");
    }
}

// ---------------------------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------------------------
[[noreturn]] void refuse(const std::string& why) { throw GpkgBlobError("GeoPackage geometry blob: " + why); }

class Reader {
 public:
    Reader(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}

    std::size_t left() const { return std::size_t(end_ - p_); }
    void need(std::size_t n, const char* what) const {
        if (left() < n)
            refuse(std::string(what) + " needs " + std::to_string(n) + " bytes, " + std::to_string(left()) + " left");
    }
    std::uint8_t u8(const char* what) {
        need(1, what);
        return *p_++;
    }
    std::uint32_t u32(bool little, const char* what) {
        need(4, what);
        return word<std::uint32_t>(little);
    }
    double f64(bool little, const char* what) {
        need(8, what);
        return std::bit_cast<double>(word<std::uint64_t>(little));
    }
    // A coordinate whose bytes the caller has already checked are there (see count()).
    Coord coordUnchecked(bool little, bool z) {
        Coord c{std::bit_cast<double>(word<std::uint64_t>(little)), std::bit_cast<double>(word<std::uint64_t>(little)),
                kNaN};
        if (z) c.z = std::bit_cast<double>(word<std::uint64_t>(little));
        return c;
    }
    // A count of items of at least `each` bytes that must fit in what is left.
    std::uint32_t count(bool little, std::size_t each, const char* what) {
        const std::uint32_t n = u32(little, what);
        if (each > 0 && n > left() / each)
            refuse(std::string(what) + " of " + std::to_string(n) + " does not fit the " + std::to_string(left()) +
                   " bytes left");
        return n;
    }

 private:
    // A whole word in one copy, swapped when the blob's byte order is not the machine's.
    template <typename Word>
    Word word(bool little) {
        Word v;
        std::memcpy(&v, p_, sizeof v);
        p_ += sizeof v;
        if (little != (std::endian::native == std::endian::little)) v = byteSwap(v);
        return v;
    }
    static std::uint32_t byteSwap(std::uint32_t v) { return __builtin_bswap32(v); }
    static std::uint64_t byteSwap(std::uint64_t v) { return __builtin_bswap64(v); }

    const std::uint8_t* p_;
    const std::uint8_t* end_;
};

struct WkbHead {
    bool little;
    std::uint32_t base;  // 1..6
    bool z;
};

WkbHead readHead(Reader& r) {
    const std::uint8_t order = r.u8("WKB byte order");
    if (order > 1) refuse("WKB byte order " + std::to_string(order) + " is neither 0 nor 1");
    const bool little = order == 1;
    const std::uint32_t type = r.u32(little, "WKB geometry type");
    if (type & 0xE0000000u) refuse("extended WKB type flags (EWKB) are not ISO WKB (GeoPackage 1.3, 2.1.3.1.1)");
    const std::uint32_t base = type % 1000, dims = type / 1000;
    if (dims == 2 || dims == 3) refuse("M values are not supported (WKB type " + std::to_string(type) + ")");
    if (dims > 3 || base < kPoint || base > kMultiPolygon) {
        if (base == 7) refuse("geometry collections are not supported");
        refuse("unknown WKB geometry type " + std::to_string(type));
    }
    return {little, base, dims == 1};
}

void expect(const WkbHead& member, std::uint32_t base, bool z) {
    if (member.base != base || member.z != z)
        refuse("a multi geometry member must be WKB type " + std::to_string(base + (z ? kZ : 0)) + ", not " +
               std::to_string(member.base + (member.z ? kZ : 0)));
}

Coord readCoord(Reader& r, const WkbHead& h) {
    Coord c{r.f64(h.little, "X"), r.f64(h.little, "Y"), kNaN};
    if (h.z) c.z = r.f64(h.little, "Z");
    return c;
}

bool emptyPoint(const Coord& c) { return std::isnan(c.x) && std::isnan(c.y); }

// NaN X and Y mark an empty point; any other coordinate must be finite (Z may be NaN: no depth).
const Coord& finite(const Coord& c) {
    if (!std::isfinite(c.x) || !std::isfinite(c.y)) refuse("X and Y must be finite numbers");
    return c;
}

Part readPoints(Reader& r, const WkbHead& h, const char* what) {
    const std::size_t size = h.z ? 24 : 16;
    const std::uint32_t n = r.count(h.little, size, what);
    Part part;
    part.reserve(n);
    for (std::uint32_t i = 0; i < n; ++i) part.push_back(finite(r.coordUnchecked(h.little, h.z)));
    return part;
}

void readPolygonRings(Reader& r, const WkbHead& h, Shape& s) {
    const std::uint32_t rings = r.count(h.little, 4, "polygon ring count");
    for (std::uint32_t i = 0; i < rings; ++i) {
        Part ring = readPoints(r, h, "ring point count");
        if (ring.empty()) continue;
        if (ring.size() < 4 || !geom::sameXY(ring.front(), ring.back()))
            refuse("a polygon ring must be closed and have at least 4 points");
        s.parts.push_back(std::move(ring));
    }
}

Shape readWkb(Reader& r) {
    const WkbHead h = readHead(r);
    Shape s;
    s.zAware = h.z;
    const std::size_t memberMin = 5 + (h.z ? 24 : 16);  // smallest member: a point
    switch (h.base) {
    case kPoint: {
        s.type = esriGeometryPoint;
        const Coord c = readCoord(r, h);
        if (!emptyPoint(c)) s.parts.push_back(Part{finite(c)});
        break;
    }
    case kLineString: {
        s.type = esriGeometryPolyline;
        Part p = readPoints(r, h, "line point count");
        if (!p.empty()) s.parts.push_back(std::move(p));
        break;
    }
    case kPolygon:
        s.type = esriGeometryPolygon;
        readPolygonRings(r, h, s);
        break;
    case kMultiPoint: {
        s.type = esriGeometryMultipoint;
        const std::uint32_t n = r.count(h.little, memberMin, "multipoint member count");
        Part points;
        points.reserve(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            const WkbHead m = readHead(r);
            expect(m, kPoint, h.z);
            const Coord c = readCoord(r, m);
            if (!emptyPoint(c)) points.push_back(finite(c));  // an empty member holds nothing
        }
        if (!points.empty()) s.parts.push_back(std::move(points));
        break;
    }
    case kMultiLineString: {
        s.type = esriGeometryPolyline;
        const std::uint32_t n = r.count(h.little, 9, "multilinestring member count");
        for (std::uint32_t i = 0; i < n; ++i) {
            const WkbHead m = readHead(r);
            expect(m, kLineString, h.z);
            Part p = readPoints(r, m, "line point count");
            if (!p.empty()) s.parts.push_back(std::move(p));
        }
        break;
    }
    case kMultiPolygon: {
        s.type = esriGeometryPolygon;
        const std::uint32_t n = r.count(h.little, 9, "multipolygon member count");
        for (std::uint32_t i = 0; i < n; ++i) {
            const WkbHead m = readHead(r);
            expect(m, kPolygon, h.z);
            readPolygonRings(r, m, s);
        }
        break;
    }
    }
    return s;
}

struct BlobHeader {
    std::int32_t srsId;
    bool empty;
    int envelopeIndicator;
    double envelope[8];
    std::size_t wkbOffset;
};

BlobHeader readHeader(const void* data, std::size_t size) {
    if (!data && size > 0) refuse("null data");
    if (size < 8) refuse(std::to_string(size) + " bytes, shorter than the 8-byte header (GeoPackage 1.3, 2.1.3.1.1)");
    const auto* b = static_cast<const std::uint8_t*>(data);
    if (b[0] != 0x47 || b[1] != 0x50) refuse("no \"GP\" magic (GeoPackage 1.3, 2.1.3.1.1)");
    if (b[2] != 0) refuse("version " + std::to_string(b[2]) + ", only 0 (version 1) is defined (GeoPackage 1.3, 2.1.3.1.1)");
    const std::uint8_t flags = b[3];
    if (flags & kFlagExtended) refuse("ExtendedGeoPackageBinary is not supported (GeoPackage 1.3, 2.1.3.1.1)");
    BlobHeader h{};
    h.envelopeIndicator = (flags & kFlagEnvelopeMask) >> 1;
    if (h.envelopeIndicator > 4)
        refuse("envelope contents indicator " + std::to_string(h.envelopeIndicator) +
               " is invalid, 0 to 4 are defined (GeoPackage 1.3, 2.1.3.1.1)");
    h.empty = (flags & kFlagEmpty) != 0;
    const bool little = (flags & kFlagLittleEndian) != 0;
    Reader r(b + 4, size - 4);
    h.srsId = std::int32_t(r.u32(little, "srs_id"));
    const int doubles = kEnvelopeDoubles[h.envelopeIndicator];
    r.need(std::size_t(doubles) * 8, "header envelope");
    for (int i = 0; i < doubles; ++i) h.envelope[i] = r.f64(little, "header envelope");
    h.wkbOffset = 8 + std::size_t(doubles) * 8;
    return h;
}

Shape readBlob(const void* data, std::size_t size, std::int32_t* srsId) {
    const BlobHeader h = readHeader(data, size);
    Reader r(static_cast<const std::uint8_t*>(data) + h.wkbOffset, size - h.wkbOffset);
    Shape s = readWkb(r);
    if (r.left() != 0) refuse(std::to_string(r.left()) + " bytes after the end of the WKB geometry");
    if (h.empty != s.empty())
        refuse(h.empty ? "the header's empty flag is set but the WKB geometry is not empty (GeoPackage 1.3, 2.1.3.1.1)"
                       : "the WKB geometry is empty but the header's empty flag is not set (GeoPackage 1.3, 2.1.3.1.1)");
    if (srsId) *srsId = h.srsId;
    return s;
}

}  // namespace

std::vector<std::uint8_t> geometryToGpkgBlob(IGeometry* geometry, std::int32_t srsId, GpkgZ zMode) {
    geom::IShapeSource& source = geom::shapeSourceOf(geometry);
    const Shape& s = source.shape();
    const bool z = zMode == GpkgZ::Always || (zMode == GpkgZ::FromGeometry && s.zAware);
    std::vector<std::uint8_t> out;
    out.reserve(8 + 48 + 13 + s.pointCount() * (z ? 29 : 21) + s.parts.size() * 9);
    Writer w(out);
    const bool areal = s.type == esriGeometryPolygon || s.type == esriGeometryRing;
    const std::vector<geom::RingGroup>* groups = areal ? &source.ringGroups() : nullptr;
    // A polygon whose rings enclose nothing is written (and flagged) as empty.
    const bool empty = s.empty() || (areal && groups->empty());
    const bool point = s.type == esriGeometryPoint;
    const int indicator = (empty || point) ? 0 : (z ? 2 : 1);
    out.push_back(0x47);
    out.push_back(0x50);
    out.push_back(0);
    out.push_back(std::uint8_t(kFlagLittleEndian | (indicator << 1) | (empty ? kFlagEmpty : 0)));
    w.i32(srsId);
    if (indicator > 0) {
        const GeoExtent e = geom::shapeExtent(s);
        w.f64(e.xmin);
        w.f64(e.xmax);
        w.f64(e.ymin);
        w.f64(e.ymax);
        if (indicator == 2) {
            double zmin = kNaN, zmax = kNaN;
            for (const Part& p : s.parts)
                for (const Coord& c : p) {
                    zmin = std::fmin(zmin, c.z);
                    zmax = std::fmax(zmax, c.z);
                }
            w.f64(zmin);
            w.f64(zmax);
        }
    }
    writeWkb(w, s, groups, z);
    return out;
}

IGeometryPtr geometryFromGpkgBlob(const void* data, std::size_t size, std::int32_t* srsId) {
    return geom::makeGeometry(readBlob(data, size, srsId));
}

GeoExtent gpkgBlobExtent(const void* data, std::size_t size) {
    const BlobHeader h = readHeader(data, size);
    if (h.empty) return GeoExtent{};
    if (h.envelopeIndicator > 0) return GeoExtent{h.envelope[0], h.envelope[2], h.envelope[1], h.envelope[3]};
    return geom::shapeExtent(readBlob(data, size, nullptr));
}

const char* gpkgGeometryTypeName(esriGeometryType type) {
    switch (type) {
    case esriGeometryPoint:
        return "POINT";
    case esriGeometryMultipoint:
        return "MULTIPOINT";
    case esriGeometryPolyline:
        return "MULTILINESTRING";
    case esriGeometryPolygon:
        return "MULTIPOLYGON";
    default:
        return "GEOMETRY";
    }
}

namespace geom {
// Shapes straight from a blob, for the spatial predicate (no COM object in between).
Shape shapeFromGpkgBlob(const void* data, std::size_t size) { return readBlob(data, size, nullptr); }
}  // namespace geom
