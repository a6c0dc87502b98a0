// export/expf.h: module expf, the feature records of one exported base cell: one record per feature
// of every class and subtype of the feature dataset that the product mapping ties to an S-57 object
// class, selected by the cell's coverage, then one per row of the collection tables c_aggr and
// c_asso of the cell. Spatial pointers (FSPT) come from topoSrelList, feature pointers (FFPT) from
// table frel, attributes from the feature's columns (and atto, where a value was too long for its
// column).
//
// Text subfields are written in their field's lexical level: ATTF values and FFPT comments as
// ISO 8859-1, NATF values as UCS-2; a character the level cannot hold is logged with the feature's
// name and written as "?".
//
// Results: 0 done; a negative code or the record layer's code for a failure; E_FAIL (0x80004005)
// after a caught COM error. Each problem writes a line to logFile; nothing is thrown to callers.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/com/com.h"
#include "platform/gdb/gdb.h"

struct Iso8211File;
struct Iso8211Field;
struct SrelRecord;

// Writes the cell's feature and collection records into `file` (open, DDR written). `agency` is the
// run's producing agency text (at least 4 bytes, NUL-terminated): a feature whose LNAM names
// another agency replaces it, and later features without LNAM take that one. 0; E_FAIL when the
// feature dataset cannot be opened or a COM error ends the export (logged).
[[nodiscard]] int32_t exportFeature(IWorkspace* workspace, Iso8211File* file, char* agency, const char* cellName,
                                    const char* dataset);

// The rows of a cell's feature classes as exportFeature reads them (by subtype code, sorted by
// NAME), read ahead where the export would otherwise wait: the topology rebuild reads them while
// its graph is built aside. The driver holds one for each cell it exports (featureRowsAhead,
// null otherwise); the export takes a class's rows from it only when every class was read
// without a failure, and reads them itself otherwise.
struct FeatureRowsAhead {
    // Rows with their shapes take some 5 KB each: past this many (and the class that passes it)
    // the export reads the rest itself.
    static constexpr std::size_t kRowsAtMost = 4096;
    std::string cellName;
    bool complete = false;
    // By the class's place in the feature dataset: its alias and its rows (none when not read;
    // no alias when left to the export, past the budget of rows read ahead).
    std::vector<std::pair<std::string, std::map<LONG, std::vector<IRowPtr>>>> classes;
};
extern FeatureRowsAhead* featureRowsAhead;

// Reads into featureRowsAhead (when set) the rows that exportFeature of the cell will read from
// `dataset`. Logs nothing: a failure leaves it incomplete.
void readFeatureRowsAhead(IWorkspace* workspace, const char* dataset, const char* cellName);

// FSPT of a point feature: one pointer per relation row whose SRC_NAME is the feature's name, in
// list order, a MASK "X" written as "N". Fills `field` (initialised, no subfields). 0; -1 no memory;
// -19 null argument. The rows' SRC_NAME texts and `featureName` are left upper-cased.
[[nodiscard]] int exportFSPTforPoint(char* featureName, Iso8211Field* field, int32_t count, SrelRecord* records);

// FSPT of a line or area feature: its edge pointers in chain order (an exterior edge first; a line
// of several edges from an end that no other of its edges touches). 0; -1 no memory; -19 null
// argument; -11 when the edges cannot all be chained (logged
// "exportFSPT: error on exporting feature : <name>.").
[[nodiscard]] int exportFSPT(char* featureName, Iso8211Field* field, int32_t count, SrelRecord* records);

// The ATVL text of a double attribute value: fixed notation with as many decimals as the value
// needs to read back as itself, trailing zeros removed ("12.5", "3."); empty below -9990 and for
// 55538.
std::string doubleValueText(double value);
