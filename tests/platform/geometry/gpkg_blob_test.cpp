// tests/platform/geometry/gpkg_blob_test.cpp: GeoPackage geometry blobs: byte layouts built in
// code, round trips that must give the same bytes back, GDAL reading what we write, and malformed
// blobs refused with an error that names the broken rule.
#include "platform/geometry/geometry.h"
#include "platform/geometry/gpkg_blob.h"

#include "geometry_builders.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <string>

using namespace builders;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string hex(const Bytes& b) {
    std::string out;
    char buf[4];
    for (std::uint8_t v : b) {
        std::snprintf(buf, sizeof buf, "%02X", v);
        out += buf;
    }
    return out;
}

// Little-endian pieces for hand-built blobs.
void u32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(v >> (8 * i)));
}
void f64(Bytes& b, double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    for (int i = 0; i < 8; ++i) b.push_back(std::uint8_t(bits >> (8 * i)));
}
Bytes header(std::uint8_t flags = 0x01) {
    Bytes b = {0x47, 0x50, 0x00, flags};
    u32(b, 4326);
    return b;
}
void wkbPoint(Bytes& b, double x, double y, std::uint32_t type = 1) {
    b.push_back(1);
    u32(b, type);
    f64(b, x);
    f64(b, y);
}

TEST(GpkgBlob, PointLayout) {
    EXPECT_EQ(hex(geometryToGpkgBlob(IGeometryPtr(point(1, 2)))),
              "47500001E6100000"                    // GP, version 0, little-endian, no envelope, srs 4326
              "0101000000000000000000F03F0000000000000040");
    EXPECT_EQ(hex(geometryToGpkgBlob(IGeometryPtr(pointZ(1, 2, 3)), 0)),
              "4750000100000000"
              "01E9030000000000000000F03F00000000000000400000000000000840");  // ISO PointZ 1001
    // Empty point: empty flag, NaN coordinates.
    const Bytes empty = geometryToGpkgBlob(IGeometryPtr(CLSID_Point));
    EXPECT_EQ(hex(Bytes(empty.begin(), empty.begin() + 13)), "47500011E61000000101000000");
    EXPECT_EQ(empty.size(), 29u);
}

// The geometry column decides about Z when the writer is told so.
TEST(GpkgBlob, ZAsTheColumnDemands) {
    EXPECT_EQ(hex(geometryToGpkgBlob(IGeometryPtr(pointZ(1, 2, 3)), 4326, GpkgZ::Never)),
              hex(geometryToGpkgBlob(IGeometryPtr(point(1, 2)))));
    const Bytes forced = geometryToGpkgBlob(IGeometryPtr(point(1, 2)), 4326, GpkgZ::Always);
    EXPECT_EQ(forced.size(), 8u + 5 + 24);
    IPointPtr back = geometryFromGpkgBlob(forced.data(), forced.size());
    EXPECT_EQ(IZAwarePtr(back)->GetZAware(), VARIANT_TRUE);
    EXPECT_TRUE(std::isnan(back->GetZ()));
    const Bytes line = geometryToGpkgBlob(polyline({{{0, 0}, {1, 1}}}), 4326, GpkgZ::Always);
    EXPECT_EQ(line[3], 0x05);  // XYZ envelope
}

TEST(GpkgBlob, EnvelopeInTheHeaderExceptForPoints) {
    const Bytes line = geometryToGpkgBlob(polyline({{{1, 5}, {3, -2}}}));
    EXPECT_EQ(line[3], 0x03);  // XY envelope
    EXPECT_EQ(hex(Bytes(line.begin() + 8, line.begin() + 40)),
              "000000000000F03F" "0000000000000840" "00000000000000C0" "0000000000001440");  // 1 3 -2 5
    const Bytes soundings = geometryToGpkgBlob(multipoint({{0, 0, -4}, {1, 1, 7}}, true));
    EXPECT_EQ(soundings[3], 0x05);  // XYZ envelope
    const GeoExtent e = gpkgBlobExtent(soundings.data(), soundings.size());
    EXPECT_EQ(e.xmax, 1);
    EXPECT_EQ(e.ymin, 0);
    const Bytes p = geometryToGpkgBlob(IGeometryPtr(point(7, 8)));
    const GeoExtent pe = gpkgBlobExtent(p.data(), p.size());  // from the WKB
    EXPECT_EQ(pe.xmin, 7);
    EXPECT_EQ(pe.ymax, 8);
    const Bytes none = geometryToGpkgBlob(IGeometryPtr(CLSID_Polygon));
    EXPECT_EQ(hex(none), "47500011E6100000" "0106000000" "00000000");
    EXPECT_TRUE(gpkgBlobExtent(none.data(), none.size()).empty());
}

TEST(GpkgBlob, ReadsBigEndianAndSingleParts) {
    Bytes b = {0x47, 0x50, 0x00, 0x00, 0x00, 0x00, 0x10, 0xE6};  // big-endian header, srs 4326
    Bytes wkb = {0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02};  // big-endian LineString of 2
    for (double v : {1.0, 2.0, 3.0, 4.0}) {
        const auto bits = std::bit_cast<std::uint64_t>(v);
        for (int i = 7; i >= 0; --i) wkb.push_back(std::uint8_t(bits >> (8 * i)));
    }
    b.insert(b.end(), wkb.begin(), wkb.end());
    std::int32_t srs = 0;
    IGeometryPtr g = geometryFromGpkgBlob(b.data(), b.size(), &srs);
    EXPECT_EQ(srs, 4326);
    EXPECT_EQ(g->GetGeometryType(), esriGeometryPolyline);
    EXPECT_EQ(coords(g), "1 2|3 4");
}

struct RoundTrip {
    const char* name;
    std::function<IGeometryPtr()> make;
    const char* wkt;  // as GDAL prints what it reads
};

const RoundTrip kRoundTrips[] = {
    {"Point", [] { return IGeometryPtr(point(-70.123456789, 42.5)); }, "POINT (-70.123456789 42.5)"},
    {"PointZ", [] { return IGeometryPtr(pointZ(12.3456789, -0.5, -18.7)); }, "POINT Z (12.3456789 -0.5 -18.7)"},
    {"EmptyPoint", [] { return IGeometryPtr(CLSID_Point); }, "POINT EMPTY"},
    {"SoundingsZ",
     [] { return multipoint({{-70.1, 42.1, 3.2}, {-70.2, 42.2, 11.0}, {-70.3, 42.3, 0.4}}, true); },
     "MULTIPOINT Z ((-70.1 42.1 3.2),(-70.2 42.2 11),(-70.3 42.3 0.4))"},
    {"EmptyMultipoint", [] { return IGeometryPtr(CLSID_Multipoint); }, "MULTIPOINT EMPTY"},
    {"PolylineTwoPaths",
     [] { return polyline({{{0, 0}, {1, 1}, {2, 0}}, {{5, 5}, {6, 6}}}); },
     "MULTILINESTRING ((0 0,1 1,2 0),(5 5,6 6))"},
    {"PolylineZ", [] { return polyline({{{0, 0, 1}, {1, 1, 2}}}, true); }, "MULTILINESTRING Z ((0 0 1,1 1 2))"},
    {"PolygonWithHole",
     [] {
         IGeometryPtr g = polygon({{{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}}, {{2, 2}, {8, 2}, {8, 8}, {2, 8}, {2, 2}}});
         return g;
     },
     "MULTIPOLYGON (((0 0,0 10,10 10,10 0,0 0),(2 2,8 2,8 8,2 8,2 2)))"},
    {"TwoPolygons",
     [] { return polygon({{{0, 0}, {0, 1}, {1, 1}, {0, 0}}, {{5, 5}, {5, 6}, {6, 6}, {5, 5}}}); },
     "MULTIPOLYGON (((0 0,0 1,1 1,0 0)),((5 5,5 6,6 6,5 5)))"},
    {"EmptyPolygon", [] { return IGeometryPtr(CLSID_Polygon); }, "MULTIPOLYGON EMPTY"},
};

class BlobRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(BlobRoundTrip, GivesTheSameBytesAndGeometry) {
    IGeometryPtr g = GetParam().make();
    const Bytes first = geometryToGpkgBlob(g);
    IGeometryPtr back = geometryFromGpkgBlob(first.data(), first.size());
    EXPECT_EQ(back->GetGeometryType(), g->GetGeometryType());
    EXPECT_EQ(IZAwarePtr(back)->GetZAware(), IZAwarePtr(g)->GetZAware());
    EXPECT_EQ(IClonePtr(back)->IsEqual(IClonePtr(g)), VARIANT_TRUE);
    EXPECT_EQ(hex(geometryToGpkgBlob(back)), hex(first));
}

INSTANTIATE_TEST_SUITE_P(Kinds, BlobRoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return std::string(info.param.name); });

// GDAL reads a GeoPackage holding our blobs and prints every geometry as we meant it.
TEST(GpkgBlob, GdalReadsWhatWeWrite) {
    if (std::system("ogr2ogr --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ogr2ogr is not installed";
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("geometry_blobs_" + std::to_string(::getpid()) + ".gpkg");
    std::filesystem::remove(file);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    const char* schema =
        "PRAGMA application_id = 1196444487; PRAGMA user_version = 10300;"
        "CREATE TABLE gpkg_spatial_ref_sys (srs_name TEXT NOT NULL, srs_id INTEGER PRIMARY KEY,"
        " organization TEXT NOT NULL, organization_coordsys_id INTEGER NOT NULL, definition TEXT NOT NULL,"
        " description TEXT);"
        "INSERT INTO gpkg_spatial_ref_sys VALUES ('WGS 84', 4326, 'EPSG', 4326, 'GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\","
        "SPHEROID[\"WGS 84\",6378137,298.257223563]],PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]]', NULL),"
        " ('Undefined cartesian SRS', -1, 'NONE', -1, 'undefined', NULL),"
        " ('Undefined geographic SRS', 0, 'NONE', 0, 'undefined', NULL);"
        "CREATE TABLE gpkg_contents (table_name TEXT NOT NULL PRIMARY KEY, data_type TEXT NOT NULL,"
        " identifier TEXT UNIQUE, description TEXT DEFAULT '', last_change DATETIME NOT NULL DEFAULT"
        " (strftime('%Y-%m-%dT%H:%M:%fZ','now')), min_x DOUBLE, min_y DOUBLE, max_x DOUBLE, max_y DOUBLE,"
        " srs_id INTEGER);"
        "CREATE TABLE gpkg_geometry_columns (table_name TEXT NOT NULL, column_name TEXT NOT NULL,"
        " geometry_type_name TEXT NOT NULL, srs_id INTEGER NOT NULL, z TINYINT NOT NULL, m TINYINT NOT NULL,"
        " PRIMARY KEY (table_name, column_name));"
        "CREATE TABLE shapes (fid INTEGER PRIMARY KEY, name TEXT, geom GEOMETRY);"
        "INSERT INTO gpkg_contents (table_name, data_type, identifier, srs_id) VALUES ('shapes', 'features', 'shapes', 4326);"
        "INSERT INTO gpkg_geometry_columns VALUES ('shapes', 'geom', 'GEOMETRY', 4326, 2, 0);";
    ASSERT_EQ(sqlite3_exec(db, schema, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_stmt* insert = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO shapes (name, geom) VALUES (?1, ?2)", -1, &insert, nullptr), SQLITE_OK);
    for (const RoundTrip& c : kRoundTrips) {
        const Bytes blob = geometryToGpkgBlob(c.make());
        sqlite3_bind_text(insert, 1, c.name, -1, SQLITE_TRANSIENT);
        sqlite3_bind_blob(insert, 2, blob.data(), int(blob.size()), SQLITE_TRANSIENT);
        EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);

    const std::string command = "ogr2ogr -f CSV /vsistdout/ '" + file.string() + "' shapes -lco GEOMETRY=AS_WKT 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, pipe)) output.append(buf, n);
    pclose(pipe);
    std::filesystem::remove(file);

    // Rows are: "WKT",fid,name  (the WKT quoted).
    std::map<std::string, std::string> read;
    std::size_t pos = output.find('\n');  // past the column line
    while (pos != std::string::npos && pos + 1 < output.size()) {
        const std::size_t end = output.find('\n', pos + 1);
        const std::string row = output.substr(pos + 1, end == std::string::npos ? std::string::npos : end - pos - 1);
        pos = end;
        const std::size_t close = row.rfind('"');
        const std::size_t comma = row.rfind(',');
        if (row.empty() || row[0] != '"' || close == std::string::npos || comma == std::string::npos) continue;
        read[row.substr(comma + 1)] = row.substr(1, close - 1);
    }
    for (const RoundTrip& c : kRoundTrips) EXPECT_EQ(read[c.name], c.wkt) << c.name << "\n" << output;
}

// ---------------------------------------------------------------------------------------------
// Malformed blobs
// ---------------------------------------------------------------------------------------------
struct Malformed {
    const char* name;
    std::function<Bytes()> make;
    const char* says;  // part of the error text
};

const Malformed kMalformed[] = {
    {"Nothing", [] { return Bytes{}; }, "shorter than the 8-byte header"},
    {"ShortHeader", [] { return Bytes{0x47, 0x50, 0x00, 0x01, 0xE6}; }, "shorter than the 8-byte header"},
    {"BadMagic",
     [] {
         Bytes b = header();
         b[1] = 'Q';
         wkbPoint(b, 1, 2);
         return b;
     },
     "magic"},
    {"Version1",
     [] {
         Bytes b = header();
         b[2] = 1;
         wkbPoint(b, 1, 2);
         return b;
     },
     "version 1"},
    {"Extended",
     [] {
         Bytes b = header(0x21);
         wkbPoint(b, 1, 2);
         return b;
     },
     "ExtendedGeoPackageBinary"},
    {"EnvelopeIndicator5",
     [] {
         Bytes b = header(0x01 | (5 << 1));
         wkbPoint(b, 1, 2);
         return b;
     },
     "envelope contents indicator 5"},
    {"EnvelopeCutShort",
     [] {
         Bytes b = header(0x03);
         f64(b, 0);
         f64(b, 1);
         return b;
     },
     "header envelope needs 32 bytes"},
    {"NoWkb", [] { return header(); }, "WKB byte order needs 1 bytes"},
    {"ByteOrder2",
     [] {
         Bytes b = header();
         b.push_back(2);
         u32(b, 1);
         return b;
     },
     "byte order 2"},
    {"MValues",
     [] {
         Bytes b = header();
         wkbPoint(b, 1, 2, 2001);
         f64(b, 0);
         return b;
     },
     "M values"},
    {"Ewkb",
     [] {
         Bytes b = header();
         wkbPoint(b, 1, 2, 0x80000001u);
         return b;
     },
     "EWKB"},
    {"Collection",
     [] {
         Bytes b = header();
         b.push_back(1);
         u32(b, 7);
         u32(b, 0);
         return b;
     },
     "geometry collections"},
    {"UnknownType",
     [] {
         Bytes b = header();
         wkbPoint(b, 1, 2, 99);
         return b;
     },
     "unknown WKB geometry type 99"},
    {"HugeCount",
     [] {
         Bytes b = header(0x03);
         for (int i = 0; i < 4; ++i) f64(b, 0);
         b.push_back(1);
         u32(b, 4);
         u32(b, 0xFFFFFFFFu);
         return b;
     },
     "does not fit"},
    {"MemberOfAnotherType",
     [] {
         Bytes b = header(0x03);
         for (int i = 0; i < 4; ++i) f64(b, 0);
         b.push_back(1);
         u32(b, 4);
         u32(b, 1);
         b.push_back(1);
         u32(b, 2);
         u32(b, 2);
         for (int i = 0; i < 4; ++i) f64(b, 0);
         return b;
     },
     "member must be WKB type 1, not 2"},
    {"MemberWithoutZ",
     [] {
         Bytes b = header(0x05);
         for (int i = 0; i < 6; ++i) f64(b, 0);
         b.push_back(1);
         u32(b, 1004);
         u32(b, 1);
         wkbPoint(b, 1, 2);
         f64(b, 0);  // pads what a Z member would need
         return b;
     },
     "member must be WKB type 1001, not 1"},
    {"UnclosedRing",
     [] {
         Bytes b = header(0x03);
         for (int i = 0; i < 4; ++i) f64(b, 0);
         b.push_back(1);
         u32(b, 3);
         u32(b, 1);
         u32(b, 4);
         for (double v : {0.0, 0.0, 1.0, 0.0, 1.0, 1.0, 0.0, 1.0}) f64(b, v);
         return b;
     },
     "ring must be closed"},
    {"InfiniteX",
     [] {
         Bytes b = header();
         wkbPoint(b, std::numeric_limits<double>::infinity(), 2);
         return b;
     },
     "must be finite"},
    {"NaNInALine",
     [] {
         Bytes b = header(0x03);
         for (int i = 0; i < 4; ++i) f64(b, 0);
         b.push_back(1);
         u32(b, 2);
         u32(b, 2);
         for (double v : {0.0, 0.0, std::nan(""), 1.0}) f64(b, v);
         return b;
     },
     "must be finite"},
    {"TrailingBytes",
     [] {
         Bytes b = header();
         wkbPoint(b, 1, 2);
         b.push_back(0);
         return b;
     },
     "1 bytes after the end"},
    {"EmptyFlagOnAPoint",
     [] {
         Bytes b = header(0x11);
         wkbPoint(b, 1, 2);
         return b;
     },
     "empty flag is set"},
    {"EmptyWkbWithoutFlag",
     [] {
         Bytes b = header();
         b.push_back(1);
         u32(b, 6);
         u32(b, 0);
         return b;
     },
     "empty flag is not set"},
};

class BadBlob : public ::testing::TestWithParam<Malformed> {};

TEST_P(BadBlob, IsRefusedWithTheRule) {
    const Bytes b = GetParam().make();
    try {
        geometryFromGpkgBlob(b.data(), b.size());
        FAIL() << "accepted";
    } catch (const GpkgBlobError& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().says), std::string::npos) << e.what();
        EXPECT_EQ(std::string(e.what()).rfind("GeoPackage geometry blob: ", 0), 0u) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, BadBlob, ::testing::ValuesIn(kMalformed),
                         [](const auto& info) { return std::string(info.param.name); });

// Every cut of a good blob fails cleanly (the sanitizer build checks no byte past the cut is read).
TEST(GpkgBlob, EveryTruncationIsRefused) {
    for (const RoundTrip& c : kRoundTrips) {
        const Bytes full = geometryToGpkgBlob(c.make());
        for (std::size_t n = 0; n < full.size(); ++n) {
            const Bytes cut(full.begin(), full.begin() + std::ptrdiff_t(n));
            EXPECT_THROW(geometryFromGpkgBlob(cut.data(), cut.size()), GpkgBlobError) << c.name << " cut at " << n;
        }
    }
}

// Any byte of a good blob changed to any value: a geometry or GpkgBlobError, never anything else
// (the sanitizer build checks the reads).
TEST(GpkgBlob, ChangedBytesGiveAGeometryOrTheError) {
    const Bytes good = geometryToGpkgBlob(
        polygon({{{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}}, {{2, 2}, {8, 2}, {8, 8}, {2, 8}, {2, 2}}}));
    for (std::size_t i = 0; i < good.size(); ++i)
        for (int v : {0x00, 0x01, 0x02, 0x07, 0x10, 0x20, 0x7F, 0x80, 0xE9, 0xFF}) {
            Bytes bad = good;
            bad[i] = std::uint8_t(v);
            try {
                IGeometryPtr g = geometryFromGpkgBlob(bad.data(), bad.size());
                EXPECT_TRUE(g);
            } catch (const GpkgBlobError&) {
            }
        }
}

}  // namespace
