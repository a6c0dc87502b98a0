// s57/dbutil.h: module dbUtil, the geodatabase operations that import and export share (open a
// workspace by path, create or reuse a table or feature class from compiled-in column definitions,
// set a value by column name, insert a feature, update a dssi count), and those definitions: the
// FieldDef tables of every table of the geodatabase model and of the S-57 fields written back.
// Every operation catches _com_error, logs "Error: dbUtil::<name>\n<description>\n" to logFile and
// returns E_FAIL; other failures are the platform's results passed on. Nothing is thrown to callers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/com/com.h"
#include "platform/gdb/gdb.h"
#include "s57/fielddef.h"

// ---- Column definitions (index, name, default, type 1 text / 2 integer / 3 real, width) ---------

extern const FieldDef dsnmFieldDefs[3];       // DSNM CATCOV METAID
extern const FieldDef dsidFieldDefs[16];      // table dsid
extern const FieldDef dssiFieldDefs[12];      // table dssi
extern const FieldDef dspmFieldDefs[14];      // table dspm
extern const FieldDef dsprFieldDefs[9];       // DSPR subfields
extern const FieldDef dsrcFieldDefs[8];       // DSRC subfields
extern const FieldDef dshtFieldDefs[8];       // DSHT subfields
extern const FieldDef dsacFieldDefs[7];       // DSAC subfields
extern const FieldDef catdFieldDefs[13];      // table catd
extern const FieldDef catxFieldDefs[6];       // CATX subfields
extern const FieldDef primitiveFieldDefs[4];  // classes vi2d vi3d vi3dsp vc ve
extern const FieldDef vridFieldDefs[4];       // VRID subfields
extern const FieldDef fridFieldDefs[7];       // base columns of every object feature class
extern const FieldDef foidFieldDefs[3];       // FOID subfields
extern const FieldDef objcatFieldDefs[4];     // table objcat
extern const FieldDef statFieldDefs[6];       // table stat (created from the first 5)
extern const FieldDef srelFieldDefs[9];       // table srel
extern const FieldDef frelFieldDefs[7];       // table frel (created from the first 6)
extern const FieldDef attrFieldDefs[12];      // table attr; index = attribute code
extern const FieldDef attoFieldDefs[3];       // table atto: LNAM, ATTL, ATVL
extern const FieldDef cellNameFieldDefs[1];   // DSNM t17; no table is built from it

template <std::size_t N>
constexpr int fieldDefCount(const FieldDef (&)[N]) {
    return int(N);
}

// ---- SQL text --------------------------------------------------------------------------------

// value as an SQL string literal: in single quotes, each quote doubled, cut at a NUL.
std::string sqlText(std::string_view value);

// ---- Values --------------------------------------------------------------------------------------

// The text as a BSTR VARIANT, null as empty: the value _variant_t(const char*) gives, made in one
// allocation (ASCII is widened in place, other text decoded as UTF-8). Raises E_OUTOFMEMORY.
_variant_t textVariant(const char* text);

// ---- Rows ----------------------------------------------------------------------------------------

// The fields and values of any row-like object: a row, feature, row buffer or feature buffer.
// Calls raise _com_error as the platform's wrappers do.
class RowAccess {
public:
    explicit RowAccess(IUnknown* object);
    explicit operator bool() const { return row_ || feature_ || rowBuffer_ || featureBuffer_; }
    IFieldsPtr fields() const;
    LONG findField(const char* name) const;  // -1 when absent
    _variant_t value(LONG index) const;
    void put(LONG index, const VARIANT& value) const;

private:
    IRowPtr row_;
    IFeaturePtr feature_;
    IRowBufferPtr rowBuffer_;
    IFeatureBufferPtr featureBuffer_;
};

// ---- Operations ----------------------------------------------------------------------------------

// Opens a personal geodatabase (the lower-cased path contains ".mdb" or ".gpkg") or an enterprise
// one through its connection file (contains ".sde"; ".mdb" is tested first). The platform's result;
// GDB_E_BAD_PATH (logged) for any other path, *workspace left as it was; E_POINTER for a null out
// pointer; E_FAIL after a COM error.
[[nodiscard]] HRESULT openWorkspace(const char* path, IWorkspace** workspace);

// Whether openWorkspace takes `path` for an enterprise geodatabase's connection file.
bool isConnectionFilePath(const char* path);

// Opens the table of that name, or creates it from the first n definitions (after the object id).
// A reused table keeps its columns; each definition it lacks is logged
// ("createGDBTable: table %s has no column %s\n"). 0 or the platform's result (GDB_E_NAME_EXISTS
// counts as reuse for callers); E_POINTER for a null out pointer; E_FAIL after a COM error.
[[nodiscard]] HRESULT createGDBTable(IFeatureWorkspace* workspace, const char* name, ITable** table, int n,
                                     const FieldDef* defs);
[[nodiscard]] HRESULT createFeatureTable(IFeatureWorkspace* workspace, const char* name, ITable** table,
                                         int n, const FieldDef* defs);

// Opens the feature class of that name, or creates it in the workspace: object id, shape (the given
// geometry type and spatial reference, one grid of size 100, Z when zFlag > 0), the n definitions,
// the m entries attrTable[attrIndexes[k]] (attribute columns), and DEPTH (double) when zFlag > 0.
// A column name already in the list is not added twice. A reused class keeps its columns; each one
// it lacks is logged ("createFeatureClass: feature class %s has no column %s\n"). Results as for
// createGDBTable.
[[nodiscard]] HRESULT createFeatureClass(IFeatureWorkspace* workspace, const char* name,
                                         esriGeometryType geometryType, int n, const FieldDef* defs, int m,
                                         const int32_t* attrIndexes, const FieldDef* attrTable, int zFlag,
                                         IFeatureClass** featureClass, ISpatialReference* spatialReference);

// Opens the feature class and walks its fields. 0, the open's result, or E_FAIL (logged).
[[nodiscard]] HRESULT readFeatureClass(IFeatureWorkspace* workspace, const char* name);

// Case-insensitive comparison: negative, 0, positive.
int compareNoCase(const char* a, const char* b);

// Stores the value in the column of that name. 0; 1 when the column lookup fails; a column the
// row lacks stores nothing, is logged ("SetRecordValue: column %s not found\n") and gives 0;
// E_FAIL after a COM error, such as a value that does not fit its column (logged).
int SetRecordValue(IRowBuffer* row, const char* column, const VARIANT& value);
int SetRecordValue(IFeatureBuffer* row, const char* column, const VARIANT& value);
int SetRecordValue(IRow* row, const char* column, const VARIANT& value);
int SetRecordValue(IFeature* row, const char* column, const VARIANT& value);

// In table "DSSI", every row whose DSNM equals the cell name gets the value in the named column.
// 0; E_FAIL after a COM error (logged), also for a column the table lacks.
[[nodiscard]] HRESULT populateDSSI(IFeatureWorkspace* workspace, const char* column, int value,
                                   const char* cellName);

// Inserts one feature: the shape (Z-aware when zFlag), NAME = recordNo as "%-10d", each definition
// whose value text is not empty, then the attribute definitions likewise, DEPTH = z when zFlag.
// The insert's result (a failure also logged as
// "Error %d:Error on inserting feature buffer to %s. Check field definitions.\n"); E_FAIL after a
// COM error.
[[nodiscard]] HRESULT populateFeatureRecord(IFeatureClass* featureClass, IGeometry* geometry, int recordNo,
                                            int n, const FieldDef* defs, const char* const* values, int m,
                                            const FieldDef* attrDefs, const char* const* attrValues,
                                            int zFlag, double z);

// The same for one point with DEPTH (the class must have Z).
[[nodiscard]] HRESULT populatePointFeatureClass(IFeatureClass* featureClass, IPoint* point, int recordNo,
                                                int n, const FieldDef* defs, const char* const* values,
                                                double depth);

// ---- Field lists (for callers that build a class themselves) --------------------------------

// A new field: the definition's name and width, type 1 string, 2 integer, 3 double (another type
// sets none).
IFieldPtr makeField(const FieldDef& def);
IFieldPtr makeField(const char* name, esriFieldType type, LONG length);

// The required fields of a new feature class (object id and a shape of that type, spatial
// reference, grid 100, Z) as an editable list, and the shape field's name.
IFieldsEditPtr featureClassFields(esriGeometryType geometryType, ISpatialReference* spatialReference,
                                  bool hasZ, _bstr_t* shapeFieldName);
