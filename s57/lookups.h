// s57/lookups.h: queries over the loaded catalogue tables of dimml.h: code/acronym translations of
// object classes and attributes, the attribute sets of a class, the product mapping from S-57 class
// and attribute to geodatabase class, subtype and field, and the attribute values of a record.
// Results: 0 success, -10 code or acronym not in the catalogue, -13 no mapping matches, -19 a null
// argument, E_FAIL (0x80004005) a failure inside a mapping lookup (logged). Indexes are 0-based
// positions in their table. Nothing here owns memory: returned texts point into the tables (valid
// until the next load) or into the record (valid while the record is).
#pragma once

#include <cstdint>
#include <string>

#include "s57/fielddef.h"

struct Iso8211Record;

// ---- Object classes and attributes (first match of a linear search) --------------------------

// index := position in s57Attributes of the entry whose code is `code`; 0 or -10 (index := 0).
[[nodiscard]] int lookupAttrIndex(int32_t code, int32_t* index);
// lookupAttrIndex of the decimal value of `code` (leading digits; none gives 0).
[[nodiscard]] int lookupAttrIndexStr(const char* code, int32_t* index);

// index := position in s57Objects of the class whose code is `code`; 0 or -10 (index := 0).
[[nodiscard]] int lookupObjIndex(int32_t code, int32_t* index);
[[nodiscard]] int lookupObjIndexStr(const char* code, int32_t* index);

// index := position of the class (attribute) whose acronym equals `acronym` exactly, case
// included; 0, or -10 with index untouched.
[[nodiscard]] int lookupObjIndexByAcronym(const char* acronym, int32_t* index);
[[nodiscard]] int lookupAttrIndexByAcronym(const char* acronym, int32_t* index);

// code := the code of the class (attribute) of that acronym; 0 or -10.
[[nodiscard]] int lookupObjCode(const char* acronym, int32_t* code);
[[nodiscard]] int lookupAttrCode(const char* acronym, int32_t* code);

// acronym := the acronym text in the table of the class (attribute) whose code is the decimal text
// `code`; 0 or -10 (acronym untouched).
[[nodiscard]] int lookupObjAcronym(const char* code, const char** acronym);
[[nodiscard]] int lookupAttrAcronym(const char* code, const char** acronym);

// 1 when value is among the first n entries of list, else 0 (also for a null list).
int isInCodeList(int32_t value, const int32_t* list, int32_t n);

// ---- Attribute sets of a class -------------------------------------------------------------

// count := number of pairs of the class in s57Sets, all sets together: the room that the code array
// of lookupClassAttributes needs. 0, -10 (class not in s57Objects) or -19.
[[nodiscard]] int lookupClassPairCount(int32_t objectCode, int32_t* count);

// codes := the attribute codes of the class's pairs whose set the selector takes ("A": set A; "BC":
// sets B and C; case ignored; any other selector takes nothing), in the order of s57Sets; count :=
// how many. Every pair of the class is found wherever it stands in the table. codes must have room
// for lookupClassPairCount entries. 0, -10 (class not in s57Objects) or -19; count is written only
// on success.
[[nodiscard]] int lookupClassAttributes(int32_t objectCode, int32_t* count, int32_t* codes,
                                        const char* selector);
[[nodiscard]] int lookupSetAAttributes(int32_t objectCode, int32_t* count, int32_t* codes);
[[nodiscard]] int lookupSetBCAttributes(int32_t objectCode, int32_t* count, int32_t* codes);
// The same by class acronym (exact, as lookupObjIndexByAcronym): -19 for any null argument, -10
// for an unknown acronym.
[[nodiscard]] int lookupSetAAttributesByAcronym(const char* acronym, int32_t* count, int32_t* codes);
[[nodiscard]] int lookupSetBCAttributesByAcronym(const char* acronym, int32_t* count, int32_t* codes);

// ---- Product mapping (module dimml; case ignored, first match in file order) ----------------

// className and subtype := gdbName and subtype of the first object map of that acronym and primitive
// type (P, L or A). Both start empty. 0, -13 (none matches), -19, or E_FAIL (logged as
// "Error: dimml::checkFeatureClassName\n%s\n").
[[nodiscard]] int checkFeatureClassName(std::string& className, std::string& subtype,
                                        const char* acronym, const char* type);

// fieldName := gdbName of the first attribute map of that class acronym, primitive type and
// attribute acronym; starts empty. 0, -13, -19, or E_FAIL (logged).
[[nodiscard]] int checkFeatureAttributeName(std::string& fieldName, const char* acronym,
                                            const char* type, const char* attribute);

// ---- Attribute values of a record -------------------------------------------------------------

// values[0..n-1] := one shared empty text; 0, or -19 for a null array.
int initAttributeValues(int32_t n, const char** values);

// values[k] := the ATVL text of the record's ATTV pair whose ATTL names attribute table[index[k]]
// (by acronym when ATTL begins with A-Z, else by code through s57Attributes), or the empty text.
// An ATTL code unknown to s57Attributes logs "unable to import attl subfield %s\n" for each k. The
// texts belong to the record. 0, or -19 for a null pointer (values, when given, are still emptied).
int getATTVValues(const Iso8211Record* record, const FieldDef* table, int32_t n,
                  const int32_t* index, const char** values);
