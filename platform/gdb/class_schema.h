// platform/gdb/class_schema.h: what both geodatabase backends read from a field list before they
// store a table or feature class: the columns, the object id and shape fields, the geometry type
// with its Z flag, spatial reference and grid. Storage-neutral.
#pragma once

#include <string>
#include <vector>

#include "platform/gdb/gdb.h"

namespace gdb {

struct FieldSpec {
    std::string name;
    esriFieldType type = esriFieldTypeString;
    LONG length = 0;
    bool nullable = true;
};

struct ClassSpec {
    std::vector<FieldSpec> fields;
    int oid = -1;    // index of the object id field
    int shape = -1;  // index of the shape field (feature classes)
    esriGeometryType shapeType = esriGeometryNull;
    bool hasZ = false;
    ISpatialReferencePtr sr;  // of the shape field's definition, may be null
    double grid = 0;          // spatial index grid 0, 0 when none
};

// Reads and checks a field list for table or feature class `name` (shapeField: the shape's name,
// "SHAPE" when empty). Throws _com_error GDB_E_BAD_SCHEMA naming the fault: an empty entry or
// name, a name twice (case ignored), not one object id, a feature class without its shape field or
// with a geometry type other than point, multipoint, polyline or polygon, a table with geometry,
// an unknown type.
ClassSpec readClassSpec(const std::string& name, IFields* fields, bool feature, const std::string& shapeField);

}  // namespace gdb
