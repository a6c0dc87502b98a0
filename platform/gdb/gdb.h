// platform/gdb/gdb.h: the geodatabase of the platform: workspace factories, workspaces, feature
// datasets, tables and feature classes, fields, rows and features, cursors, query and spatial
// filters, subtypes, table sorts and the WGS 84 spatial reference.
//
// A personal geodatabase is one GeoPackage file (".gpkg" or ".mdb"); see DESIGN.md. Objects are
// created by class id (`IQueryFilterPtr f(CLSID_QueryFilter);`) or given out by other objects, and
// reached through the interfaces below. Each interface has raw methods (get_X / put_X / putref_X /
// raw_Name, returning an HRESULT) and throwing wrappers (GetX / PutX / PutRefX / Name) that raise
// _com_error on a failed HRESULT with the description the method left. No method lets an
// exception out.
//
// Semantics a caller relies on:
// - Names of tables, feature classes, datasets and fields match without regard to case; text
//   columns compare and sort without regard to case.
// - FindField gives -1 for a name that is not there (S_OK); Value(i) with i out of range fails
//   with E_INVALIDARG.
// - Creating a table, feature class or dataset whose name exists fails with GDB_E_NAME_EXISTS
//   (0x80040353); opening a name that does not exist fails with GDB_E_NOT_FOUND.
// - Values are VARIANTs converted to the column's type: text to numbers and back, integers and
//   reals either way when nothing is lost. VT_EMPTY, VT_NULL and blank text into a number column
//   store NULL. A value that does not fit (text longer than the column, a number out of range or
//   with a fraction for an integer column, text that is no number) fails at put_Value with
//   DISP_E_OVERFLOW or DISP_E_TYPEMISMATCH and leaves the row unchanged.
// - Read back, SmallInteger gives VT_I2, Integer and OID VT_I4, Single VT_R4, Double VT_R8,
//   String and Date VT_BSTR, Geometry VT_UNKNOWN (a new geometry), NULL VT_NULL.
// - A shape must be of the class's geometry type; a class with Z takes Z-aware geometries only; a
//   class without Z stores the X and Y of a Z-aware geometry.
// - Writes outside an edit session go into one transaction, committed when the workspace is
//   released, when editing starts, and at an insert cursor's Flush when the transaction has been
//   open for a second or more. StartEditing opens a savepoint; StopEditing(false) undoes every
//   change since, schema changes included.
// - Spatial filters read "filter geometry <relation> feature" (platform/geometry/spatial_relation.h):
//   esriSpatialRelWithin selects features that contain the filter geometry. A relation description
//   (DE-9IM, such as "T********") is tested beside the relation. Candidates come from the class's
//   R-tree where it has one (a class gets it with its first rows); GEOS decides.
// - Where clauses are SQL (SQLite) and pass through as given; the caller quotes what it puts in.
#pragma once

#include "platform/com/com.h"
#include "platform/geometry/geometry.h"

// ---------------------------------------------------------------------------------------------
// Result codes
// ---------------------------------------------------------------------------------------------
constexpr HRESULT GDB_E_NAME_EXISTS = hresultOf(0x80040353);      // table, class or dataset exists
constexpr HRESULT GDB_E_NOT_FOUND = hresultOf(0x80041001);        // no table, class or dataset of that name
constexpr HRESULT GDB_E_BAD_PATH = hresultOf(0x80041002);         // not a geodatabase path
constexpr HRESULT GDB_E_NOT_SUPPORTED = hresultOf(0x80041003);    // enterprise geodatabase
constexpr HRESULT GDB_E_SQL = hresultOf(0x80041004);              // SQLite failed; description has the SQL
constexpr HRESULT GDB_E_EDITING = hresultOf(0x80041005);          // edit session state does not allow it
constexpr HRESULT GDB_E_NOT_EDITABLE = hresultOf(0x80041006);     // the object id column
constexpr HRESULT GDB_E_WRONG_GEOMETRY = hresultOf(0x80041007);   // shape of another type, or without Z
constexpr HRESULT GDB_E_BAD_SCHEMA = hresultOf(0x80041008);       // field list that cannot be created
constexpr HRESULT GDB_E_NO_ROW = hresultOf(0x80041009);           // no current row, or the row is gone
constexpr HRESULT GDB_E_IN_USE = hresultOf(0x8004100A);           // another program holds the file past the wait
constexpr HRESULT GDB_E_READ_ONLY = hresultOf(0x8004100B);        // the file or its file system is read-only
constexpr HRESULT GDB_E_DISK_FULL = hresultOf(0x8004100C);        // no room left on the file's disk
constexpr HRESULT GDB_E_ACCESS_DENIED = hresultOf(0x8004100D);    // no permission to open the file or its folder
constexpr HRESULT GDB_E_CONNECTION = hresultOf(0x8004100E);       // the database server refused or is not there

// The reason of a failure of the codes above in a few words, for a user ("in use by another
// program", "read-only", ...); null for a code that has none.
const char* gdbFailureReason(HRESULT hr);

// The last failure of this thread's geodatabase calls that came from the file's surroundings
// (GDB_E_IN_USE, GDB_E_READ_ONLY, GDB_E_DISK_FULL, GDB_E_ACCESS_DENIED, GDB_E_CONNECTION for a server
// lost or refusing) since the last clear; S_OK
// when there was none. A caller whose callees log and swallow errors learns the cause this way.
HRESULT gdbStorageFailure();
void clearGdbStorageFailure();

// ---------------------------------------------------------------------------------------------
// Enumerations
// ---------------------------------------------------------------------------------------------
enum esriFieldType {
    esriFieldTypeSmallInteger = 0,
    esriFieldTypeInteger = 1,
    esriFieldTypeSingle = 2,
    esriFieldTypeDouble = 3,
    esriFieldTypeString = 4,
    esriFieldTypeDate = 5,
    esriFieldTypeOID = 6,
    esriFieldTypeGeometry = 7,
    esriFieldTypeBlob = 8,
};

enum esriWorkspaceType {
    esriFileSystemWorkspace = 0,
    esriLocalDatabaseWorkspace = 1,
    esriRemoteDatabaseWorkspace = 2,
};

enum esriDatasetType {
    esriDTAny = 1,
    esriDTFeatureDataset = 5,
    esriDTFeatureClass = 6,
    esriDTTable = 10,
};

enum esriFeatureType {
    esriFTSimple = 1,
};

struct ISpatialReference;
struct IWorkspace;
struct IField;
struct IFields;
struct IGeometryDef;
struct IPropertySet;
struct ITable;
struct IFeatureClass;
struct IFeatureDataset;
struct IRow;
struct IRowBuffer;
struct IFeature;
struct IFeatureBuffer;
struct ICursor;
struct IFeatureCursor;
struct IQueryFilter;
struct IEnumSubtype;
struct IEnumFeatureClass;
struct ITopologyGraph;

// ---------------------------------------------------------------------------------------------
// Spatial reference and property sets
// ---------------------------------------------------------------------------------------------

// Geographic WGS 84 (EPSG:4326) with a Z domain; the only one the geodatabase stores.
struct ISpatialReference : IUnknown {
    static constexpr GUID iid = makeGuid("{DF4A3679-474A-426C-B532-ECEE0F882389}");
    using base_interface = IUnknown;
    virtual HRESULT get_Name(BSTR* name) = 0;
    virtual HRESULT get_FactoryCode(LONG* code) = 0;  // 4326
    virtual HRESULT raw_GetZDomain(double* zmin, double* zmax) = 0;
    virtual HRESULT raw_SetZDomain(double zmin, double zmax) = 0;  // zmin < zmax, else E_INVALIDARG

    _bstr_t GetName();
    LONG GetFactoryCode();
    HRESULT GetZDomain(double* zmin, double* zmax);
    HRESULT SetZDomain(double zmin, double zmax);
};

// Named values (connection properties); names match without regard to case.
struct IPropertySet : IUnknown {
    static constexpr GUID iid = makeGuid("{7B27ADEE-2C06-42C1-A095-5E2F0919477E}");
    using base_interface = IUnknown;
    virtual HRESULT get_Count(LONG* count) = 0;
    virtual HRESULT raw_SetProperty(BSTR name, VARIANT value) = 0;
    virtual HRESULT raw_GetProperty(BSTR name, VARIANT* value) = 0;  // GDB_E_NOT_FOUND when absent

    LONG GetCount();
    HRESULT SetProperty(const _bstr_t& name, const _variant_t& value);
    _variant_t GetProperty(const _bstr_t& name);
};

// ---------------------------------------------------------------------------------------------
// Workspaces
// ---------------------------------------------------------------------------------------------

// The personal factory (CLSID_AccessWorkspaceFactory) opens and creates ".gpkg" and ".mdb" files;
// the same path opened twice gives the same workspace object while it lives. Any other path fails
// with GDB_E_BAD_PATH, a missing file with GDB_E_NOT_FOUND. The enterprise factory
// (CLSID_SdeWorkspaceFactory) reads ".sde" connection files (platform/gdb/sde_connection.h) into
// properties SERVER, INSTANCE, DATABASE, USER, PASSWORD, VERSION and connects with them
// (GDB_E_CONNECTION when the server refuses or is not there), makes the side tables when missing
// and opens the workspace (type esriRemoteDatabaseWorkspace) on PostgreSQL with PostGIS; the
// personal factory's OpenFromFile of a ".sde" path does the same.
struct IWorkspaceFactory : IUnknown {
    static constexpr GUID iid = makeGuid("{39BED543-647D-45DD-BA34-B218E3118B14}");
    using base_interface = IUnknown;
    // Creates parentDirectory/name (".gpkg" appended when the name has neither extension);
    // GDB_E_NAME_EXISTS when the file exists.
    virtual HRESULT raw_Create(BSTR parentDirectory, BSTR name, IPropertySet* properties, HWND window,
                               IWorkspace** workspace) = 0;
    // Property "DATABASE": the file's path.
    virtual HRESULT raw_Open(IPropertySet* properties, HWND window, IWorkspace** workspace) = 0;
    virtual HRESULT raw_OpenFromFile(BSTR path, HWND window, IWorkspace** workspace) = 0;
    virtual HRESULT raw_ReadConnectionPropertiesFromFile(BSTR path, IPropertySet** properties) = 0;
    virtual HRESULT raw_IsWorkspace(BSTR path, VARIANT_BOOL* isWorkspace) = 0;

    _com_ptr_t<IWorkspace> Create(const _bstr_t& parentDirectory, const _bstr_t& name,
                                  IPropertySet* properties = nullptr, HWND window = nullptr);
    _com_ptr_t<IWorkspace> Open(IPropertySet* properties, HWND window = nullptr);
    _com_ptr_t<IWorkspace> OpenFromFile(const _bstr_t& path, HWND window = nullptr);
    _com_ptr_t<IPropertySet> ReadConnectionPropertiesFromFile(const _bstr_t& path);
    VARIANT_BOOL IsWorkspace(const _bstr_t& path);
};

struct IWorkspace : IUnknown {
    static constexpr GUID iid = makeGuid("{6EEF410D-A324-4DBB-B50F-EFD6E1C4F94B}");
    using base_interface = IUnknown;
    virtual HRESULT get_Type(esriWorkspaceType* type) = 0;  // esriLocalDatabaseWorkspace; esriRemoteDatabaseWorkspace on a server
    virtual HRESULT get_PathName(BSTR* path) = 0;           // as given to the factory

    esriWorkspaceType GetType();
    _bstr_t GetPathName();
};

struct IFeatureWorkspace : IUnknown {
    static constexpr GUID iid = makeGuid("{48761ED8-9AC9-445B-A6A7-8D6303B8423F}");
    using base_interface = IUnknown;
    // A feature class opens as a table too; OpenFeatureClass of a plain table fails with
    // GDB_E_NOT_FOUND.
    virtual HRESULT raw_OpenTable(BSTR name, ITable** table) = 0;
    virtual HRESULT raw_OpenFeatureClass(BSTR name, IFeatureClass** featureClass) = 0;
    virtual HRESULT raw_OpenFeatureDataset(BSTR name, IFeatureDataset** dataset) = 0;
    // fields: one OID field and the columns; clsid, extClsid and configKeyword are accepted and
    // not used.
    virtual HRESULT raw_CreateTable(BSTR name, IFields* fields, const GUID* clsid, const GUID* extClsid,
                                    BSTR configKeyword, ITable** table) = 0;
    // fields: one OID field, one geometry field named shapeFieldName (its GeometryDef gives the
    // geometry type, Z and the spatial reference) and the columns. The class lies outside any
    // feature dataset.
    virtual HRESULT raw_CreateFeatureClass(BSTR name, IFields* fields, const GUID* clsid, const GUID* extClsid,
                                           esriFeatureType featureType, BSTR shapeFieldName,
                                           BSTR configKeyword, IFeatureClass** featureClass) = 0;
    virtual HRESULT raw_CreateFeatureDataset(BSTR name, ISpatialReference* spatialReference,
                                             IFeatureDataset** dataset) = 0;

    _com_ptr_t<ITable> OpenTable(const _bstr_t& name);
    _com_ptr_t<IFeatureClass> OpenFeatureClass(const _bstr_t& name);
    _com_ptr_t<IFeatureDataset> OpenFeatureDataset(const _bstr_t& name);
    _com_ptr_t<ITable> CreateTable(const _bstr_t& name, IFields* fields, const GUID* clsid = nullptr,
                                   const GUID* extClsid = nullptr, const _bstr_t& configKeyword = _bstr_t());
    _com_ptr_t<IFeatureClass> CreateFeatureClass(const _bstr_t& name, IFields* fields, const GUID* clsid,
                                                 const GUID* extClsid, esriFeatureType featureType,
                                                 const _bstr_t& shapeFieldName,
                                                 const _bstr_t& configKeyword = _bstr_t());
    _com_ptr_t<IFeatureDataset> CreateFeatureDataset(const _bstr_t& name, ISpatialReference* spatialReference);
};

// Editing: StartEditing while editing, StopEditing when not editing, and the edit operations
// outside an edit session fail with GDB_E_EDITING. Undo is not kept (withUndoRedo is ignored).
struct IWorkspaceEdit : IUnknown {
    static constexpr GUID iid = makeGuid("{F5FB9D22-AD57-498A-A24C-5E1FF46A16A9}");
    using base_interface = IUnknown;
    virtual HRESULT raw_StartEditing(VARIANT_BOOL withUndoRedo) = 0;
    virtual HRESULT raw_StopEditing(VARIANT_BOOL saveEdits) = 0;
    virtual HRESULT raw_IsBeingEdited(VARIANT_BOOL* editing) = 0;
    virtual HRESULT raw_StartEditOperation() = 0;
    virtual HRESULT raw_StopEditOperation() = 0;
    virtual HRESULT raw_AbortEditOperation() = 0;  // undoes the changes since StartEditOperation

    HRESULT StartEditing(VARIANT_BOOL withUndoRedo);
    HRESULT StopEditing(VARIANT_BOOL saveEdits);
    VARIANT_BOOL IsBeingEdited();
    HRESULT StartEditOperation();
    HRESULT StopEditOperation();
    HRESULT AbortEditOperation();
};

// Tables, feature classes and feature datasets.
struct IDataset : IUnknown {
    static constexpr GUID iid = makeGuid("{0E87D4E6-01DE-4AAE-8F64-ADFB8FB56918}");
    using base_interface = IUnknown;
    virtual HRESULT get_Name(BSTR* name) = 0;  // as created
    virtual HRESULT get_Type(esriDatasetType* type) = 0;
    virtual HRESULT get_Workspace(IWorkspace** workspace) = 0;

    _bstr_t GetName();
    esriDatasetType GetType();
    _com_ptr_t<IWorkspace> GetWorkspace();
};

// Feature classes and feature datasets. A null spatial reference (S_OK) when the class has none.
struct IGeoDataset : IUnknown {
    static constexpr GUID iid = makeGuid("{20CBF031-C34C-49E5-9093-728C9454C0D5}");
    using base_interface = IUnknown;
    virtual HRESULT get_SpatialReference(ISpatialReference** spatialReference) = 0;  // a new copy

    _com_ptr_t<ISpatialReference> GetSpatialReference();
};

struct IVersionedObject : IUnknown {
    static constexpr GUID iid = makeGuid("{3B79ECCF-AD9C-44F5-8BB6-6918CC5D4830}");
    using base_interface = IUnknown;
    virtual HRESULT get_IsRegisteredAsVersioned(VARIANT_BOOL* versioned) = 0;
    virtual HRESULT raw_RegisterAsVersioned(VARIANT_BOOL versioned) = 0;

    VARIANT_BOOL GetIsRegisteredAsVersioned();
    HRESULT RegisterAsVersioned(VARIANT_BOOL versioned);
};

// A feature dataset; also IGeoDataset, IVersionedObject, IFeatureClassContainer and
// ITopologyContainer.
struct IFeatureDataset : IDataset {
    static constexpr GUID iid = makeGuid("{DD4CEA54-338D-43EE-8E8A-937EB04C08D5}");
    using base_interface = IDataset;
    // As IFeatureWorkspace::CreateFeatureClass; the class takes the dataset's spatial reference.
    virtual HRESULT raw_CreateFeatureClass(BSTR name, IFields* fields, const GUID* clsid, const GUID* extClsid,
                                           esriFeatureType featureType, BSTR shapeFieldName,
                                           BSTR configKeyword, IFeatureClass** featureClass) = 0;

    _com_ptr_t<IFeatureClass> CreateFeatureClass(const _bstr_t& name, IFields* fields, const GUID* clsid,
                                                 const GUID* extClsid, esriFeatureType featureType,
                                                 const _bstr_t& shapeFieldName,
                                                 const _bstr_t& configKeyword = _bstr_t());
};

// The classes of a feature dataset, in the order they were created.
struct IFeatureClassContainer : IUnknown {
    static constexpr GUID iid = makeGuid("{65B76DBC-44D6-48D9-A441-11F4CC6BD353}");
    using base_interface = IUnknown;
    virtual HRESULT get_ClassCount(LONG* count) = 0;
    virtual HRESULT get_Class(LONG index, IFeatureClass** featureClass) = 0;
    virtual HRESULT get_ClassByName(BSTR name, IFeatureClass** featureClass) = 0;
    virtual HRESULT get_Classes(IEnumFeatureClass** classes) = 0;

    LONG GetClassCount();
    _com_ptr_t<IFeatureClass> GetClass(LONG index);
    _com_ptr_t<IFeatureClass> GetClassByName(const _bstr_t& name);
    _com_ptr_t<IEnumFeatureClass> GetClasses();
};

// Next gives S_FALSE and null after the last.
struct IEnumFeatureClass : IUnknown {
    static constexpr GUID iid = makeGuid("{C50A59B4-82E2-4B68-9ECD-0BC7C659AEF6}");
    using base_interface = IUnknown;
    virtual HRESULT raw_Next(IFeatureClass** featureClass) = 0;
    virtual HRESULT raw_Reset() = 0;

    _com_ptr_t<IFeatureClass> Next();
    HRESULT Reset();
};

// A topology of a feature dataset as stored: its name, cluster tolerance and member classes (in
// the order they were added). The graph of edges and nodes over an area is computed by its cache
// (platform/topology) from these.
struct ITopology : IUnknown {
    static constexpr GUID iid = makeGuid("{E6F71232-F302-4C88-9569-E560D187F2F8}");
    using base_interface = IUnknown;
    virtual HRESULT get_Name(BSTR* name) = 0;
    virtual HRESULT get_ClusterTolerance(double* tolerance) = 0;
    virtual HRESULT get_FeatureDataset(IFeatureDataset** dataset) = 0;
    // A feature class of the same dataset, in no other topology; weight and ranks are accepted
    // and not used. GDB_E_NAME_EXISTS for a class that is a member already.
    virtual HRESULT raw_AddClass(IFeatureClass* featureClass, double weight, LONG xyRank, LONG zRank,
                                 VARIANT_BOOL eventNotification) = 0;
    virtual HRESULT get_Classes(IEnumFeatureClass** classes) = 0;
    // The topology's cache: its graph of edges and nodes over an area, the same object each time
    // for one topology object (platform/topology/topology.h declares it and holds GetCache's body).
    virtual HRESULT get_Cache(ITopologyGraph** cache) = 0;

    _bstr_t GetName();
    double GetClusterTolerance();
    _com_ptr_t<IFeatureDataset> GetFeatureDataset();
    HRESULT AddClass(IFeatureClass* featureClass, double weight = 1, LONG xyRank = 1, LONG zRank = 1,
                     VARIANT_BOOL eventNotification = VARIANT_FALSE);
    _com_ptr_t<IEnumFeatureClass> GetClasses();
    _com_ptr_t<ITopologyGraph> GetCache();
};

// The topologies of a feature dataset (an interface of the dataset object).
struct ITopologyContainer : IUnknown {
    static constexpr GUID iid = makeGuid("{699F68D3-9C10-4056-8F0E-21830366C46B}");
    using base_interface = IUnknown;
    virtual HRESULT get_TopologyCount(LONG* count) = 0;
    virtual HRESULT get_Topology(LONG index, ITopology** topology) = 0;
    virtual HRESULT get_TopologyByName(BSTR name, ITopology** topology) = 0;
    // The tolerance must be above 0; the name must be free among tables, classes, datasets and
    // topologies (GDB_E_NAME_EXISTS).
    virtual HRESULT raw_CreateTopology(BSTR name, double clusterTolerance, LONG maxGeneratedErrorCount,
                                       BSTR configKeyword, ITopology** topology) = 0;

    LONG GetTopologyCount();
    _com_ptr_t<ITopology> GetTopology(LONG index);
    _com_ptr_t<ITopology> GetTopologyByName(const _bstr_t& name);
    _com_ptr_t<ITopology> CreateTopology(const _bstr_t& name, double clusterTolerance,
                                         LONG maxGeneratedErrorCount = -1, const _bstr_t& configKeyword = _bstr_t());
};

// Whether a feature class takes part in a topology (an interface of feature classes).
struct ITopologyClass : IUnknown {
    static constexpr GUID iid = makeGuid("{45B6A941-717A-4594-AFCF-C19F737889B1}");
    using base_interface = IUnknown;
    virtual HRESULT get_IsInTopology(VARIANT_BOOL* inTopology) = 0;
    virtual HRESULT get_Topology(ITopology** topology) = 0;  // null when in none

    VARIANT_BOOL GetIsInTopology();
    _com_ptr_t<ITopology> GetTopology();
};

// ---------------------------------------------------------------------------------------------
// Fields
// ---------------------------------------------------------------------------------------------

struct IGeometryDef : IUnknown {
    static constexpr GUID iid = makeGuid("{54FF554A-02F4-489C-853E-0EEEA5F090EA}");
    using base_interface = IUnknown;
    virtual HRESULT get_GeometryType(esriGeometryType* type) = 0;
    virtual HRESULT get_HasZ(VARIANT_BOOL* hasZ) = 0;
    virtual HRESULT get_HasM(VARIANT_BOOL* hasM) = 0;
    virtual HRESULT get_SpatialReference(ISpatialReference** spatialReference) = 0;
    virtual HRESULT get_GridCount(LONG* count) = 0;
    virtual HRESULT get_GridSize(LONG index, double* size) = 0;

    esriGeometryType GetGeometryType();
    VARIANT_BOOL GetHasZ();
    VARIANT_BOOL GetHasM();
    _com_ptr_t<ISpatialReference> GetSpatialReference();
    LONG GetGridCount();
    double GetGridSize(LONG index);
};

struct IGeometryDefEdit : IGeometryDef {
    static constexpr GUID iid = makeGuid("{9C3787AC-01C5-4458-91D7-75FC1E6A6A40}");
    using base_interface = IGeometryDef;
    virtual HRESULT put_GeometryType(esriGeometryType type) = 0;
    virtual HRESULT put_HasZ(VARIANT_BOOL hasZ) = 0;
    virtual HRESULT put_HasM(VARIANT_BOOL hasM) = 0;  // M values are not stored: VARIANT_TRUE fails
    virtual HRESULT putref_SpatialReference(ISpatialReference* spatialReference) = 0;
    virtual HRESULT put_GridCount(LONG count) = 0;
    virtual HRESULT put_GridSize(LONG index, double size) = 0;

    void PutGeometryType(esriGeometryType type);
    void PutHasZ(VARIANT_BOOL hasZ);
    void PutHasM(VARIANT_BOOL hasM);
    void PutRefSpatialReference(ISpatialReference* spatialReference);
    void PutGridCount(LONG count);
    void PutGridSize(LONG index, double size);
};

// Length: characters of a String field; SmallInteger 2, Integer 4, Single 4, Double 8, Date 8 and
// OID 4 when read from a table.
struct IField : IUnknown {
    static constexpr GUID iid = makeGuid("{7478F285-B045-491F-96F5-B4372527D2D9}");
    using base_interface = IUnknown;
    virtual HRESULT get_Name(BSTR* name) = 0;
    virtual HRESULT get_AliasName(BSTR* name) = 0;
    virtual HRESULT get_Type(esriFieldType* type) = 0;
    virtual HRESULT get_Length(LONG* length) = 0;
    virtual HRESULT get_IsNullable(VARIANT_BOOL* nullable) = 0;
    virtual HRESULT get_Editable(VARIANT_BOOL* editable) = 0;
    virtual HRESULT get_GeometryDef(IGeometryDef** geometryDef) = 0;  // null for other types

    _bstr_t GetName();
    _bstr_t GetAliasName();
    esriFieldType GetType();
    LONG GetLength();
    VARIANT_BOOL GetIsNullable();
    VARIANT_BOOL GetEditable();
    _com_ptr_t<IGeometryDef> GetGeometryDef();
};

struct IFieldEdit : IField {
    static constexpr GUID iid = makeGuid("{64A43482-4307-40D7-B06B-69740D79BA85}");
    using base_interface = IField;
    virtual HRESULT put_Name(BSTR name) = 0;
    virtual HRESULT put_AliasName(BSTR name) = 0;
    virtual HRESULT put_Type(esriFieldType type) = 0;
    virtual HRESULT put_Length(LONG length) = 0;
    virtual HRESULT put_IsNullable(VARIANT_BOOL nullable) = 0;
    virtual HRESULT putref_GeometryDef(IGeometryDef* geometryDef) = 0;

    void PutName(const _bstr_t& name);
    void PutAliasName(const _bstr_t& name);
    void PutType(esriFieldType type);
    void PutLength(LONG length);
    void PutIsNullable(VARIANT_BOOL nullable);
    void PutRefGeometryDef(IGeometryDef* geometryDef);
};

struct IFields : IUnknown {
    static constexpr GUID iid = makeGuid("{92DF3218-843F-4CA8-84DB-9C287ABE4796}");
    using base_interface = IUnknown;
    virtual HRESULT get_FieldCount(LONG* count) = 0;
    virtual HRESULT get_Field(LONG index, IField** field) = 0;
    virtual HRESULT raw_FindField(BSTR name, LONG* index) = 0;  // -1 when absent

    LONG GetFieldCount();
    _com_ptr_t<IField> GetField(LONG index);
    LONG FindField(const _bstr_t& name);
};

struct IFieldsEdit : IFields {
    static constexpr GUID iid = makeGuid("{0FB31758-A1E9-443D-8CCC-A2A63FD6BE65}");
    using base_interface = IFields;
    virtual HRESULT raw_AddField(IField* field) = 0;  // keeps the field object itself

    HRESULT AddField(IField* field);
};

// The fields every new table (object class description) or feature class (feature class
// description) starts with: "OBJECTID", and for feature classes "SHAPE" (a polygon GeometryDef
// without spatial reference, ready to be edited). RequiredFields gives a new field list each time.
struct IObjectClassDescription : IUnknown {
    static constexpr GUID iid = makeGuid("{45010E91-6B1B-4D05-ABC5-2D1420D6BDAF}");
    using base_interface = IUnknown;
    virtual HRESULT get_RequiredFields(IFields** fields) = 0;

    _com_ptr_t<IFields> GetRequiredFields();
};

struct IFeatureClassDescription : IUnknown {
    static constexpr GUID iid = makeGuid("{2F30374E-78EF-4F5F-94B2-9A167E8D4616}");
    using base_interface = IUnknown;
    virtual HRESULT get_ShapeFieldName(BSTR* name) = 0;

    _bstr_t GetShapeFieldName();
};

// ---------------------------------------------------------------------------------------------
// Filters
// ---------------------------------------------------------------------------------------------

// WhereClause: SQL, empty for every row. SubFields is kept and not used (rows carry every column).
struct IQueryFilter : IUnknown {
    static constexpr GUID iid = makeGuid("{8EEB9070-9CA0-48A3-AD7C-42EF2AE30AD2}");
    using base_interface = IUnknown;
    virtual HRESULT get_WhereClause(BSTR* where) = 0;
    virtual HRESULT put_WhereClause(BSTR where) = 0;
    virtual HRESULT get_SubFields(BSTR* fields) = 0;
    virtual HRESULT put_SubFields(BSTR fields) = 0;

    _bstr_t GetWhereClause();
    void PutWhereClause(const _bstr_t& where);
    _bstr_t GetSubFields();
    void PutSubFields(const _bstr_t& fields);
};

// Geometry null: the filter acts as a query filter. GeometryField: the class's shape field
// (empty means the shape field; another name fails the search with E_INVALIDARG).
struct ISpatialFilter : IQueryFilter {
    static constexpr GUID iid = makeGuid("{3FF25E05-DB83-4159-BB88-3E07EA4BBE8C}");
    using base_interface = IQueryFilter;
    virtual HRESULT get_Geometry(IGeometry** geometry) = 0;
    virtual HRESULT putref_Geometry(IGeometry* geometry) = 0;
    virtual HRESULT get_GeometryField(BSTR* name) = 0;
    virtual HRESULT put_GeometryField(BSTR name) = 0;
    virtual HRESULT get_SpatialRel(esriSpatialRelEnum* relation) = 0;
    virtual HRESULT put_SpatialRel(esriSpatialRelEnum relation) = 0;
    virtual HRESULT get_SpatialRelDescription(BSTR* description) = 0;
    virtual HRESULT put_SpatialRelDescription(BSTR description) = 0;

    IGeometryPtr GetGeometry();
    void PutRefGeometry(IGeometry* geometry);
    _bstr_t GetGeometryField();
    void PutGeometryField(const _bstr_t& name);
    esriSpatialRelEnum GetSpatialRel();
    void PutSpatialRel(esriSpatialRelEnum relation);
    _bstr_t GetSpatialRelDescription();
    void PutSpatialRelDescription(const _bstr_t& description);
};

// ---------------------------------------------------------------------------------------------
// Rows, features and cursors
// ---------------------------------------------------------------------------------------------

struct IRowBuffer : IUnknown {
    static constexpr GUID iid = makeGuid("{85639A89-8550-47BE-94CC-0F097CF24EBF}");
    using base_interface = IUnknown;
    virtual HRESULT get_Value(LONG index, VARIANT* value) = 0;
    virtual HRESULT put_Value(LONG index, VARIANT value) = 0;
    virtual HRESULT get_Fields(IFields** fields) = 0;

    _variant_t GetValue(LONG index);
    void PutValue(LONG index, const _variant_t& value);
    _com_ptr_t<IFields> GetFields();
};

// A stored row. Store writes the changed values; Delete removes the row.
struct IRow : IUnknown {
    static constexpr GUID iid = makeGuid("{FB498F3B-E8D5-4EFA-B73A-0D9DA2941700}");
    using base_interface = IUnknown;
    virtual HRESULT get_Value(LONG index, VARIANT* value) = 0;
    virtual HRESULT put_Value(LONG index, VARIANT value) = 0;
    virtual HRESULT get_Fields(IFields** fields) = 0;
    virtual HRESULT get_HasOID(VARIANT_BOOL* hasOID) = 0;
    virtual HRESULT get_OID(LONG* oid) = 0;
    virtual HRESULT get_Table(ITable** table) = 0;
    virtual HRESULT raw_Store() = 0;
    virtual HRESULT raw_Delete() = 0;

    _variant_t GetValue(LONG index);
    void PutValue(LONG index, const _variant_t& value);
    _com_ptr_t<IFields> GetFields();
    VARIANT_BOOL GetHasOID();
    LONG GetOID();
    _com_ptr_t<ITable> GetTable();
    HRESULT Store();
    HRESULT Delete();
};

struct IFeatureBuffer : IUnknown {
    static constexpr GUID iid = makeGuid("{6428F284-806F-41CB-B128-E66CBC93C273}");
    using base_interface = IUnknown;
    virtual HRESULT get_Value(LONG index, VARIANT* value) = 0;
    virtual HRESULT put_Value(LONG index, VARIANT value) = 0;
    virtual HRESULT get_Fields(IFields** fields) = 0;
    virtual HRESULT get_Shape(IGeometry** shape) = 0;        // null when none is set
    virtual HRESULT putref_Shape(IGeometry* shape) = 0;      // checked against the class; kept as a copy

    _variant_t GetValue(LONG index);
    void PutValue(LONG index, const _variant_t& value);
    _com_ptr_t<IFields> GetFields();
    IGeometryPtr GetShape();
    void PutRefShape(IGeometry* shape);
};

struct IFeature : IUnknown {
    static constexpr GUID iid = makeGuid("{D856C9A3-4600-4D3D-9E82-0931EBA1958D}");
    using base_interface = IUnknown;
    virtual HRESULT get_Value(LONG index, VARIANT* value) = 0;
    virtual HRESULT put_Value(LONG index, VARIANT value) = 0;
    virtual HRESULT get_Fields(IFields** fields) = 0;
    virtual HRESULT get_HasOID(VARIANT_BOOL* hasOID) = 0;
    virtual HRESULT get_OID(LONG* oid) = 0;
    virtual HRESULT get_Table(ITable** table) = 0;
    virtual HRESULT raw_Store() = 0;
    virtual HRESULT raw_Delete() = 0;
    virtual HRESULT get_Shape(IGeometry** shape) = 0;
    virtual HRESULT putref_Shape(IGeometry* shape) = 0;
    virtual HRESULT get_ShapeCopy(IGeometry** shape) = 0;
    virtual HRESULT get_Class(IFeatureClass** featureClass) = 0;

    _variant_t GetValue(LONG index);
    void PutValue(LONG index, const _variant_t& value);
    _com_ptr_t<IFields> GetFields();
    VARIANT_BOOL GetHasOID();
    LONG GetOID();
    _com_ptr_t<ITable> GetTable();
    HRESULT Store();
    HRESULT Delete();
    IGeometryPtr GetShape();
    void PutRefShape(IGeometry* shape);
    IGeometryPtr GetShapeCopy();
    _com_ptr_t<IFeatureClass> GetClass();
};

// Search cursors stream rows in table order (sorted for a table sort); with recycling the same
// row object comes back refilled. Update cursors select the rows first, so the changes they make
// never bring a row back. Insert cursors write each row at once (errors surface at the insert)
// and give its object id. NextRow gives S_FALSE and null after the last row.
struct ICursor : IUnknown {
    static constexpr GUID iid = makeGuid("{E9830AFB-A9B4-425F-AA7C-43C3CCF57D8F}");
    using base_interface = IUnknown;
    virtual HRESULT get_Fields(IFields** fields) = 0;
    virtual HRESULT raw_FindField(BSTR name, LONG* index) = 0;
    virtual HRESULT raw_NextRow(IRow** row) = 0;
    virtual HRESULT raw_UpdateRow(IRow* row) = 0;
    virtual HRESULT raw_DeleteRow() = 0;
    virtual HRESULT raw_InsertRow(IRowBuffer* buffer, VARIANT* oid) = 0;
    virtual HRESULT raw_Flush() = 0;

    _com_ptr_t<IFields> GetFields();
    LONG FindField(const _bstr_t& name);
    _com_ptr_t<IRow> NextRow();
    HRESULT UpdateRow(IRow* row);
    HRESULT DeleteRow();
    _variant_t InsertRow(IRowBuffer* buffer);
    HRESULT Flush();
};

struct IFeatureCursor : IUnknown {
    static constexpr GUID iid = makeGuid("{F221C018-04E1-43AC-AA9D-65B524F26E19}");
    using base_interface = IUnknown;
    virtual HRESULT get_Fields(IFields** fields) = 0;
    virtual HRESULT raw_FindField(BSTR name, LONG* index) = 0;
    virtual HRESULT raw_NextFeature(IFeature** feature) = 0;
    virtual HRESULT raw_UpdateFeature(IFeature* feature) = 0;
    virtual HRESULT raw_DeleteFeature() = 0;
    virtual HRESULT raw_InsertFeature(IFeatureBuffer* buffer, VARIANT* oid) = 0;
    virtual HRESULT raw_Flush() = 0;

    _com_ptr_t<IFields> GetFields();
    LONG FindField(const _bstr_t& name);
    _com_ptr_t<IFeature> NextFeature();
    HRESULT UpdateFeature(IFeature* feature);
    HRESULT DeleteFeature();
    _variant_t InsertFeature(IFeatureBuffer* buffer);
    HRESULT Flush();
};

// ---------------------------------------------------------------------------------------------
// Tables and feature classes
// ---------------------------------------------------------------------------------------------

// A null filter selects every row. Also IDataset, ISubtypes, and for a feature class IFeatureClass,
// IGeoDataset and ITopologyClass.
struct ITable : IUnknown {
    static constexpr GUID iid = makeGuid("{09CCF9F8-C155-457C-AFC7-3FD25ED2B674}");
    using base_interface = IUnknown;
    virtual HRESULT raw_FindField(BSTR name, LONG* index) = 0;
    virtual HRESULT get_Fields(IFields** fields) = 0;
    virtual HRESULT get_HasOID(VARIANT_BOOL* hasOID) = 0;
    virtual HRESULT get_OIDFieldName(BSTR* name) = 0;
    virtual HRESULT get_AliasName(BSTR* name) = 0;
    // ALTER TABLE: the new column is NULL in every row.
    virtual HRESULT raw_AddField(IField* field) = 0;
    virtual HRESULT raw_CreateRow(IRow** row) = 0;  // stored at once with NULLs; Store writes the values
    virtual HRESULT raw_GetRow(LONG oid, IRow** row) = 0;  // GDB_E_NO_ROW when absent
    virtual HRESULT raw_CreateRowBuffer(IRowBuffer** buffer) = 0;
    virtual HRESULT raw_RowCount(IQueryFilter* filter, LONG* count) = 0;
    virtual HRESULT raw_Search(IQueryFilter* filter, VARIANT_BOOL recycling, ICursor** cursor) = 0;
    virtual HRESULT raw_Update(IQueryFilter* filter, VARIANT_BOOL recycling, ICursor** cursor) = 0;
    virtual HRESULT raw_Insert(VARIANT_BOOL useBuffering, ICursor** cursor) = 0;
    virtual HRESULT raw_DeleteSearchedRows(IQueryFilter* filter) = 0;

    LONG FindField(const _bstr_t& name);
    _com_ptr_t<IFields> GetFields();
    VARIANT_BOOL GetHasOID();
    _bstr_t GetOIDFieldName();
    _bstr_t GetAliasName();
    HRESULT AddField(IField* field);
    _com_ptr_t<IRow> CreateRow();
    _com_ptr_t<IRow> GetRow(LONG oid);
    _com_ptr_t<IRowBuffer> CreateRowBuffer();
    LONG RowCount(IQueryFilter* filter);
    _com_ptr_t<ICursor> Search(IQueryFilter* filter, VARIANT_BOOL recycling);
    _com_ptr_t<ICursor> Update(IQueryFilter* filter, VARIANT_BOOL recycling);
    _com_ptr_t<ICursor> Insert(VARIANT_BOOL useBuffering);
    HRESULT DeleteSearchedRows(IQueryFilter* filter);
};

struct IFeatureClass : IUnknown {
    static constexpr GUID iid = makeGuid("{5371E2DD-E009-4274-B70C-C30490BA49F6}");
    using base_interface = IUnknown;
    virtual HRESULT raw_FindField(BSTR name, LONG* index) = 0;
    virtual HRESULT get_Fields(IFields** fields) = 0;
    virtual HRESULT get_HasOID(VARIANT_BOOL* hasOID) = 0;
    virtual HRESULT get_OIDFieldName(BSTR* name) = 0;
    virtual HRESULT get_AliasName(BSTR* name) = 0;
    virtual HRESULT raw_AddField(IField* field) = 0;
    virtual HRESULT get_ShapeType(esriGeometryType* type) = 0;
    virtual HRESULT get_ShapeFieldName(BSTR* name) = 0;
    virtual HRESULT get_FeatureType(esriFeatureType* type) = 0;
    virtual HRESULT get_FeatureDataset(IFeatureDataset** dataset) = 0;  // null outside a dataset
    virtual HRESULT raw_CreateFeature(IFeature** feature) = 0;
    virtual HRESULT raw_GetFeature(LONG oid, IFeature** feature) = 0;
    virtual HRESULT raw_CreateFeatureBuffer(IFeatureBuffer** buffer) = 0;
    virtual HRESULT raw_FeatureCount(IQueryFilter* filter, LONG* count) = 0;
    virtual HRESULT raw_Search(IQueryFilter* filter, VARIANT_BOOL recycling, IFeatureCursor** cursor) = 0;
    virtual HRESULT raw_Update(IQueryFilter* filter, VARIANT_BOOL recycling, IFeatureCursor** cursor) = 0;
    virtual HRESULT raw_Insert(VARIANT_BOOL useBuffering, IFeatureCursor** cursor) = 0;

    LONG FindField(const _bstr_t& name);
    _com_ptr_t<IFields> GetFields();
    VARIANT_BOOL GetHasOID();
    _bstr_t GetOIDFieldName();
    _bstr_t GetAliasName();
    HRESULT AddField(IField* field);
    esriGeometryType GetShapeType();
    _bstr_t GetShapeFieldName();
    esriFeatureType GetFeatureType();
    _com_ptr_t<IFeatureDataset> GetFeatureDataset();
    _com_ptr_t<IFeature> CreateFeature();
    _com_ptr_t<IFeature> GetFeature(LONG oid);
    _com_ptr_t<IFeatureBuffer> CreateFeatureBuffer();
    LONG FeatureCount(IQueryFilter* filter);
    _com_ptr_t<IFeatureCursor> Search(IQueryFilter* filter, VARIANT_BOOL recycling);
    _com_ptr_t<IFeatureCursor> Update(IQueryFilter* filter, VARIANT_BOOL recycling);
    _com_ptr_t<IFeatureCursor> Insert(VARIANT_BOOL useBuffering);
};

// Subtypes of a table or feature class: an integer field whose codes name subtypes. Setting the
// subtype field name to empty removes the subtypes.
struct ISubtypes : IUnknown {
    static constexpr GUID iid = makeGuid("{7DABED75-11B8-455B-8695-4471FC1C2B93}");
    using base_interface = IUnknown;
    virtual HRESULT get_HasSubtype(VARIANT_BOOL* has) = 0;
    virtual HRESULT get_SubtypeFieldName(BSTR* name) = 0;
    virtual HRESULT put_SubtypeFieldName(BSTR name) = 0;   // an integer field of the class
    virtual HRESULT get_SubtypeFieldIndex(LONG* index) = 0;  // -1 without subtypes
    virtual HRESULT get_DefaultSubtypeCode(LONG* code) = 0;
    virtual HRESULT put_DefaultSubtypeCode(LONG code) = 0;
    virtual HRESULT raw_AddSubtype(LONG code, BSTR name) = 0;  // GDB_E_NAME_EXISTS for a code in use
    virtual HRESULT raw_DeleteSubtype(LONG code) = 0;
    virtual HRESULT get_Subtypes(IEnumSubtype** subtypes) = 0;  // by code
    virtual HRESULT get_SubtypeName(LONG code, BSTR* name) = 0;

    VARIANT_BOOL GetHasSubtype();
    _bstr_t GetSubtypeFieldName();
    void PutSubtypeFieldName(const _bstr_t& name);
    LONG GetSubtypeFieldIndex();
    LONG GetDefaultSubtypeCode();
    void PutDefaultSubtypeCode(LONG code);
    HRESULT AddSubtype(LONG code, const _bstr_t& name);
    HRESULT DeleteSubtype(LONG code);
    _com_ptr_t<IEnumSubtype> GetSubtypes();
    _bstr_t GetSubtypeName(LONG code);
};

// Next gives S_FALSE, code 0 and a null name after the last.
struct IEnumSubtype : IUnknown {
    static constexpr GUID iid = makeGuid("{4951BF0A-C5CF-4430-BC2E-CC20114EE761}");
    using base_interface = IUnknown;
    virtual HRESULT raw_Next(LONG* code, BSTR* name) = 0;
    virtual HRESULT raw_Reset() = 0;

    // Empty name after the last.
    _bstr_t Next(LONG* code);
    HRESULT Reset();
};

// Sorts the rows of a table that a filter selects by one or more fields (Fields: names joined by
// ","), each ascending unless set otherwise; text sorts without regard to case. Rows gives a search
// cursor over the sorted rows (Sort is optional).
struct ITableSort : IUnknown {
    static constexpr GUID iid = makeGuid("{B141A949-FD62-490D-851B-D4E01DA6109F}");
    using base_interface = IUnknown;
    virtual HRESULT get_Table(ITable** table) = 0;
    virtual HRESULT putref_Table(ITable* table) = 0;
    virtual HRESULT get_QueryFilter(IQueryFilter** filter) = 0;
    virtual HRESULT putref_QueryFilter(IQueryFilter* filter) = 0;
    virtual HRESULT get_Fields(BSTR* fields) = 0;
    virtual HRESULT put_Fields(BSTR fields) = 0;
    virtual HRESULT get_Ascending(BSTR field, VARIANT_BOOL* ascending) = 0;
    virtual HRESULT put_Ascending(BSTR field, VARIANT_BOOL ascending) = 0;
    virtual HRESULT raw_Sort(IUnknown* trackCancel) = 0;
    virtual HRESULT get_Rows(ICursor** rows) = 0;

    _com_ptr_t<ITable> GetTable();
    void PutRefTable(ITable* table);
    _com_ptr_t<IQueryFilter> GetQueryFilter();
    void PutRefQueryFilter(IQueryFilter* filter);
    _bstr_t GetFields();
    void PutFields(const _bstr_t& fields);
    VARIANT_BOOL GetAscending(const _bstr_t& field);
    void PutAscending(const _bstr_t& field, VARIANT_BOOL ascending);
    HRESULT Sort(IUnknown* trackCancel);
    _com_ptr_t<ICursor> GetRows();
};

_COM_SMARTPTR_TYPEDEF(ISpatialReference, __uuidof(ISpatialReference));
_COM_SMARTPTR_TYPEDEF(IPropertySet, __uuidof(IPropertySet));
_COM_SMARTPTR_TYPEDEF(IWorkspaceFactory, __uuidof(IWorkspaceFactory));
_COM_SMARTPTR_TYPEDEF(IWorkspace, __uuidof(IWorkspace));
_COM_SMARTPTR_TYPEDEF(IFeatureWorkspace, __uuidof(IFeatureWorkspace));
_COM_SMARTPTR_TYPEDEF(IWorkspaceEdit, __uuidof(IWorkspaceEdit));
_COM_SMARTPTR_TYPEDEF(IDataset, __uuidof(IDataset));
_COM_SMARTPTR_TYPEDEF(IGeoDataset, __uuidof(IGeoDataset));
_COM_SMARTPTR_TYPEDEF(IVersionedObject, __uuidof(IVersionedObject));
_COM_SMARTPTR_TYPEDEF(IFeatureDataset, __uuidof(IFeatureDataset));
_COM_SMARTPTR_TYPEDEF(IFeatureClassContainer, __uuidof(IFeatureClassContainer));
_COM_SMARTPTR_TYPEDEF(IEnumFeatureClass, __uuidof(IEnumFeatureClass));
_COM_SMARTPTR_TYPEDEF(ITopology, __uuidof(ITopology));
_COM_SMARTPTR_TYPEDEF(ITopologyContainer, __uuidof(ITopologyContainer));
_COM_SMARTPTR_TYPEDEF(ITopologyClass, __uuidof(ITopologyClass));
_COM_SMARTPTR_TYPEDEF(IGeometryDef, __uuidof(IGeometryDef));
_COM_SMARTPTR_TYPEDEF(IGeometryDefEdit, __uuidof(IGeometryDefEdit));
_COM_SMARTPTR_TYPEDEF(IField, __uuidof(IField));
_COM_SMARTPTR_TYPEDEF(IFieldEdit, __uuidof(IFieldEdit));
_COM_SMARTPTR_TYPEDEF(IFields, __uuidof(IFields));
_COM_SMARTPTR_TYPEDEF(IFieldsEdit, __uuidof(IFieldsEdit));
_COM_SMARTPTR_TYPEDEF(IObjectClassDescription, __uuidof(IObjectClassDescription));
_COM_SMARTPTR_TYPEDEF(IFeatureClassDescription, __uuidof(IFeatureClassDescription));
_COM_SMARTPTR_TYPEDEF(IQueryFilter, __uuidof(IQueryFilter));
_COM_SMARTPTR_TYPEDEF(ISpatialFilter, __uuidof(ISpatialFilter));
_COM_SMARTPTR_TYPEDEF(IRowBuffer, __uuidof(IRowBuffer));
_COM_SMARTPTR_TYPEDEF(IRow, __uuidof(IRow));
_COM_SMARTPTR_TYPEDEF(IFeatureBuffer, __uuidof(IFeatureBuffer));
_COM_SMARTPTR_TYPEDEF(IFeature, __uuidof(IFeature));
_COM_SMARTPTR_TYPEDEF(ICursor, __uuidof(ICursor));
_COM_SMARTPTR_TYPEDEF(IFeatureCursor, __uuidof(IFeatureCursor));
_COM_SMARTPTR_TYPEDEF(ITable, __uuidof(ITable));
_COM_SMARTPTR_TYPEDEF(IFeatureClass, __uuidof(IFeatureClass));
_COM_SMARTPTR_TYPEDEF(ISubtypes, __uuidof(ISubtypes));
_COM_SMARTPTR_TYPEDEF(IEnumSubtype, __uuidof(IEnumSubtype));
_COM_SMARTPTR_TYPEDEF(ITableSort, __uuidof(ITableSort));

// ---------------------------------------------------------------------------------------------
// Classes (registered with registerComClass when libplatform is loaded)
// ---------------------------------------------------------------------------------------------
// AccessWorkspaceFactory, SdeWorkspaceFactory: IWorkspaceFactory
// FeatureClassDescription: IFeatureClassDescription IObjectClassDescription
// ObjectClassDescription: IObjectClassDescription
// Field: IField IFieldEdit; Fields: IFields IFieldsEdit; GeometryDef: IGeometryDef IGeometryDefEdit
// QueryFilter: IQueryFilter; SpatialFilter: ISpatialFilter IQueryFilter; TableSort: ITableSort
// PropertySet: IPropertySet; SpatialReferenceWGS84: ISpatialReference (Z domain -100000 to 100000)
inline constexpr CLSID CLSID_AccessWorkspaceFactory = makeGuid("{DD48C96A-D92A-11D1-AA81-00C04FA33A15}");
inline constexpr CLSID CLSID_SdeWorkspaceFactory = makeGuid("{D9B4FA40-D6D9-11D1-AA81-00C04FA33A15}");
inline constexpr CLSID CLSID_FeatureClassDescription = makeGuid("{08136233-A72E-11D2-8924-0000F877762D}");
inline constexpr CLSID CLSID_ObjectClassDescription = makeGuid("{08136232-A72E-11D2-8924-0000F877762D}");
inline constexpr CLSID CLSID_Field = makeGuid("{F94F7534-9FDF-11D0-BEC7-00805F7C4268}");
inline constexpr CLSID CLSID_QueryFilter = makeGuid("{FDFEBD95-ED75-11D0-9A95-080009EC734B}");
inline constexpr CLSID CLSID_Fields = makeGuid("{EBAD5C74-0865-4728-A286-35B8C1A8395F}");
inline constexpr CLSID CLSID_GeometryDef = makeGuid("{6D38B8FC-23CF-4965-AA0F-FAC480AB4C62}");
inline constexpr CLSID CLSID_SpatialFilter = makeGuid("{084B28C5-32B9-4F58-9BA8-AFF1151FCC8C}");
inline constexpr CLSID CLSID_TableSort = makeGuid("{C228EC95-6A18-4259-A4B3-BD5EB8275E7F}");
inline constexpr CLSID CLSID_PropertySet = makeGuid("{B9E6B38B-E2D0-4C10-AE26-DE288479000A}");
inline constexpr CLSID CLSID_SpatialReferenceWGS84 = makeGuid("{551E8B59-8767-40C5-8BA4-9E0DFA1812AF}");

#include "platform/gdb/gdb_wrappers.h"
