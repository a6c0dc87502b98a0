// s57/s57_file.h: the converter's view of an ISO 8211 (S-57) file. Reading opens the file through
// the ISO 8211 library, indexes every data record and hands out whole records whose values are
// already ASCII text; writing creates a file from a table of field descriptions and writes record
// images back. Importers and exporters never see the library's structures.
//
// Every operation returns 0 or a negative result code and writes one line per failure to logFile,
// beginning with its own name. Records, fields, subfields and values are malloc'ed: release a
// record with Free8211Record. A record read from a file is one block (fields, subfields and value
// texts): a subfield array or value of it may be replaced by a malloc'ed one, which Free8211Record
// and Free8211Field then free, but no part of the block may be freed or reallocated on its own.
// Not thread-safe (the library has one current file).
#pragma once

#include <cstdint>
#include <cstdio>

#include "s57/fielddef.h"

// One data record of the index, in file order. Character members only: entries lie back to back.
struct Iso8211RecIndex {
    char rcnm[3];           // record name, two letters ("VI", "FE", "DS")
    char rcid[11];          // record identifier, ten digits
    unsigned char ordinal;  // low 8 bits of the record's ordinal (1 for the first data record)
};
static_assert(sizeof(Iso8211RecIndex) == 15, "index entries lie back to back");

// An open file. Owned by the caller; filled by Read8211File or Write8211File, emptied by
// Close8211File.
struct Iso8211File {
    FILE* fp;               // the library's stream; null when closed
    int32_t recordNo;       // read: ordinal of the next record to load; write: records written
    char mode;              // 'r', 'w', or ' ' closed
    int32_t recordCount;    // read: data records of the file; write: records written, DDR counted
    Iso8211RecIndex* index; // read: recordCount entries (malloc'ed, freed by Close8211File)
    int32_t level;          // interchange level
    char inlineCodeExt[2];  // inline code extension indicator
    char charSet[4];        // extended character set indicator
    long* recordStart;      // read: where each record begins (recordCount entries, malloc'ed), so
                            // that Read8211Record goes straight to it; null when records lean on
                            // the one before them ('R' leaders) and are reached one by one
};

struct Iso8211SubField {
    char label[5];   // four-letter label; "    " in a built 0001 field
    char format[11]; // format control as the library reports it; empty in built records but for
                     // values built in their stored binary form ("L24": b24 coordinates)
    char* value;     // NUL-terminated text (or bytes prepared for writing), malloc'ed or in the
                     // block of a read record. Text is UTF-8 both ways: the file holds it by the
                     // lexical level of its field, UCS-2 where the controls carry "%/A" (NATF),
                     // else ISO 8859-1
    int32_t length;  // bytes of value that Write8211Record writes (UTF-8 bytes for text)
};

struct Iso8211Field {
    char tag[8];
    int32_t subfieldCount;
    Iso8211SubField* subFields;
};

struct Iso8211Record {
    int32_t fieldCount;
    Iso8211Field* fields;
};

// The file-control field 0000 of a DDR to write.
struct Iso8211FileDesc {
    char controls[10];   // e.g. "0000;&   "
    char title[1000];    // written as the field's name
    char tagPairs[1000]; // the field tree as tag pairs, e.g. "0001DSID"
};

// One data field of a DDR to write; DDR templates are arrays of these.
struct Iso8211FieldDesc {
    char tag[9];
    char controls[10];
    char name[100];
    char labels[100];       // "!"-separated; empty for an elementary field
    char asciiFormat[100];
    char binaryFormat[100];
    char format[100];       // what Write8211File writes; set by updateDDR
    int32_t binary;         // 1 binary, 0 ASCII; set by updateDDR
};

// Longest subfield value the layer accepts, in bytes.
inline constexpr long kMaxSubfieldLength = 1024;

// ---- Reading ------------------------------------------------------------------------------------

// Opens `path`, reads its DDR and indexes every data record; positioned before record 1.
// 0; -19 bad argument; -2 cannot open; -7 bad DDR (also a file that opens but holds no ISO 8211
// leader); -1 no memory; -8 a record that cannot be read (a subfield, a missing RCNM or RCID, or a
// damaged record before the end of the file); -10 a bad subfield (too long, undecodable, RCNM not 2
// or RCID not 10 characters); -11 status or back-up failure. Every failure closes the handle.
[[nodiscard]] int Read8211File(Iso8211File* file, const char* path);

// Loads data record `ordinal` (1 to recordCount) into `record`. 0, -19, -11, or ReadNext's codes.
[[nodiscard]] int Read8211Record(Iso8211File* file, int ordinal, Iso8211Record* record);

// Loads the next data record (recordNo) and advances. 0, -19, -12 past the end, -11, -1, -10.
// On failure the record is freed. The record's previous contents are overwritten, not freed.
[[nodiscard]] int ReadNext8211Record(Iso8211File* file, Iso8211Record* record);

[[nodiscard]] int ReadFirst8211Record(Iso8211File* file, Iso8211Record* record);

// Read8211Record for a reader that wants the record once: the decoded copy Read8211File kept of
// it (see Release8211RecordCache) is let go, and a later read decodes it from the file.
[[nodiscard]] int Take8211Record(Iso8211File* file, int ordinal, Iso8211Record* record);

// Read8211Record for a thread beside the one that reads the handle: the record from the decoded
// copy that Read8211File kept, which is kept still; the handle stays where it stands. 0; 1 when no
// copy is kept; -1 without memory. Safe beside the reading thread while the handle stays open and
// the reading thread does not take that same record.
[[nodiscard]] int CopyKept8211Record(const Iso8211File* file, int ordinal, Iso8211Record* record);

// Read8211Record for a reader that looks at a few fields of many records: the record holds at
// least the fields tagged one of tags[0 .. tagCount), in their order (the others may be left out).
[[nodiscard]] int Read8211RecordTags(Iso8211File* file, int ordinal, const char* const* tags, int tagCount,
                                     Iso8211Record* record);

// The two inner steps of ReadNext8211Record.
[[nodiscard]] int Read8211RecordFields(Iso8211File* file, Iso8211Record* record);
[[nodiscard]] int Read8211FieldSubFields(Iso8211File* file, Iso8211Field* field, int* status);

// Where the reader stands after a subfield: status 5 end of field, 3 end of record, 4 end of file,
// or unchanged when values of the field remain. 0, -19, -11.
[[nodiscard]] int Set8211FileStatus(Iso8211File* file, int* status);

// Index of the first field at or after `start` tagged `tag`; -13 none; -19 bad argument.
[[nodiscard]] int Find8211Field(const Iso8211Record* record, const char* tag, int start);

// Index of the first subfield of field `field` at or after `start` labelled `label`; -13, -19.
[[nodiscard]] int Find8211SubField(const Iso8211Record* record, const char* label, int field, int start);

// Frees the index, resets the handle and closes the stream. 0, -19 null handle, -5 close failed.
[[nodiscard]] int Close8211File(Iso8211File* file);

// Read8211File keeps every record it could decode, so that reading one needs no second pass over
// the file; the handle's Close8211File or next Read8211File frees them. This frees them earlier:
// later reads decode from the file. Nothing for a null or unknown handle.
void Release8211RecordCache(const Iso8211File* file);

// ---- Building records -----------------------------------------------------------------------------

// fieldCount := n, n empty fields. 0, -19, -1.
[[nodiscard]] int allocateFieldArray(Iso8211Record* record, int n);

// Field 0001 with the record identifier text; n must be 1. 0, -19, -1.
[[nodiscard]] int WriteIso8211Field0001(Iso8211Field* field, int n, const char* recordId);

// Field `tag` of n subfields labelled by defs[i].name with copies of values[i]. 0, -19, -1.
[[nodiscard]] int WriteIso8211FieldGeneric(const char* tag, Iso8211Field* field, const FieldDef* defs,
                                           int n, char** values);

// Frees everything the record holds; counts 0, pointers null. 0, -19.
[[nodiscard]] int Free8211Record(Iso8211Record* record);

// Frees the subfields of the first field tagged `tag` (the field stays, count 0). 0 (also for a
// record without fields), -13 no such field, -19.
[[nodiscard]] int Free8211Field(Iso8211Record* record, const char* tag);

// A record freed on every way out of a scope.
struct RecordHolder {
    Iso8211Record record{};
    RecordHolder() = default;
    RecordHolder(const RecordHolder&) = delete;
    RecordHolder& operator=(const RecordHolder&) = delete;
    ~RecordHolder() { (void)Free8211Record(&record); }
};

// Frees a value or subfield array about to be replaced, unless it is part of a read record's block
// (which its record's Free8211Record frees). Null is ignored.
void Free8211Value(void* part);

// Field builders: texts given label by label (arrays hold `count` entries, one per repetition).
// 0; -19 bad argument or a text of the wrong length (logged "bad subfield"); -1 no memory.
[[nodiscard]] int WriteIso8211FieldRepeat(const char* tag, Iso8211Field* field, const FieldDef* defs,
                                          int n, int count, char** values);  // count sets of n
// values: RCNM, RCID, FILE, LFIL, VOLM, IMPL, SLAT, WLON, NLAT, ELON, CRCS, COMT.
[[nodiscard]] int WriteIso8211FieldCATD(Iso8211Field* field, const char* const* values);
// values: RCNM, RCID, NAM1, NAM2, COMT.
[[nodiscard]] int WriteIso8211FieldCATX(Iso8211Field* field, const char* const* values);
[[nodiscard]] int WriteIso8211FieldATTRIBUTE(const char* tag, Iso8211Field* field, int count,
                                             const char* const* attl, const char* const* atvl);
[[nodiscard]] int WriteIso8211FieldFSPT(Iso8211Field* field, int count, const char* const* name,
                                        const char* const* ornt, const char* const* usag,
                                        const char* const* mask);
[[nodiscard]] int WriteIso8211FieldDummyFSPT(Iso8211Field* field, const char* ornt, const char* usag,
                                             const char* mask);
[[nodiscard]] int WriteIso8211FieldVRPT(Iso8211Field* field, int count, const char* const* name,
                                        const char* const* ornt, const char* const* usag,
                                        const char* const* topi, const char* const* mask);
[[nodiscard]] int WriteIso8211FieldSG2D(Iso8211Field* field, int count, const char* const* ycoo,
                                        const char* const* xcoo);
[[nodiscard]] int WriteIso8211FieldSG3D(Iso8211Field* field, int count, const char* const* ycoo,
                                        const char* const* xcoo, const char* const* ve3d);
[[nodiscard]] int WriteIso8211FieldFFPT(Iso8211Field* field, int count, const char* const* lnam,
                                        const char* const* rind, const char* const* comt);
[[nodiscard]] int WriteIso8211FieldDummyFFPT(Iso8211Field* field, const char* rind, const char* comt);
// values: RCNM, RCID, OORA, OALB, OALL, SRCE, DFIN, AUTH, ADSC.
[[nodiscard]] int WriteIso8211FieldDDDF(Iso8211Field* field, const char* const* values);
// values: RCNM, RCID, ATLB, ATDO, ADMU, RAVA, DVAL, VADF, AUTH, ADSC.
[[nodiscard]] int WriteIso8211FieldDDOM(Iso8211Field* field, const char* const* values);
// values: RCNM, RCID, OBLB, OUTH, OORA, OALB, AOTH.
[[nodiscard]] int WriteIso8211FieldDDSC(Iso8211Field* field, const char* const* values);

// ---- Writing --------------------------------------------------------------------------------------

// Sets binary and format of every description; in binary mode 0001 gets "0500;&   ". 0, -19.
[[nodiscard]] int updateDDR(Iso8211FieldDesc* descs, int n, int binary);

// Creates `path` and writes its DDR (level 3). recordNo = recordCount = 1. 0, -19, -2, -4. After
// a failure past the open the handle keeps its stream: close it with Close8211File.
[[nodiscard]] int Write8211File(Iso8211File* file, const char* path, const Iso8211FileDesc* fileDesc,
                                const Iso8211FieldDesc* descs, int n);

// Writes one field description into the DDR being built (last = 1 for the last). 0, -4.
[[nodiscard]] int populateDDR(FILE* fp, const char* tag, const char* controls, const char* name,
                              const char* labels, const char* format, int last);

// Writes one data record; recordCount += 1, recordNo := recordCount. 0, -19, -4. Text items are
// taken as UTF-8 and written by the lexical level of their field (utf8ToLexical): UCS-2
// little-endian where the file describes the field as UCS-2, else ISO 8859-1, where a character
// ISO 8859-1 cannot hold is written as '?' with a log line naming the field, the subfield and the
// characters. A value whose own format is binary is written as it is.
[[nodiscard]] int Write8211Record(Iso8211File* file, const Iso8211Record* record);
