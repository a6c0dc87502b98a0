// tests/platform/xml/xmldom_test.cpp: the DOM document as the catalogue loader uses it.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/xml/xmldom.h"

namespace {

namespace fs = std::filesystem;

class XmlDom : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("xmldom_test_" + std::to_string(getpid()));
        fs::create_directories(dir_);
        ASSERT_EQ(doc_.CreateInstance(CLSID_DOMDocument), S_OK);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write(const std::string& name, const std::string& text) {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary) << text;
        return p.string();
    }

    fs::path dir_;
    IXMLDOMDocumentPtr doc_;
};

std::string attr(const IXMLDOMNodePtr& node, LONG i) {
    IXMLDOMNodePtr a = node->Getattributes()->Getitem(i);
    return std::string(a->GetnodeName()) + "=" + std::string(a->Gettext());
}

TEST_F(XmlDom, FindsElementsByTagAnywhereInDocumentOrder) {
    const std::string path = write("a.xml",
        "<ROOT><AGENCY name='AA' code='1810'/><GROUP><AGENCY Name='FR' code='250'/>"
        "<agency name='lower'/></GROUP><X><Y><AGENCY/></Y></X></ROOT>");
    ASSERT_EQ(doc_->load(_variant_t(path.c_str())), VARIANT_TRUE);

    IXMLDOMNodeListPtr list = doc_->getElementsByTagName("AGENCY");
    ASSERT_EQ(list->Getlength(), 3);  // the tag is matched exactly: <agency> is not one
    IXMLDOMNodePtr first = list->Getitem(0);
    EXPECT_EQ(std::string(first->GetnodeName()), "AGENCY");
    ASSERT_EQ(first->Getattributes()->Getlength(), 2);
    EXPECT_EQ(attr(first, 0), "name=AA");
    EXPECT_EQ(attr(first, 1), "code=1810");
    EXPECT_EQ(attr(list->Getitem(1), 0), "Name=FR");  // names keep their case
    EXPECT_EQ(list->Getitem(2)->Getattributes()->Getlength(), 0);
    EXPECT_FALSE(list->Getitem(3));  // past the end: null, no throw
    EXPECT_FALSE(first->Getattributes()->Getitem(-1));

    EXPECT_EQ(doc_->getElementsByTagName("*")->Getlength(), 8);
    EXPECT_EQ(doc_->getElementsByTagName("NONE")->Getlength(), 0);
}

TEST_F(XmlDom, ChildNodesAndTextInOrder) {
    const std::string path = write("b.xml",
        "<?xml version='1.0' encoding='UTF-8'?>\n<OBJECTMAP>\n  <S57OBJECT name='SOUNDG'/>\n"
        "  <!-- note -->\n  <NOTE>d\xC3\xA9pth <B>ten</B> m</NOTE>\n</OBJECTMAP>\n");
    ASSERT_EQ(doc_->load(_variant_t(path.c_str())), VARIANT_TRUE);

    IXMLDOMNodePtr map = doc_->getElementsByTagName("OBJECTMAP")->Getitem(0);
    IXMLDOMNodeListPtr children = map->GetchildNodes();
    // Neither the blank text between elements nor the comment is a child.
    ASSERT_EQ(children->Getlength(), 2);
    EXPECT_EQ(std::string(children->Getitem(0)->GetnodeName()), "S57OBJECT");
    IXMLDOMNodePtr note = children->Getitem(1);
    EXPECT_EQ(std::wstring(note->Gettext()), L"d\u00e9pth ten m");
    EXPECT_EQ(std::string(note->GetchildNodes()->Getitem(0)->GetnodeName()), "#text");
    // Text nodes and attributes have no attributes.
    EXPECT_FALSE(note->GetchildNodes()->Getitem(0)->Getattributes());
}

TEST_F(XmlDom, FailedLoadEmptiesTheDocumentAndSaysWhy) {
    const std::string good = write("good.xml", "<R><E/></R>");
    struct Case { const char* name; std::string path; };
    const Case cases[] = {
        {"missing", (dir_ / "none.xml").string()},
        {"malformed", write("bad.xml", "<R><E></R>")},
        {"empty", write("empty.xml", "")},
        {"truncated", write("cut.xml", "<R><E a='1")},
        {"directory", dir_.string()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(doc_->load(_variant_t(good.c_str())), VARIANT_TRUE);
        VARIANT_BOOL ok = VARIANT_TRUE;
        EXPECT_EQ(doc_->raw_load(_variant_t(c.path.c_str()), &ok), S_FALSE);
        EXPECT_EQ(ok, VARIANT_FALSE);
        EXPECT_EQ(doc_->getElementsByTagName("E")->Getlength(), 0);
        EXPECT_NE(std::string(doc_->GetparseErrorText()), "");
    }
}

TEST_F(XmlDom, NodesOutliveTheirDocumentAndReloads) {
    const std::string one = write("one.xml", "<R><E v='first'/></R>");
    const std::string two = write("two.xml", "<R><F/></R>");
    ASSERT_EQ(doc_->load(_variant_t(one.c_str())), VARIANT_TRUE);
    IXMLDOMNodeListPtr list = doc_->getElementsByTagName("E");
    ASSERT_EQ(doc_->load(_variant_t(two.c_str())), VARIANT_TRUE);
    doc_ = nullptr;
    EXPECT_EQ(attr(list->Getitem(0), 0), "v=first");
}

TEST_F(XmlDom, PathsWithBackslashesAndBadArguments) {
    const std::string path = write("c.xml", "<R/>");
    std::string windowsStyle = path;
    for (auto& c : windowsStyle)
        if (c == '/') c = '\\';
    EXPECT_EQ(doc_->load(_variant_t(windowsStyle.c_str())), VARIANT_TRUE);
    // A doubled separator before the name is a path the platform takes.
    const std::string doubled = dir_.string() + "\\\\c.xml";
    EXPECT_EQ(doc_->load(_variant_t(doubled.c_str())), VARIANT_TRUE);

    VARIANT_BOOL ok = VARIANT_TRUE;
    EXPECT_EQ(doc_->raw_load(_variant_t(42L), &ok), E_INVALIDARG);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_EQ(doc_->raw_load(_variant_t(path.c_str()), nullptr), E_POINTER);
    EXPECT_EQ(doc_->raw_getElementsByTagName(nullptr, nullptr), E_POINTER);
    EXPECT_THROW(doc_->load(_variant_t(1.5)), _com_error);
}

// ---- Reading the tree in place -------------------------------------------------------------------

// An element's attributes as "name=value" pairs.
std::string attrs(XmlElement e) {
    std::string out;
    for (XmlAttribute a = e.firstAttribute(); a; a = a.next()) out += std::string(a.name()) + "=" + a.value() + ";";
    return out;
}

TEST_F(XmlDom, TreeViewFindsWhatTheDomFindsAndKeepsItsTextAsParsed) {
    const std::string path = write("t.xml",
        "<ROOT><AGENCY name='AA' code='1810'/>text<GROUP><AGENCY Name='F&amp;R'/><!-- c -->"
        "<agency name='lower'/></GROUP><AGENCY a='\xff' b='\xC3\xA9'/></ROOT>");
    ASSERT_EQ(doc_->load(_variant_t(path.c_str())), VARIANT_TRUE);
    XmlTree tree;
    ASSERT_EQ(XmlTree::of(doc_, &tree), S_OK);

    const std::vector<XmlElement> found = tree.elementsByTagName("AGENCY");
    ASSERT_EQ(LONG(found.size()), doc_->getElementsByTagName("AGENCY")->Getlength());
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(attrs(found[0]), "name=AA;code=1810;");
    EXPECT_EQ(attrs(found[1]), "Name=F&R;");
    // The bytes as parsed, where the DOM's text has U+FFFD for the byte that is no UTF-8.
    EXPECT_EQ(attrs(found[2]), "a=\xff;b=\xC3\xA9;");
    EXPECT_EQ(std::wstring(doc_->getElementsByTagName("AGENCY")->Getitem(2)->Getattributes()->Getitem(0)->Gettext()),
              L"\xFFFD");
    EXPECT_EQ(tree.elementsByTagName("*").size(), std::size_t(doc_->getElementsByTagName("*")->Getlength()));
    EXPECT_TRUE(tree.elementsByTagName("NONE").empty());
    EXPECT_TRUE(tree.elementsByTagName("").empty());

    // Children are elements only: the text and the comment are passed over.
    XmlElement root = tree.elementsByTagName("ROOT").at(0);
    std::string children;
    for (XmlElement c = root.firstChildElement(); c; c = c.nextSiblingElement()) children += std::string(c.name()) + " ";
    EXPECT_EQ(children, "AGENCY GROUP AGENCY ");
    EXPECT_FALSE(found[0].firstChildElement());
    EXPECT_FALSE(found[1].nextSiblingElement().nextSiblingElement());

    // The views stay valid while the tree lives, whatever the document loads next.
    ASSERT_EQ(doc_->load(_variant_t(write("u.xml", "<OTHER/>").c_str())), VARIANT_TRUE);
    doc_ = nullptr;
    EXPECT_EQ(attrs(found[0]), "name=AA;code=1810;");

    EXPECT_EQ(XmlTree::of(nullptr, &tree), E_POINTER);
}

TEST(XmlDomClass, CreatedByProgIdAsNodeToo) {
    IXMLDOMDocumentPtr doc(kDOMDocumentProgId);
    ASSERT_TRUE(doc);
    IXMLDOMNodePtr asNode = doc;  // the document is a node as well
    ASSERT_TRUE(asNode);
    EXPECT_EQ(std::string(asNode->GetnodeName()), "#document");
}

}  // namespace
