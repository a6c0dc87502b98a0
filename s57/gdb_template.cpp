// s57/gdb_template.cpp: the geodatabase template of the product model, built from the loaded product
// mapping and product.xml: the feature dataset, its feature classes with subtypes, the collection
// tables and the topology. Existing parts are reused and completed, never dropped or rewritten.
// Failures are HRESULTs with a line in the report stream; COM errors are caught here.
#include "s57/gdb_template.h"

#include <fcntl.h>
#include <stdio.h>
#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/xml/xmldom.h"
#include "s57/dbutil.h"
#include "s57/dimml.h"
#include "s57/s57_util2.h"

namespace {

// The name columns every feature row carries besides FRID: the record ID within its class group,
// the long name and the record name.
const FieldDef kNameFieldDefs[3] = {
    {1, "ID", "-1", 2, 4},
    {2, "LNAM", "UNKNOWN", 1, 17},
    {3, "NAME", "UNKNOWN", 1, 12},
};

struct Column {
    std::string name;
    esriFieldType type;
    LONG length;
};

struct ClassPlan {
    std::string name;
    esriGeometryType geometry = esriGeometryNull;
    bool hasZ = false;
    std::vector<std::pair<LONG, std::string>> subtypes;  // code, name, in mapping order
    std::vector<Column> columns;
};

struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const { return strcasecmp(a.c_str(), b.c_str()) < 0; }
};

[[gnu::format(printf, 2, 3)]] void report(FILE* out, const char* format, ...) {
    if (!out) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(out, format, args);
    va_end(args);
    std::fflush(out);
}

std::string describe(const _com_error& e) {
    const _bstr_t d = e.Description();
    return d.length() ? std::string(static_cast<const char*>(d)) : std::string(e.ErrorMessage());
}

esriFieldType fieldTypeOf(int32_t type) {
    switch (type) {
        case 2: return esriFieldTypeInteger;
        case 3: return esriFieldTypeDouble;
        default: return esriFieldTypeString;
    }
}

Column columnOf(const FieldDef& d) { return Column{d.name, fieldTypeOf(d.type), d.width}; }

// The column names of one class or table, told apart with ASCII letters' case ignored (as
// strcasecmp tells them).
class NameSet {
public:
    bool insert(const std::string& name) {
        std::string key = name;
        for (char& c : key)
            if (c >= 'A' && c <= 'Z') c = char(c + ('a' - 'A'));
        return names_.insert(std::move(key)).second;
    }

private:
    std::unordered_set<std::string> names_;
};

void addColumn(std::vector<Column>& columns, NameSet& names, Column c) {
    if (c.name.empty() || !names.insert(c.name)) return;
    columns.push_back(std::move(c));
}

// An object class code and primitive text (at most 4 bytes, as the mapping tables hold it) as one key.
uint64_t objectKey(int32_t code, const char (&type)[5]) {
    uint64_t key = uint32_t(code);
    for (std::size_t i = 0; i < 4 && type[i]; ++i) key |= uint64_t(static_cast<unsigned char>(type[i])) << (32 + 8 * i);
    return key;
}

// The column of an attribute: its type and width from the catalogue, text of 70 without an entry.
// The catalogue entry of each code is found once (the first of that code, as lookupAttrIndex finds it).
class AttributeColumns {
public:
    AttributeColumns() {
        const int32_t n = s57Attributes ? s57AttributeCount : 0;  // a count may stand without its table
        for (int32_t i = 0; i < n; ++i) index_.emplace(s57Attributes[i].index, i);
    }
    Column operator()(const std::string& name, int32_t code) const {
        const auto it = index_.find(code);
        if (it != index_.end())
            return Column{name, fieldTypeOf(s57Attributes[it->second].type), s57Attributes[it->second].width};
        return Column{name, esriFieldTypeString, 70};
    }

private:
    std::unordered_map<int32_t, int32_t> index_;
};

esriGeometryType geometryOf(const char* type) {
    if (strcasecmp(type, "P") == 0) return esriGeometryPoint;
    if (strcasecmp(type, "L") == 0) return esriGeometryPolyline;
    if (strcasecmp(type, "A") == 0) return esriGeometryPolygon;
    return esriGeometryNull;
}

const char* geometryName(esriGeometryType t) {
    switch (t) {
        case esriGeometryPoint: return "point";
        case esriGeometryMultipoint: return "multipoint";
        case esriGeometryPolyline: return "polyline";
        case esriGeometryPolygon: return "polygon";
        default: return "other";
    }
}

struct TemplateExtras {
    std::set<std::string, NoCaseLess> zClasses;
    struct Collection {
        std::string name;
        std::vector<Column> fields;
    };
    std::vector<Collection> collections;
};

// What the loaded tables do not carry: the Z marks of GDBOBJECT and the COLLECTION elements, as the
// catalogue load kept them when it read this same file, else read from it here.
bool readTemplateExtras(const char* path, const AttributeColumns& columnOf, TemplateExtras& out, FILE* messages) {
    ProductExtras extras;
    if (!loadedProductExtras(path, &extras)) {
        IXMLDOMDocumentPtr doc;
        check(doc.CreateInstance(CLSID_DOMDocument));
        if (doc->load(_variant_t(path)) != VARIANT_TRUE) {
            report(messages, "Unable to read %s: %s\n", path, static_cast<const char*>(doc->GetparseErrorText()));
            return false;
        }
        check(readProductExtras(doc, &extras));
    }
    for (std::string& name : extras.zClasses) out.zClasses.insert(std::move(name));
    for (const ProductExtras::Collection& c : extras.collections) {
        TemplateExtras::Collection t;
        t.name = c.name;
        for (const ProductExtras::Field& f : c.fields)
            t.fields.push_back(columnOf(f.name, int32_t(std::atol(f.code.c_str()))));
        out.collections.push_back(std::move(t));
    }
    return true;
}

// The classes of the mapping in the order they first appear, each with its subtypes and columns.
std::vector<ClassPlan> planClasses(const TemplateExtras& extras, const AttributeColumns& attributeColumn,
                                   FILE* messages) {
    std::vector<ClassPlan> plans;
    std::map<std::string, std::size_t, NoCaseLess> byName;
    std::vector<NameSet> names;
    std::unordered_map<uint64_t, std::size_t> byObject;  // (code, primitive) -> plan
    for (int32_t i = 0; i < objectMapCount; ++i) {
        const ObjectMapRec& m = objectMaps[i];
        const esriGeometryType geometry = geometryOf(m.type);
        if (!m.gdbName[0] || geometry == esriGeometryNull) continue;
        auto [it, fresh] = byName.emplace(m.gdbName, plans.size());
        if (fresh) {
            ClassPlan p;
            p.name = m.gdbName;
            p.geometry = geometry;
            p.hasZ = extras.zClasses.count(p.name) > 0;
            plans.push_back(std::move(p));
            names.emplace_back();
            ClassPlan& q = plans.back();
            for (const FieldDef& d : kNameFieldDefs) addColumn(q.columns, names.back(), columnOf(d));
            for (const FieldDef& d : fridFieldDefs) addColumn(q.columns, names.back(), columnOf(d));
            addColumn(q.columns, names.back(), Column{kSubtypeFieldName, esriFieldTypeInteger, 4});
        }
        ClassPlan& plan = plans[it->second];
        if (plan.geometry != geometry) {
            report(messages, "%s %s is mapped to %s, a %s class: left out\n", m.s57Name, m.type, plan.name.c_str(),
                   geometryName(plan.geometry));
            continue;
        }
        bool known = false;
        for (const auto& s : plan.subtypes) known = known || s.first == m.code;
        if (!known) plan.subtypes.emplace_back(m.code, m.subtype[0] ? m.subtype : m.s57Name);
        byObject.emplace(objectKey(m.code, m.type), it->second);
    }
    for (int32_t i = 0; i < attributeMapCount; ++i) {
        const AttributeMapRec& a = attributeMaps[i];
        auto it = byObject.find(objectKey(a.objectCode, a.objectType));
        if (it == byObject.end() || !a.gdbName[0]) continue;
        addColumn(plans[it->second].columns, names[it->second], attributeColumn(a.gdbName, a.code));
    }
    for (std::size_t k = 0; k < plans.size(); ++k)
        if (plans[k].hasZ) addColumn(plans[k].columns, names[k], Column{"DEPTH", esriFieldTypeDouble, 20});
    return plans;
}

template <class Object>
int addMissingColumns(Object* object, const std::vector<Column>& columns) {
    int added = 0;
    for (const Column& c : columns) {
        if (object->FindField(c.name.c_str()) >= 0) continue;
        object->AddField(makeField(c.name.c_str(), c.type, c.length));
        ++added;
    }
    return added;
}

// Sets the subtype field when the class has none and adds every subtype it lacks; the number added.
int completeSubtypes(IFeatureClass* featureClass, const ClassPlan& plan) {
    ISubtypesPtr subtypes(featureClass);
    if (!subtypes || plan.subtypes.empty()) return 0;
    if (!subtypes->GetHasSubtype()) {
        subtypes->PutSubtypeFieldName(kSubtypeFieldName);
        subtypes->PutDefaultSubtypeCode(plan.subtypes.front().first);
    }
    std::set<LONG> present;
    IEnumSubtypePtr all = subtypes->GetSubtypes();
    for (;;) {
        LONG code = 0;
        if (all->Next(&code).length() == 0) break;
        present.insert(code);
    }
    int added = 0;
    for (const auto& [code, name] : plan.subtypes) {
        if (present.count(code)) continue;
        subtypes->AddSubtype(code, name.c_str());
        ++added;
    }
    return added;
}

// `made` receives the class when it is created here (inside the dataset). Without `probe` the name
// is known to be free (see NewNames) and is not looked for first.
HRESULT makeClass(IFeatureWorkspace* workspace, IFeatureDataset* dataset, ISpatialReference* spatialReference,
                  const ClassPlan& plan, FILE* messages, TemplateSummary& summary, IFeatureClassPtr& made, bool probe) {
    try {
        const _bstr_t name(plan.name.c_str());
        IFeatureClassPtr featureClass;
        if (probe && SUCCEEDED(workspace->raw_OpenFeatureClass(name.GetBSTR(), &featureClass)) && featureClass) {
            if (featureClass->GetShapeType() != plan.geometry) {
                report(messages, "Feature class %s exists as a %s class, not %s: left as it is\n", plan.name.c_str(),
                       geometryName(featureClass->GetShapeType()), geometryName(plan.geometry));
                return GDB_E_NAME_EXISTS;
            }
            summary.columnsAdded += addMissingColumns(featureClass.GetInterfacePtr(), plan.columns);
            summary.subtypesAdded += completeSubtypes(featureClass, plan);
            ++summary.classesReused;
            return S_OK;
        }
        ITablePtr table;
        if (probe && SUCCEEDED(workspace->raw_OpenTable(name.GetBSTR(), &table)) && table) {
            report(messages, "%s exists as a table without geometry: left as it is\n", plan.name.c_str());
            return GDB_E_NAME_EXISTS;
        }
        _bstr_t shapeName;
        IFieldsEditPtr fields = featureClassFields(plan.geometry, spatialReference, plan.hasZ, &shapeName);
        for (const Column& c : plan.columns) fields->AddField(makeField(c.name.c_str(), c.type, c.length));
        IFeatureClassPtr created;
        const HRESULT hr = dataset->raw_CreateFeatureClass(name.GetBSTR(), fields, nullptr, nullptr, esriFTSimple,
                                                           shapeName.GetBSTR(), _bstr_t("").GetBSTR(), &created);
        if (FAILED(hr) || !created) {
            report(messages, "Unable to create feature class %s: 0x%08X\n", plan.name.c_str(), unsigned(hr));
            return FAILED(hr) ? hr : E_FAIL;
        }
        made = created;  // its subtypes follow once every class is made (see createGeodatabaseTemplate)
        ++summary.classesCreated;
        return S_OK;
    } catch (const _com_error& e) {
        report(messages, "Unable to create feature class %s: %s\n", plan.name.c_str(), describe(e).c_str());
        return e.Error();
    }
}

HRESULT makeTable(IFeatureWorkspace* workspace, const std::string& tableName, const std::vector<Column>& columns,
                  FILE* messages, TemplateSummary& summary, bool probe) {
    try {
        const _bstr_t name(tableName.c_str());
        ITablePtr table;
        if (probe && SUCCEEDED(workspace->raw_OpenTable(name.GetBSTR(), &table)) && table) {
            summary.columnsAdded += addMissingColumns(table.GetInterfacePtr(), columns);
            ++summary.tablesReused;
            return S_OK;
        }
        IObjectClassDescriptionPtr description(CLSID_ObjectClassDescription);
        IFieldsEditPtr fields(description->GetRequiredFields());
        if (!fields) _com_issue_error(E_NOINTERFACE);
        for (const Column& c : columns) fields->AddField(makeField(c.name.c_str(), c.type, c.length));
        ITablePtr created;
        const HRESULT hr =
            workspace->raw_CreateTable(name.GetBSTR(), fields, nullptr, nullptr, _bstr_t("").GetBSTR(), &created);
        if (FAILED(hr)) {
            report(messages, "Unable to create table %s: 0x%08X\n", tableName.c_str(), unsigned(hr));
            return hr;
        }
        ++summary.tablesCreated;
        return S_OK;
    } catch (const _com_error& e) {
        report(messages, "Unable to create table %s: %s\n", tableName.c_str(), describe(e).c_str());
        return e.Error();
    }
}

// The dataset's topology (the first, or a new one) with every class of the dataset that is in no
// topology yet, the Z classes excepted. made[k] is plan k's class when this run created it; the others
// are looked for in the dataset.
HRESULT makeTopology(IFeatureDataset* dataset, const char* datasetName, const std::vector<ClassPlan>& plans,
                     const std::vector<IFeatureClassPtr>& made, FILE* messages, TemplateSummary& summary) {
    try {
        ITopologyContainerPtr container(dataset);
        if (!container) return E_NOINTERFACE;
        ITopologyPtr topology;
        if (container->GetTopologyCount() > 0) {
            topology = container->GetTopology(0);
        } else {
            const std::string name = std::string(datasetName) + "_Topology";
            topology = container->CreateTopology(name.c_str(), kTopologyTolerance);
            summary.topologyCreated = true;
        }
        IFeatureClassContainerPtr classes(dataset);
        if (!classes) return E_NOINTERFACE;
        for (std::size_t k = 0; k < plans.size(); ++k) {
            const ClassPlan& plan = plans[k];
            if (plan.hasZ) continue;
            IFeatureClassPtr featureClass = made[k];
            if (!featureClass &&
                (FAILED(classes->get_ClassByName(_bstr_t(plan.name.c_str()).GetBSTR(), &featureClass)) || !featureClass))
                continue;  // not made, or outside the dataset
            ITopologyClassPtr member(featureClass);
            if (!member || member->GetIsInTopology()) continue;
            topology->AddClass(featureClass);
            ++summary.topologyClassesAdded;
        }
        return S_OK;
    } catch (const _com_error& e) {
        report(messages, "Unable to make the topology of %s: %s\n", datasetName, describe(e).c_str());
        return e.Error();
    }
}

}  // namespace

namespace {

// In a geodatabase made just now, a name of the template is free unless this run has used it (or
// it is one the storage keeps for itself): looking for it first would only find nothing, at the
// price of the storage preparing its lookups again after each new table.
class NewNames {
public:
    explicit NewNames(bool fresh) : fresh_(fresh) {}
    bool mustProbe(const std::string& name) const {
        if (!fresh_ || used_.count(name)) return true;
        for (const char* reserved : {"gpkg_", "rtree_", "gdb_", "sqlite_"})
            if (strncasecmp(name.c_str(), reserved, std::strlen(reserved)) == 0) return true;
        return false;
    }
    void use(const std::string& name) { used_.insert(name); }

private:
    bool fresh_;
    std::set<std::string, NoCaseLess> used_;
};

HRESULT buildTemplate(IWorkspace* workspace, const char* datasetName, const char* productXmlPath, FILE* messages,
                      TemplateSummary* summaryOut, bool fresh) {
    TemplateSummary summary;
    if (summaryOut) summary = *summaryOut;
    HRESULT result = S_OK;
    try {
        if (!workspace || !productXmlPath) return E_INVALIDARG;
        if (objectMapCount <= 0 || !objectMaps) {
            report(messages, "The product mapping is not loaded\n");
            return E_FAIL;
        }
        IFeatureWorkspacePtr features(workspace);
        if (!features) return E_NOINTERFACE;
        const char* dsName = datasetName && datasetName[0] ? datasetName : kDefaultDatasetName;

        const AttributeColumns attributeColumns;
        TemplateExtras extras;
        if (!readTemplateExtras(productXmlPath, attributeColumns, extras, messages)) return E_FAIL;

        IFeatureDatasetPtr dataset;
        const HRESULT opened = features->raw_OpenFeatureDataset(_bstr_t(dsName).GetBSTR(), &dataset);
        if (FAILED(opened) || !dataset) {
            ISpatialReferencePtr wgs84(CLSID_SpatialReferenceWGS84);
            const HRESULT hr = features->raw_CreateFeatureDataset(_bstr_t(dsName).GetBSTR(), wgs84, &dataset);
            if (FAILED(hr) || !dataset) {
                report(messages, "Unable to create feature dataset %s: 0x%08X\n", dsName, unsigned(hr));
                return FAILED(hr) ? hr : E_FAIL;
            }
            summary.datasetCreated = true;
        }
        ISpatialReferencePtr spatialReference = IGeoDatasetPtr(dataset)->GetSpatialReference();
        NewNames newNames(fresh);
        newNames.use(dsName);

        const std::vector<ClassPlan> plans = planClasses(extras, attributeColumns, messages);
        std::vector<IFeatureClassPtr> made(plans.size());
        for (std::size_t k = 0; k < plans.size(); ++k) {
            const HRESULT hr = makeClass(features, dataset, spatialReference, plans[k], messages, summary, made[k],
                                         newNames.mustProbe(plans[k].name));
            newNames.use(plans[k].name);
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
        // The new classes' subtypes after all their tables: a table made between two classes' subtype
        // rows would have the storage prepare its statements again for each class.
        for (std::size_t k = 0; k < plans.size(); ++k) {
            if (!made[k]) continue;
            try {
                (void)completeSubtypes(made[k], plans[k]);
            } catch (const _com_error& e) {
                report(messages, "Unable to create feature class %s: %s\n", plans[k].name.c_str(), describe(e).c_str());
                if (SUCCEEDED(result)) result = e.Error();
                made[k] = nullptr;
                --summary.classesCreated;
            }
        }
        for (const TemplateExtras::Collection& c : extras.collections) {
            std::vector<Column> columns;
            NameSet names;
            for (const FieldDef& d : kNameFieldDefs) addColumn(columns, names, columnOf(d));
            addColumn(columns, names, columnOf(cellNameFieldDefs[0]));
            for (const FieldDef& d : fridFieldDefs) addColumn(columns, names, columnOf(d));
            for (const Column& f : c.fields) addColumn(columns, names, f);
            const HRESULT hr = makeTable(features, c.name, columns, messages, summary, newNames.mustProbe(c.name));
            newNames.use(c.name);
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
        const HRESULT hr = makeTopology(dataset, dsName, plans, made, messages, summary);
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    } catch (const _com_error& e) {
        report(messages, "Unable to build the geodatabase template: %s\n", describe(e).c_str());
        result = e.Error();
    } catch (const std::bad_alloc&) {
        report(messages, "Unable to build the geodatabase template: out of memory\n");
        result = E_OUTOFMEMORY;
    }
    if (summaryOut) *summaryOut = summary;
    return result;
}

}  // namespace

HRESULT createGeodatabaseTemplate(IWorkspace* workspace, const char* datasetName, const char* productXmlPath,
                                  FILE* messages, TemplateSummary* summaryOut) {
    return buildTemplate(workspace, datasetName, productXmlPath, messages, summaryOut, false);
}

const char* datasetNameProblem(const char* name) {
    if (!name || !name[0]) return "is empty";
    if (std::strlen(name) > kMaxDatasetNameLength) return "is longer than 151 bytes";
    for (const char* reserved : {"gpkg_", "rtree_", "gdb_", "sqlite_"})
        if (strncasecmp(name, reserved, std::strlen(reserved)) == 0) return "begins with a reserved prefix";
    return nullptr;
}

bool isNewGeodatabase(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) return true;
    if (status.type() != std::filesystem::file_type::regular) return false;
    const auto size = std::filesystem::file_size(path, ec);
    return !ec && size == 0;
}

std::string temporaryGeodatabasePath(const std::string& path) {
    static std::atomic<unsigned> serial{0};
    const std::filesystem::path target(path);
    const std::string name = "." + target.stem().string() + ".new-" + std::to_string(getpid()) + "-" +
                             std::to_string(serial++) + target.extension().string();
    return (target.parent_path() / name).string();
}

HRESULT placeGeodatabase(const std::string& temp, const std::string& path) {
    // A file of no bytes is taken over; anything else that appeared meanwhile is left alone.
    if (isNewGeodatabase(path) && std::filesystem::exists(path)) {
        if (std::rename(temp.c_str(), path.c_str()) == 0) return S_OK;
    } else if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
        return S_OK;
    } else if (errno == EINVAL || errno == ENOSYS) {
        // A file system without the no-replace rename: a hard link fails just as well on a taken name.
        if (::link(temp.c_str(), path.c_str()) == 0) {
            ::unlink(temp.c_str());
            return S_OK;
        }
    }
    switch (errno) {
    case EEXIST:
    case ENOTEMPTY: return GDB_E_NAME_EXISTS;
    case EACCES:
    case EPERM: return GDB_E_ACCESS_DENIED;
    case EROFS: return GDB_E_READ_ONLY;
    case ENOSPC: return GDB_E_DISK_FULL;
    default: return E_FAIL;
    }
}

void discardGeodatabase(const std::string& temp) {
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    std::filesystem::remove(temp + "-journal", ec);
}

HRESULT createGeodatabase(const char* path, const char* datasetName, const char* catalogueDirectory, FILE* messages,
                          TemplateSummary* summaryOut) {
    TemplateSummary summary;
    try {
        if (!path || !path[0]) return E_INVALIDARG;
        const std::filesystem::path file(path);
        const std::string ext = file.extension().string();
        // An enterprise geodatabase is made on its server: here it is only opened and completed.
        const bool enterprise = isConnectionFilePath(path);
        if (!enterprise && strcasecmp(ext.c_str(), ".mdb") != 0 && strcasecmp(ext.c_str(), ".gpkg") != 0) {
            report(messages, "%s is not a geodatabase path (.mdb, .gpkg or .sde)\n", path);
            return GDB_E_BAD_PATH;
        }

        std::string dir = catalogueDirectory ? catalogueDirectory : moduleDirectory(moduleInstance);
        if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir += '/';
        const HRESULT loaded = loadDIMEInfoFrom(dir.c_str());
        if (FAILED(loaded)) {
            report(messages, "Unable to load the catalogue from %s\n", dir.c_str());
            return loaded;
        }

        const std::string productXml = dir + "product.xml";
        if (!enterprise && isNewGeodatabase(path)) {
            // Made whole under another name, then put in place: nobody ever sees half a schema.
            const std::string temp = temporaryGeodatabasePath(path);
            HRESULT hr;
            {
                IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
                IWorkspacePtr workspace;
                std::string parent = std::filesystem::path(temp).parent_path().string();
                if (parent.empty()) parent = ".";
                hr = factory->raw_Create(_bstr_t(parent.c_str()).GetBSTR(),
                                         _bstr_t(std::filesystem::path(temp).filename().string().c_str()).GetBSTR(),
                                         nullptr, nullptr, &workspace);
                if (FAILED(hr) || !workspace) {
                    report(messages, "Unable to create geodatabase %s: 0x%08X\n", path, unsigned(hr));
                    discardGeodatabase(temp);
                    return FAILED(hr) ? hr : E_FAIL;
                }
                summary.geodatabaseCreated = true;
                hr = buildTemplate(workspace, datasetName, productXml.c_str(), messages, &summary, true);
                // Committed here, where a failure (a full disk) can still be answered: an edit session
                // begins by committing what was written before it.
                if (SUCCEEDED(hr)) {
                    IWorkspaceEditPtr edit(workspace);
                    hr = edit ? edit->raw_StartEditing(VARIANT_FALSE) : E_NOINTERFACE;
                    if (SUCCEEDED(hr)) hr = edit->raw_StopEditing(VARIANT_TRUE);
                    if (FAILED(hr)) report(messages, "Unable to save geodatabase %s: 0x%08X\n", path, unsigned(hr));
                }
            }  // the workspace is let go here
            if (SUCCEEDED(hr)) hr = placeGeodatabase(temp, path);
            if (hr != GDB_E_NAME_EXISTS) {
                if (FAILED(hr)) discardGeodatabase(temp);
                if (summaryOut) *summaryOut = summary;
                return hr;
            }
            // Another program put a geodatabase there meanwhile: it is completed instead.
            discardGeodatabase(temp);
            summary = TemplateSummary{};
        }
        IWorkspacePtr workspace;
        const HRESULT opened = openWorkspace(path, &workspace);
        if (FAILED(opened) || !workspace) {
            report(messages, "Unable to open geodatabase %s: 0x%08X\n", path, unsigned(opened));
            if (summaryOut) *summaryOut = summary;
            return FAILED(opened) ? opened : E_FAIL;
        }
        const HRESULT hr = createGeodatabaseTemplate(workspace, datasetName, productXml.c_str(), messages, &summary);
        if (summaryOut) *summaryOut = summary;
        return hr;
    } catch (const _com_error& e) {
        report(messages, "Unable to create geodatabase %s: %s\n", path, describe(e).c_str());
        if (summaryOut) *summaryOut = summary;
        return e.Error();
    } catch (const std::bad_alloc&) {
        if (summaryOut) *summaryOut = summary;
        return E_OUTOFMEMORY;
    }
}
