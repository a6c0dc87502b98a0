// s57/field_utils.h: module s57_util2, the field utilities of the export road: building the fields of
// an ISO 8211 record to write (copy, initialise, fill a subfield, prepare for writing), small text
// helpers, and the way back from a geodatabase class and subtype to its S-57 object class.
// Results are codes and log lines (logFile); nothing is thrown to callers. Values of subfields are
// malloc'ed, as the record layer frees them (Free8211Record).
#pragma once

#include <cstdint>
#include <string>

struct Iso8211Field;
struct Iso8211Record;
struct IUnknown;

// dst := src's tag, subfield count and subfield array: the two fields then share their subfields
// (free them once). Nothing when either is null.
void shallowCopyField(Iso8211Field* dst, const Iso8211Field* src);

// Empty tag, no subfields, no array (the old ones are not freed).
void initializeField(Iso8211Field* field);

// The subfield at `index` gets the label, an empty format control, a malloc'ed copy of the value
// and its length; the value it held is freed, so the array must start zero-filled (calloc).
// 0; -1 out of memory (the subfield unchanged); -19 null argument or index outside the field.
[[nodiscard]] int updateSubfield(Iso8211Field* field, const char* label, const char* value, int index);

// Sets every subfield's length to its text's; with binary 1 also turns each value into its binary
// form (ascii2bin). 0; -19 null record; -1 out of memory; the codec's code for a value it refuses
// (logged with the field tag, label and value; the record stays as far as it was converted).
[[nodiscard]] int PrepareToWrite(Iso8211Record* record, int binary);
// PrepareToWrite in binary mode of a record whose every value is a heap text of its own (made by
// updateSubfield or WriteIso8211Field0001): each value takes its stored form in its own bytes
// where they suffice, without an allocation. A value that carries a format is stored already and
// stays as it is.
[[nodiscard]] int prepareBuiltRecord(Iso8211Record* record);

// Removes trailing blanks, tabs and line feeds in place. The index of the last character kept;
// -1 when nothing is kept (or for null).
int trimRight(char* text);

// The part of a qualified name after its last '.', or the whole name ("" for null).
std::string getFCName(const char* qualifiedName);

// The S-57 acronym that the product mapping gives a geodatabase class and subtype (names reduced
// with getFCName, case ignored): with class and subtype names equal, the first mapping of the
// class; else the first mapping of that class and subtype. "" when nothing matches.
std::string findS57Object(const char* featureClassName, const char* subtypeName);

// Code of the first s57Objects entry of that acronym (case ignored); -1 when none.
int32_t findS57ObjectCode(const char* acronym);

// Code of the first s57Attributes entry of that acronym (case ignored); 0 when none.
int32_t findAttributeCode(const char* acronym);

// "esriFieldTypeInteger" (1), "esriFieldTypeDouble" (3), "esriFieldTypeString" (4), else
// "esriFieldTypeOTHER".
const char* fieldTypeName(int32_t fieldType);

// Fills `field` (its tag left as it is; pass it initialised: old subfields are not freed) with one
// ATTL/ATVL pair per acronym:
// ATTL the attribute code (findAttributeCode), ATVL the value of the row's column of that name as
// text (null: empty). `row` is a row, feature, row buffer or feature buffer. A column the row lacks
// gives an empty value and "column %s not found, setting column value to empty\n".
// 0; -1 out of memory (logged); -19 null argument; E_FAIL after a COM failure (logged).
[[nodiscard]] int exportAttribute(Iso8211Field* field, IUnknown* row, int count,
                                  const char* const* acronyms);
