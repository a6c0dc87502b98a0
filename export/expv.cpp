// export/expv.cpp: module expv (see expv.h). Each primitive class of the cell is walked in table
// order (sounding arrays in NAME order) and every feature becomes one record through the shared
// record writer; the first record that cannot be written ends its class, and the first class
// that fails ends the vector export. Records already written stay in the file.

#include "export/expv.h"

#include <strings.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "export/exprecord.h"
#include "export/exptext.h"
#include "export/expm.h"
#include "export/srel_list.h"
#include "s57/dbutil.h"
#include "s57/dimml.h"
#include "s57/lookups.h"
#include "s57/s57_util2.h"
#include "platform/geometry/shape.h"

namespace {

constexpr char kModule[] = "expv";

using Subfields = std::vector<std::pair<const char*, std::string>>;

// The labels of a coordinate's values, in the order the fields take them.
const char* const kPlane[] = {"YCOO", "XCOO"};
const char* const kSpace[] = {"YCOO", "XCOO", "VE3D"};

// A sounding's YCOO, XCOO and VE3D, scaled.
void addSounding(std::vector<int32_t>& values, IPoint* point, double z) {
    values.push_back(roundToInt(point->GetY() * coordFactor));
    values.push_back(roundToInt(point->GetX() * coordFactor));
    values.push_back(roundToInt(z * soundingFactor));
}

// fillCoordinateField with `perPoint` values a point; `failure` logged when memory runs out.
int32_t putCoordinates(Iso8211Field* field, const char* tag, int perPoint, const std::vector<int32_t>& values,
                       const char* failure) {
    if (fillCoordinateField(field, tag, perPoint == 2 ? kPlane : kSpace, perPoint, values) != 0) {
        logLine("%s", failure);
        return -1;
    }
    return 0;
}

const RecordLogTexts kNodeTexts = {
    "exportSpatialPoint : unable to allocate memory\n",
    "exportSpatialPoint : unable to covert Iso file record counter to char\n",
    "exportSpatialPoint : unable to covert 0001 id to string\n",
    "exportSpatialPoint : unable to write Iso File record no %d, field 0001\n",
    "exportSpatialPoint : unable to translate record no %d to binary\n",
    "exportSpatialPoint : unable to write Iso File record no %d\n",
};

const RecordLogTexts kArrayTexts = {
    "updateVI3DSP : unable to allocate memory\n",
    "updateVI3DSP : unable to covert Iso file record counter to char\n",
    "updateVI3DSP : unable to covert 0001 id to string\n",
    "updateVI3DSP : unable to write Iso File record no %d, field 0001\n",
    "updateVI3DSP : unable to translate record no %d to binary\n",
    "updateVI3DSP : unable to write Iso File record no %d\n",
};

const RecordLogTexts kEdgeTexts = {
    "exportVE : unable to allocate memory\n",
    "exportVE : unable to covert Iso file record counter to char\n",
    "exportVE : unable to covert 0001 id to string\n",
    "exportVE : unable to write Iso File record no %d, field 0001\n",
    "exportVE : unable to translate record no %d to binary\n",
    "exportVE : unable to write Iso File record no %d",
};

void setProgress(int32_t k) {
    if (!stepProgressor) return;
    const int32_t cells = cellCount > 0 ? cellCount : 1;
    stepProgressor->PutPosition(cellIndex * 100 / cells + k / cells);
}

std::string upper(std::string text) {
    for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The column indices and attribute indices asked for while the vectors of a cell are written
// (exportVector): the rows of one class come one after another, and each asks for the same few
// columns by name and the same three attributes by code.
struct LookupMemo {
    IFieldsPtr fields;  // the class whose columns are kept; held, so that no other takes its address
    std::unordered_map<std::string, LONG> columns;
    std::unordered_map<int32_t, std::pair<int, int32_t>> attributes;  // lookupAttrIndex: result, index
};
LookupMemo* lookupMemo = nullptr;

LONG findField(IFeature* feature, const char* name) {
    IFieldsPtr fields = feature->GetFields();
    if (!lookupMemo) return fields->FindField(name);
    if (lookupMemo->fields != fields) {
        lookupMemo->fields = fields;
        lookupMemo->columns.clear();
    }
    auto [it, added] = lookupMemo->columns.try_emplace(name, -1);
    if (added) it->second = fields->FindField(name);
    return it->second;
}

int attributeIndex(int32_t code, int32_t* index) {
    if (!lookupMemo) return lookupAttrIndex(code, index);
    auto [it, added] = lookupMemo->attributes.try_emplace(code);
    if (added) it->second.first = lookupAttrIndex(code, &it->second.second);
    *index = it->second.second;
    return it->second.first;
}

std::string decimal(long long value) { return std::to_string(value); }

// The text of a column value; null gives "", an integer -1 (the schema's "no value") gives "".
std::string columnText(const _variant_t& value) {
    switch (value.vt) {
        case VT_NULL:
        case VT_EMPTY:
            return {};
        case VT_BSTR:
            return columnUtf8(value);
        case VT_R4:
        case VT_R8: {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%lf", static_cast<double>(value));
            return buf;
        }
        default: {
            const long v = static_cast<long>(value);
            return v == -1 ? std::string() : decimal(v);
        }
    }
}

// Opens the class; null when it is not there.
IFeatureClassPtr openClass(IWorkspace* workspace, const char* name) {
    IFeatureWorkspacePtr featureWorkspace(workspace);
    if (!featureWorkspace) return nullptr;
    IFeatureClass* raw = nullptr;
    if (FAILED(featureWorkspace->raw_OpenFeatureClass(_bstr_t(name).GetBSTR(), &raw)) || !raw) return nullptr;
    IFeatureClassPtr cls;
    cls.Attach(raw);
    return cls;
}

IQueryFilterPtr cellFilter(const char* cellName) {
    IQueryFilterPtr filter(CLSID_QueryFilter);
    filter->PutWhereClause(("DSNM=" + sqlText(cellName)).c_str());
    return filter;
}

// The rows of topoSrelList by upper-cased SRC_NAME, for the edges of one class.
std::unordered_map<std::string, std::vector<int32_t>> pointerIndex() {
    std::unordered_map<std::string, std::vector<int32_t>> index;
    for (int32_t i = 0; i < topoSrelList.count; ++i) index[upper(topoSrelList.records[i].SRC_NAME)].push_back(i);
    return index;
}

std::string pointerCode(const char* value) {
    return strcasecmp(value, "X") == 0 ? std::string("N") : std::string(value);
}

int32_t vrptFromRows(const std::vector<int32_t>& rows, Iso8211Field* field) {
    Subfields s;
    s.reserve(rows.size() * 5);
    for (int32_t i : rows) {
        const SrelRecord& r = topoSrelList.records[i];
        s.emplace_back("NAME", r.DEST_NAME);
        s.emplace_back("ORNT", r.ORNT);
        s.emplace_back("USAG", r.USAG);
        s.emplace_back("TOPI", pointerCode(r.TOPI));
        s.emplace_back("MASK", pointerCode(r.MASK));
    }
    if (fillField(field, "VRPT", s) != 0) {
        logLine("exportVRPT: out of memory (subfields).\n");
        return -1;
    }
    return 0;
}

double pointZ(IPoint* point, IFeature* feature) {
    const double z = point->GetZ();
    if (!std::isnan(z)) return z;
    const LONG depth = feature ? findField(feature, "DEPTH") : -1;
    if (depth < 0) return 0;
    const _variant_t v = feature->GetValue(depth);
    return v.vt == VT_NULL || v.vt == VT_EMPTY ? 0 : static_cast<double>(v);
}

// Shortest distance of p to the segment a-b (degrees, in the plane).
double segmentDistance(const WKSPoint& p, const WKSPoint& a, const WKSPoint& b) {
    const double dx = b.X - a.X, dy = b.Y - a.Y;
    const double length2 = dx * dx + dy * dy;
    double t = length2 > 0 ? ((p.X - a.X) * dx + (p.Y - a.Y) * dy) / length2 : 0;
    t = t < 0 ? 0 : (t > 1 ? 1 : t);
    return std::hypot(p.X - (a.X + t * dx), p.Y - (a.Y + t * dy));
}

// The kept interior vertices of an edge (see exportVector), scaled, as YCOO, XCOO values.
void polylineVertices(IPointCollection* points, double tolerance, std::vector<int32_t>& out) {
    out.clear();
    const LONG n = points->GetPointCount();
    if (n - 2 <= 0) return;
    std::vector<WKSPoint> p;
    p.reserve(static_cast<std::size_t>(n));
    // Our own geometry gives its coordinates whole; another goes point by point.
    const geom::Shape* shape = nullptr;
    try {
        shape = &geom::shapeOf(points);
    } catch (const _com_error&) {
        shape = nullptr;
    }
    if (shape && shape->pointCount() == std::size_t(n)) {
        for (const geom::Part& part : shape->parts)
            for (const geom::Coord& c : part) p.push_back({c.x, c.y});
    } else {
        IPointPtr q(CLSID_Point);
        for (LONG i = 0; i < n; ++i) {
            points->QueryPoint(i, q);
            p.push_back({q->GetX(), q->GetY()});
        }
    }
    // Each vertex scaled once.
    std::vector<std::pair<int32_t, int32_t>> scaled(p.size());
    for (std::size_t i = 0; i < p.size(); ++i)
        scaled[i] = {roundToInt(p[i].X * coordFactor), roundToInt(p[i].Y * coordFactor)};
    std::vector<std::size_t> kept;
    std::size_t previous = 0;
    for (std::size_t i = 1; i + 1 < p.size(); ++i) {
        bool drop = scaled[i] == scaled[previous];
        if (!drop && tolerance > 0) drop = segmentDistance(p[i], p[previous], p[i + 1]) < tolerance;
        if (!drop) kept.push_back(i);
        previous = i;
    }
    // The last interior vertex repeating the end node is the node itself; only that vertex is
    // left out, never another one kept before it.
    const std::size_t last = p.size() - 2;
    if (!kept.empty() && kept.back() == last && p[last].X == p[last + 1].X && p[last].Y == p[last + 1].Y)
        kept.pop_back();
    out.reserve(kept.size() * 2);
    for (std::size_t i : kept) {
        out.push_back(scaled[i].second);
        out.push_back(scaled[i].first);
    }
}

template <class F>
int32_t guarded(const char* function, F&& body) {
    return guardedStep(kModule, function, std::forward<F>(body));
}

}  // namespace

// ---- Driver of the module ------------------------------------------------------------------------

int32_t exportVector(IWorkspace* workspace, Iso8211File* file, double tolerance, const char* cellName) {
    LookupMemo memo;
    lookupMemo = &memo;
    struct EndMemo {
        ~EndMemo() { lookupMemo = nullptr; }
    } endMemo;
    return guarded("exportVector", [&]() -> int32_t {
        int32_t rc = exportVI(workspace, file, "vi2d", cellName);
        if (rc != 0) {
            logLine("Unable to export 2D isolated nodes\n");
            return rc;
        }
        setProgress(55);
        rc = exportVI3DSP(workspace, file, cellName);
        if (rc != 0) {
            logLine("Unable to export 3D isolated nodes\n");
            return rc;
        }
        setProgress(60);
        rc = exportVC(workspace, file, "vc", cellName);
        if (rc != 0) {
            logLine("Unable to export connected nodes\n");
            return rc;
        }
        setProgress(65);
        rc = exportVE(workspace, file, "ve", tolerance, cellName);
        if (rc != 0) {
            logLine("Unable to export edges\n");
            return rc;
        }
        return 0;
    });
}

int32_t exportVI(IWorkspace* workspace, Iso8211File* file, const char* className, const char* cellName) {
    return exportSpatialPoint(workspace, file, className, "VI", cellName);
}

int32_t exportVC(IWorkspace* workspace, Iso8211File* file, const char* className, const char* cellName) {
    return exportSpatialPoint(workspace, file, className, "VC", cellName);
}

// ---- Nodes -------------------------------------------------------------------------------------

int32_t exportSpatialPoint(IWorkspace* workspace, Iso8211File* file, const char* className, const char* recordName,
                           const char* cellName) {
    return guarded("exportSpatialPoint", [&]() -> int32_t {
        if (!workspace || !file || !className || !recordName || !cellName) return -19;
        IFeatureClassPtr cls = openClass(workspace, className);
        if (!cls) return -11;
        IQueryFilterPtr filter = cellFilter(cellName);
        if (cls->FeatureCount(filter) <= 0) return 0;
        const bool multipoint = strcasecmp(className, "vi3d") == 0;
        int count = 0;
        IFeatureCursorPtr cursor = cls->Search(filter, VARIANT_FALSE);
        for (IFeaturePtr feature = cursor->NextFeature(); feature; feature = cursor->NextFeature()) {
            FieldSet fields(3);  // VRID, ATTV, coordinates
            int32_t rc = exportVRID(feature, vridFieldDefs, fieldDefCount(vridFieldDefs), fields[0], recordName);
            if (rc == 0) rc = exportVectorAttributes(feature, fields[1]);
            if (rc == 0) {
                if (multipoint) {
                    IPointCollectionPtr points(feature->GetShape());
                    rc = points ? exportCoordinates(points, fields[2], "SG3D") : -19;
                } else {
                    rc = exportCoordinate(feature, fields[2], "SG2D");
                }
            }
            if (rc != 0) return rc;
            rc = writeDataRecord(file, fields, kNodeTexts);
            if (rc != 0) return rc;
            ++count;
        }
        if (strcasecmp(className, "vc") == 0)
            logLine("converted %5d Connected nodes\n", count);
        else
            logLine("converted %5d Isolated nodes\n", count);
        return 0;
    });
}

// ---- Sounding arrays ----------------------------------------------------------------------------

namespace {

// One array's record: the first row's VRID and attributes, an SG3D triple for each row with a point,
// at most k of them.
int32_t writeSoundingArray(const std::vector<IFeaturePtr>& array, int32_t k, Iso8211File* file) {
    return guarded("updateVI3DSP", [&]() -> int32_t {
        FieldSet fields(3);  // VRID, ATTV, SG3D
        std::vector<int32_t> coordinates;
        coordinates.reserve(array.size() * 3);
        int32_t taken = 0;
        for (const IFeaturePtr& feature : array) {
            if (taken >= k) break;
            if (!feature) continue;
            if (taken == 0) {
                int32_t rc = exportVRID(feature, vridFieldDefs, fieldDefCount(vridFieldDefs), fields[0], "VI");
                if (rc == 0) rc = exportVectorAttributes(feature, fields[1]);
                if (rc != 0) return rc;
            }
            IPointPtr point(feature->GetShape());
            if (!point) continue;
            addSounding(coordinates, point, pointZ(point, feature));
            ++taken;
        }
        if (taken == 0) return 0;
        const int32_t rc = putCoordinates(fields[2], "SG3D", 3, coordinates, "updateVI3DSP : unable to allocate memory\n");
        return rc != 0 ? rc : writeDataRecord(file, fields, kArrayTexts);
    });
}

}  // namespace

int32_t exportVI3DSP(IWorkspace* workspace, Iso8211File* file, const char* cellName) {
    return guarded("exportVI3DSP", [&]() -> int32_t {
        if (!workspace || !file || !cellName) return -19;
        IFeatureClassPtr cls = openClass(workspace, "vi3dsp");
        if (!cls) return -11;
        IQueryFilterPtr filter = cellFilter(cellName);
        if (cls->FeatureCount(filter) <= 0) return 0;
        ITableSortPtr sort(CLSID_TableSort);
        sort->PutRefTable(ITablePtr(cls));
        sort->PutRefQueryFilter(filter);
        sort->PutFields("NAME");
        sort->Sort(nullptr);
        ICursorPtr rows = sort->GetRows();
        const LONG nameIndex = rows->FindField("NAME");
        if (nameIndex < 0) return -11;

        // Each array's rows follow one another in the sorted rows: they are the rows its search by
        // NAME and DSNM would give (a row without NAME is in none), in the same order.
        std::string previous = "xx";
        std::vector<IFeaturePtr> array;
        int32_t k = 0;
        int arrays = 0;
        for (IRowPtr row = rows->NextRow(); row; row = rows->NextRow()) {
            const _variant_t nameValue = row->GetValue(nameIndex);
            const std::string name = columnText(nameValue);
            if (strcasecmp(name.c_str(), previous.c_str()) != 0 && k > 0) {
                // A failed array is logged; the others still go out.
                (void)writeSoundingArray(array, k, file);
                ++arrays;
                k = 0;
                array.clear();
            }
            previous = name;
            ++k;
            if (nameValue.vt != VT_NULL && nameValue.vt != VT_EMPTY) array.emplace_back(row);
        }
        if (k > 0) {
            (void)writeSoundingArray(array, k, file);
            ++arrays;
        }
        logLine("converted %5d Sounding array\n", arrays);
        return 0;
    });
}

int32_t updateVI3DSP(IFeatureClass* soundings, int32_t k, const char* arrayName, Iso8211File* file,
                     const char* cellName) {
    return guarded("updateVI3DSP", [&]() -> int32_t {
        if (!soundings || k <= 0 || !arrayName || !file || !cellName) return -19;
        IQueryFilterPtr filter(CLSID_QueryFilter);
        // Rows of the same name in another cell are another cell's array.
        filter->PutWhereClause(("NAME=" + sqlText(arrayName) + " AND DSNM=" + sqlText(cellName)).c_str());
        std::vector<IFeaturePtr> array;
        IFeatureCursorPtr cursor = soundings->Search(filter, VARIANT_FALSE);
        int32_t points = 0;  // the rows read stop at the k-th sounding
        for (IFeaturePtr feature = cursor->NextFeature(); feature && points < k; feature = cursor->NextFeature()) {
            if (IPointPtr(feature->GetShape())) ++points;
            array.push_back(feature);
        }
        return writeSoundingArray(array, k, file);
    });
}

// ---- Edges ---------------------------------------------------------------------------------------

int32_t exportVE(IWorkspace* workspace, Iso8211File* file, const char* className, double tolerance,
                 const char* cellName) {
    return guarded("exportVE", [&]() -> int32_t {
        if (!workspace || !file || !className || !cellName) return -19;
        IFeatureClassPtr cls = openClass(workspace, className);
        if (!cls) return -11;
        IQueryFilterPtr filter = cellFilter(cellName);
        if (cls->FeatureCount(filter) <= 0) return 0;
        const LONG nameIndex = cls->FindField("name");
        if (nameIndex < 0) return -11;
        const auto pointers = pointerIndex();
        const std::vector<int32_t> none;
        int count = 0;
        IFeatureCursorPtr cursor = cls->Search(filter, VARIANT_FALSE);
        for (IFeaturePtr feature = cursor->NextFeature(); feature; feature = cursor->NextFeature()) {
            FieldSet fields(4);  // VRID, VRPT, ATTV, SG2D
            const std::string name = columnText(feature->GetValue(nameIndex));
            // Each step logs its own failure; the record goes out with what they gave.
            (void)exportVRID(feature, vridFieldDefs, fieldDefCount(vridFieldDefs), fields[0], "VE");
            const auto rows = pointers.find(upper(name));
            (void)vrptFromRows(rows == pointers.end() ? none : rows->second, fields[1]);
            (void)exportVectorAttributes(feature, fields[2]);
            IPointCollectionPtr points(feature->GetShape());
            // The vertices are kept by the field set: an edge's values need no allocation each.
            std::vector<int32_t> vertices;
            if (points &&
                guarded("exportPolylineCoordinates", [&]() -> int32_t {
                    polylineVertices(points, tolerance, vertices);
                    return 0;
                }) == 0 &&
                fields.setCoordinates(3, "SG2D", kPlane, 2, vertices) != 0)
                logLine("exportPolylineCoordinates: out of memory (subfields).\n");
            const int32_t rc = writeDataRecord(file, fields, kEdgeTexts);
            if (rc != 0) return rc;
            ++count;
        }
        logLine("converted %5d Edges\n", count);
        return 0;
    });
}

// ---- Fields --------------------------------------------------------------------------------------

int32_t exportVRID(IFeature* feature, const FieldDef* defs, int32_t n, Iso8211Field* field, const char* recordName) {
    return guarded("exportVRID", [&]() -> int32_t {
        if (!feature || !defs || n <= 0 || !field || !recordName) return -19;
        std::string identifier = "0000000000";
        const LONG nameIndex = findField(feature, "NAME");
        if (nameIndex >= 0) {
            const std::string name = columnText(feature->GetValue(nameIndex));
            identifier = name.size() > 2 ? name.substr(2) : std::string();
        }
        Subfields s;
        for (int32_t i = 0; i < n; ++i) {
            std::string value;
            if (strcasecmp(defs[i].name, "RCNM") == 0) {
                value = recordName;
            } else if (strcasecmp(defs[i].name, "RCID") == 0) {
                value = identifier;
            } else {
                const LONG index = findField(feature, defs[i].name);
                if (index >= 0) value = columnText(feature->GetValue(index));
            }
            s.emplace_back(defs[i].name, std::move(value));
        }
        if (fillField(field, "VRID", s) != 0) {
            logLine("exportVRID: out of memory (subfields).\n");
            return -1;
        }
        return 0;
    });
}

int32_t exportVRPT(const char* edgeName, Iso8211Field* field) {
    return guarded("exportVRPT", [&]() -> int32_t {
        if (!edgeName || !field) return -19;
        std::vector<int32_t> rows;
        for (int32_t i = 0; i < topoSrelList.count; ++i)
            if (strcasecmp(topoSrelList.records[i].SRC_NAME, edgeName) == 0) rows.push_back(i);
        return vrptFromRows(rows, field);
    });
}

int32_t exportVectorAttributes(IFeature* feature, Iso8211Field* field) {
    return guarded("exportVectorAttributes", [&]() -> int32_t {
        if (!feature || !field) return -19;
        static constexpr int32_t kCodes[] = {400, 401, 402};  // HORDAT, POSACC, QUAPOS
        Subfields s;
        for (int32_t code : kCodes) {
            int32_t index = 0;
            if (attributeIndex(code, &index) != 0 || !s57Attributes) continue;
            const LONG column = findField(feature, s57Attributes[index].name);
            if (column < 0) continue;
            const _variant_t value = feature->GetValue(column);
            std::string text;
            if (value.vt == VT_R8 || value.vt == VT_R4) {
                char buf[64];
                std::snprintf(buf, sizeof buf, "%.15g", static_cast<double>(value));
                text = buf;
            } else {
                text = levelText(columnText(value), 1);
            }
            if (text.empty()) continue;
            s.emplace_back("ATTL", decimal(code));
            s.emplace_back("ATVL", std::move(text));
        }
        if (fillField(field, "ATTV", s) != 0) {
            logLine("exportVectorAttributes: out of memory (subfields).\n");
            return -1;
        }
        return 0;
    });
}

int32_t exportCoordinate(IFeature* feature, Iso8211Field* field, const char* tag) {
    return guarded("exportCoordinate", [&]() -> int32_t {
        if (!feature || !field || !tag) return -19;
        IPointPtr point(feature->GetShape());
        if (!point) return -19;
        std::vector<int32_t> s = {roundToInt(point->GetY() * coordFactor), roundToInt(point->GetX() * coordFactor)};
        if (std::strcmp(tag, "SG3D") == 0) {
            const LONG depth = findField(feature, "DEPTH");
            const _variant_t v = depth >= 0 ? feature->GetValue(depth) : _variant_t();
            const double z = v.vt == VT_NULL || v.vt == VT_EMPTY ? 0 : static_cast<double>(v);
            s.push_back(roundToInt(z * soundingFactor));
        }
        return putCoordinates(field, tag, int(s.size()), s, "exportCoordinate: out of memory (subfields).\n");
    });
}

int32_t exportCoordinates(IPointCollection* points, Iso8211Field* field, const char* tag) {
    return guarded("exportCoordinates", [&]() -> int32_t {
        if (!points || !field || !tag) return -19;
        const LONG n = points->GetPointCount();
        std::vector<int32_t> s;
        s.reserve(std::size_t(n > 0 ? n : 0) * 3);
        IPointPtr p(CLSID_Point);
        for (LONG i = 0; i < n; ++i) {
            points->QueryPoint(i, p);
            addSounding(s, p, pointZ(p, nullptr));
        }
        return putCoordinates(field, tag, 3, s, "exportCoordinates: out of memory (subfields).\n");
    });
}

int32_t exportPolylineCoordinates(IPointCollection* points, Iso8211Field* field, const char* tag, double tolerance) {
    return guarded("exportPolylineCoordinates", [&]() -> int32_t {
        if (!points || !field || !tag) return -19;
        if (fillField(field, tag, {}) != 0) return -1;
        std::vector<int32_t> s;
        polylineVertices(points, tolerance, s);
        if (s.empty()) return 0;
        if (putCoordinates(field, tag, 2, s, "exportPolylineCoordinates: out of memory (subfields).\n") != 0) return -1;
        return 0;
    });
}

int32_t roundToInt(double value) {
    if (std::isnan(value)) return 0;
    double whole = std::trunc(value);
    const double rest = value - whole;
    if (rest >= 0.5) whole += 1;
    else if (rest <= -0.5) whole -= 1;
    if (whole > 2147483647.0) return INT32_MAX;
    if (whole < -2147483648.0) return INT32_MIN;
    return int32_t(whole);
}
