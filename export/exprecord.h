// export/exprecord.h: what the record exporters share to build and write one data record of a cell:
// fields filled from label and value texts, the fields' ownership until a record takes them, and
// the writing of a record (its 0001 identifier, the fields, binary preparation, the write) with
// each exporter's own log lines.
//
// Results: 0; -1 out of memory; -19 a bad argument; the record layer's or codec's code of the
// failing step (logged with the exporter's text). Nothing is thrown to callers.
#pragma once

#include <cstdint>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/com/com_error.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"

// Fields being built; each one's subfields are freed with the holder unless a record took them.
class FieldSet {
public:
    explicit FieldSet(int count);
    ~FieldSet();
    FieldSet(const FieldSet&) = delete;
    FieldSet& operator=(const FieldSet&) = delete;
    Iso8211Field* operator[](int i) { return &fields_[std::size_t(i)]; }
    int size() const { return int(fields_.size()); }

    // fillCoordinateField for field i, its subfields and values kept by the set itself (one
    // allocation a field instead of one a value); the record writes them without taking them. A
    // field so filled is not filled again through operator[]. 0; -1 out of memory.
    [[nodiscard]] int32_t setCoordinates(int i, const char* tag, const char* const* labels, int perPoint,
                                         const std::vector<int32_t>& values);

private:
    friend int32_t writeDataRecord(Iso8211File*, FieldSet&, const struct RecordLogTexts&);
    struct Kept {
        std::vector<Iso8211SubField> subfields;
        std::string bytes;
    };
    bool kept(std::size_t i) const;
    std::vector<Iso8211Field> fields_;
    std::vector<Kept> kept_;
};

// Runs one step of a record exporter: a COM error is logged as the module's and gives E_FAIL,
// running out of memory is logged with the function's name and gives -1.
template <class F>
int32_t guardedStep(const char* module, const char* function, F&& body) {
    try {
        return body();
    } catch (const _com_error& e) {
        logComErrorOf(module, function, e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logLine("%s: out of memory\n", function);
        return -1;
    }
}

// Gives the field its tag and one subfield per pair (label, text), replacing what it held.
// 0; -1 out of memory (the field left without subfields); -19 null field.
[[nodiscard]] int32_t fillField(Iso8211Field* field, const char* tag,
                                const std::vector<std::pair<const char*, std::string>>& subfields);

// Gives the field its tag and one signed 32-bit binary subfield (b24) per value, the labels taken in
// turn from `labels` (YCOO, XCOO, VE3D for three a point): the stored forms themselves, which the
// record's preparation keeps as they are (their format is the library's "L24", which marks them as
// binary to the writer's text checks too). 0; -1 out of memory; -19 a bad argument.
[[nodiscard]] int32_t fillCoordinateField(Iso8211Field* field, const char* tag, const char* const* labels,
                                          int perPoint, const std::vector<int32_t>& values);

// The log lines of one exporter's record steps, printf formats; %d where the Part gives the record
// counter.
struct RecordLogTexts {
    const char* allocate;   // record or field array
    const char* counter;    // counter to text
    const char* padding;    // 0001 text to five digits
    const char* field0001;  // %d
    const char* translate;  // %d
    const char* write;      // %d
};

// The 0001 identifier of the next record of the file: its record counter as the b12 subfield holds
// it (modulo 65536), five digits with leading zeros. A cell of more records goes on numbering
// from 0 instead of stopping at the five digits' end.
std::string recordIdentifier(const Iso8211File* file);

// Writes one data record: 0001, then the fields of the set in order, each one that has subfields
// (the record layer writes no field without any, so an edge without interior vertices has no
// SG2D). The record is prepared in binary mode. The set's fields belong to the record afterwards
// (also after a failure), but for those it keeps itself (setCoordinates); the record is freed
// before returning.
[[nodiscard]] int32_t writeDataRecord(Iso8211File* file, FieldSet& fields, const RecordLogTexts& texts);
