// s57/fielddef.h: FieldDef, one column or subfield definition of the geodatabase model, and one
// attribute entry of the S-57 catalogue. Plain data; every text is NUL-terminated within its array.
#pragma once

#include <cstdint>

struct FieldDef {
    int32_t index;          // 1-based order number; the S-57 attribute code in attribute tables
    char name[10];          // column name: the subfield label or attribute acronym
    char defaultValue[10];  // the text that stands for a missing value
    int32_t type;           // 1 text, 2 integer, 3 real
    int32_t width;          // the column length given to the geodatabase field
};
