// s57/gdb_template.h: the geodatabase template of the product model: a feature dataset holding every
// feature class that product.xml maps S-57 object classes to (geometry type, Z and DEPTH where the
// mapping marks it, the subtype field and one subtype per mapped object class, the FRID and name
// columns and the mapped attribute fields the import writes), the collection tables, and the
// dataset's topology over every class but the soundings.
// On a geodatabase that has them already, what exists is reused and completed (missing classes,
// columns, subtypes and topology members are added); nothing is ever removed. Failures are HRESULTs with a line in
// the report stream; nothing is thrown to callers.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/com/com.h"
#include "platform/gdb/gdb.h"

inline constexpr char kDefaultDatasetName[] = "S57";
// The longest dataset name the template can use: its topology is named "<dataset>_Topology", and
// a geodatabase name holds 160 bytes at most.
inline constexpr std::size_t kMaxDatasetNameLength = 160 - sizeof "_Topology" + 1;
inline constexpr char kSubtypeFieldName[] = "SUBTYPE";
// The finest S-57 coordinate step at COMF 10000000, in degrees: shared nodes coincide exactly.
inline constexpr double kTopologyTolerance = 0.0000001;

// What a template run did.
struct TemplateSummary {
    bool geodatabaseCreated = false;
    bool datasetCreated = false;
    int classesCreated = 0;
    int classesReused = 0;
    int tablesCreated = 0;
    int tablesReused = 0;
    int columnsAdded = 0;   // to classes and tables that existed
    int subtypesAdded = 0;  // to classes that existed
    bool topologyCreated = false;
    int topologyClassesAdded = 0;
};

// Builds the template in an open workspace from the loaded product mapping (objectMaps,
// attributeMaps, s57Attributes) and the Z marks and COLLECTION elements of productXmlPath. The
// dataset's first topology is reused (a new one is named "<dataset>_Topology"); every class of the
// dataset that is in no topology joins it, except the Z classes (soundings stay out of topologies).
// S_OK; E_FAIL when the mapping is not loaded or product.xml cannot be read; GDB_E_NAME_EXISTS
// when a name of the template belongs to something of another kind (a table where a class
// belongs, a class of another geometry type); the platform's result of a failed creation.
// Problems are written to `report` (when not null), one line each; the run goes on past a class
// that cannot be made and returns the first failure.
[[nodiscard]] HRESULT createGeodatabaseTemplate(IWorkspace* workspace, const char* datasetName,
                                                const char* productXmlPath, FILE* report,
                                                TemplateSummary* summary);

// Opens the personal geodatabase at `path` (".mdb" or ".gpkg"), creating it when there is none
// (or only a file of no bytes): a new one is made under a temporary name beside it and put in
// place once its template is committed, so that a failure leaves nothing behind. Loads the catalogue (s57.xml, product.xml) from catalogueDirectory (null: the directory of
// libtarvo.so) and builds the template. An enterprise geodatabase (a ".sde" connection file, as
// openWorkspace tells it) exists on its server: it is opened and its template built or completed.
// Results as above; GDB_E_BAD_PATH for another kind of path; the loader's result when the
// catalogue cannot be loaded.
[[nodiscard]] HRESULT createGeodatabase(const char* path, const char* datasetName, const char* catalogueDirectory,
                                        FILE* report, TemplateSummary* summary);

// ---- A new geodatabase made whole or not at all -------------------------------------------------

// Whether `path` names no file, or a file of no bytes (a geodatabase that was never written).
bool isNewGeodatabase(const std::string& path);

// A unique hidden name beside `path`, with its extension, for a geodatabase being made.
std::string temporaryGeodatabasePath(const std::string& path);

// Puts the closed geodatabase `temp` at `path` in one rename; a file of no bytes there is
// replaced, anything else is not. S_OK; GDB_E_NAME_EXISTS when `path` was taken meanwhile (temp
// is left); GDB_E_ACCESS_DENIED, GDB_E_READ_ONLY, GDB_E_DISK_FULL or E_FAIL when it cannot be renamed.
[[nodiscard]] HRESULT placeGeodatabase(const std::string& temp, const std::string& path);

// Removes a geodatabase being made, with its journal.
void discardGeodatabase(const std::string& temp);

// Why `name` cannot name the template's feature dataset ("is longer than 151 bytes", ...); null
// when it can.
const char* datasetNameProblem(const char* name);
