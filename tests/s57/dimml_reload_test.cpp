// tests/s57/dimml_reload_test.cpp: loading the same catalogue files again gives the same tables and
// the same trace as parsing them; changed files, or a load that failed part-way, are parsed anew.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "dimml_support.h"
#include "platform/xml/xmldom.h"

namespace {

using dimmltest::kSmallCatalogue;
using dimmltest::kSmallProduct;

// Everything the tables hold, as text.
std::string tables() {
    std::string out;
    char line[512];
    for (int32_t i = 0; i < agencyCount; ++i) {
        std::snprintf(line, sizeof line, "A %s %s\n", agencies[i].label, agencies[i].code);
        out += line;
    }
    for (int32_t i = 0; i < s57ObjectCount; ++i) {
        std::snprintf(line, sizeof line, "O %d %s %s\n", s57Objects[i].code, s57Objects[i].acronym,
                      s57Objects[i].description);
        out += line;
    }
    for (int32_t i = 0; i < s57AttributeCount; ++i) {
        std::snprintf(line, sizeof line, "T %d %s %s %d %d\n", s57Attributes[i].index, s57Attributes[i].name,
                      s57Attributes[i].defaultValue, s57Attributes[i].type, s57Attributes[i].width);
        out += line;
    }
    for (int32_t i = 0; i < s57SetCount; ++i) {
        std::snprintf(line, sizeof line, "S %d %d %s\n", s57Sets[i].objectCode, s57Sets[i].attributeCode,
                      s57Sets[i].set);
        out += line;
    }
    for (int32_t i = 0; i < objectMapCount; ++i) {
        std::snprintf(line, sizeof line, "M %d %s %s %s %s\n", objectMaps[i].code, objectMaps[i].s57Name,
                      objectMaps[i].type, objectMaps[i].gdbName, objectMaps[i].subtype);
        out += line;
    }
    for (int32_t i = 0; i < attributeMapCount; ++i) {
        const AttributeMapRec& m = attributeMaps[i];
        std::snprintf(line, sizeof line, "B %d %d %s %d %s %s %s %s\n", m.objectCode, m.code, m.set, m.qc,
                      m.objectType, m.objectName, m.s57Name, m.gdbName);
        out += line;
    }
    return out;
}

class CatalogueReload : public dimmltest::CatalogueFixture {
protected:
    // The load's result, its standard output and its tables.
    struct Load {
        HRESULT hr;
        std::string out, tables;
    };
    Load load() {
        std::fflush(stdout);
        FILE* capture = std::tmpfile();
        const int saved = dup(1);
        dup2(fileno(capture), 1);
        const HRESULT hr = loadDIMEInfoFrom(dir().c_str());
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
        std::rewind(capture);
        std::string out;
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, capture)) > 0;) out.append(buf, n);
        std::fclose(capture);
        return {hr, out, tables()};
    }
};

TEST_F(CatalogueReload, SameFilesGiveTheParsedTablesAndTrace) {
    write("product.xml", kSmallProduct);
    write("s57.xml", kSmallCatalogue);
    const Load first = load();
    ASSERT_EQ(first.hr, S_OK);
    ASSERT_NE(first.out.find("agency FR 250\n"), std::string::npos) << first.out;
    const Load again = load();
    EXPECT_EQ(again.hr, S_OK);
    EXPECT_EQ(again.out, first.out);
    EXPECT_EQ(again.tables, first.tables);

    // A change of either file is seen.
    std::string changed = kSmallCatalogue;
    changed.replace(changed.find("name='FR'"), 9, "name='DE'");
    write("s57.xml", changed);
    const Load edited = load();
    EXPECT_EQ(edited.hr, S_OK);
    EXPECT_NE(edited.out.find("agency DE 250\n"), std::string::npos) << edited.out;
    EXPECT_EQ(edited.out.find("agency FR"), std::string::npos) << edited.out;

    // A missing file fails as before, and the tables it had are gone.
    std::filesystem::remove(std::filesystem::path(dir()) / "product.xml");
    EXPECT_EQ(load().hr, E_FAIL);
    EXPECT_EQ(s57ObjectCount, 0);
}

// ---- What product.xml holds besides the mapping, for the template --------------------------------

std::string extrasText(const ProductExtras& e) {
    std::string out;
    for (const auto& z : e.zClasses) out += "Z " + z + "\n";
    for (const auto& c : e.collections) {
        out += "C " + c.name + ":";
        for (const auto& f : c.fields) out += " " + f.name + "=" + f.code;
        out += "\n";
    }
    return out;
}

const char kProductWithExtras[] =
    "<PRODUCT><OBJECTMAP><S57OBJECT name='SOUNDG' code='129' type='P'/>"
    "<GDBOBJECT name='SoundingFeature' subtype='SOUNDG' Z='1'/></OBJECTMAP>"
    "<OBJECTMAP><S57OBJECT name='DEPARE' code='42' type='A'/>"
    "<GDBOBJECT name='DepthAreaFeature' subtype='DEPARE' z='0'/></OBJECTMAP>"
    "<GDBOBJECT name='Loose' z='1' NAME='LooseLast'/>"
    "<COLLECTION name='C_AGGR'><FIELD name='OBJNAM' code='116'/><field name='LOWER' code='1'/>"
    "<FIELD code='2'/><X><FIELD name='DEEP' code='3'/></X><FIELD NAME='INFORM' code='102x'/></COLLECTION>"
    "<COLLECTION code='401'/></PRODUCT>";

TEST_F(CatalogueReload, ProductExtrasAreKeptForTheSameUnchangedFileOnly) {
    write("product.xml", kProductWithExtras);
    write("s57.xml", kSmallCatalogue);
    ASSERT_EQ(load().hr, S_OK);
    const std::string productPath = dir() + "/product.xml";
    ProductExtras kept;
    ASSERT_TRUE(loadedProductExtras(productPath.c_str(), &kept));
    // Names of attributes ignore case and the last one wins; FIELD is matched exactly, among the
    // collection's own children; a collection without a name is none.
    EXPECT_EQ(extrasText(kept), "Z SoundingFeature\nZ LooseLast\nC C_AGGR: OBJNAM=116 INFORM=102x\n");

    // Read from a document, the same.
    IXMLDOMDocumentPtr doc;
    ASSERT_EQ(doc.CreateInstance(CLSID_DOMDocument), S_OK);
    ASSERT_EQ(doc->load(_variant_t(productPath.c_str())), VARIANT_TRUE);
    ProductExtras read;
    ASSERT_EQ(readProductExtras(doc, &read), S_OK);
    EXPECT_EQ(extrasText(read), extrasText(kept));
    EXPECT_EQ(readProductExtras(nullptr, &read), E_POINTER);

    std::string windowsStyle = productPath;
    for (char& c : windowsStyle)
        if (c == '/') c = '\\';
    EXPECT_TRUE(loadedProductExtras(windowsStyle.c_str(), &kept));
    EXPECT_FALSE(loadedProductExtras((dir() + "/other.xml").c_str(), &kept));

    // Once the file changes, what was kept no longer stands for it.
    std::string changed = kProductWithExtras;
    changed.replace(changed.find("Z='1'"), 5, "Z='0'");
    write("product.xml", changed);
    EXPECT_FALSE(loadedProductExtras(productPath.c_str(), &kept));
    write("product.xml", kProductWithExtras);
    EXPECT_TRUE(loadedProductExtras(productPath.c_str(), &kept));

    // A load that fails keeps nothing.
    std::filesystem::remove(std::filesystem::path(dir()) / "s57.xml");
    EXPECT_EQ(load().hr, E_FAIL);
    EXPECT_FALSE(loadedProductExtras(productPath.c_str(), &kept));
}

}  // namespace
