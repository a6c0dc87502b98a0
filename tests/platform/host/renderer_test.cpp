// tests/platform/host/renderer_test.cpp: which class a value falls into (the bounds of class breaks,
// numbers and texts of unique values, values in no class), and the XML form read back unchanged.
#include <cmath>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "platform/host/renderer.h"

namespace {

host::RendererSpec parse(const char* xml) {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_string(xml));
    return host::readRenderer(doc.document_element());
}

const char kBreaks[] = R"(<ClassBreaksRenderer field="DRVAL1" minimum="-100">
  <Break upper="-0.01"><Symbol fill="#00FF00"/></Break>
  <Break upper="5"><Symbol fill="#0000FF"/></Break>
  <Break upper="20"><Symbol fill="#FFFFFF"/></Break>
</ClassBreaksRenderer>)";

const char kUnique[] = R"(<UniqueValueRenderer field="SUBTYPE">
  <Value value="71"><Symbol fill="#F3DFA2"/></Value>
  <Value value="Pier"><Symbol fill="#A8A8A8" marker="square" size="3"/></Value>
  <Default><Symbol fill="#111111" outline="none"/></Default>
</UniqueValueRenderer>)";

struct Pick {
    const char* name;
    const char* renderer;
    _variant_t value;
    long fill;  // -2: not drawn
};

const Pick kPicks[] = {
    {"DryingBelowZero", kBreaks, _variant_t(-2.9), 0x00FF00},
    {"ZeroIsWater", kBreaks, _variant_t(0.0), 0x0000FF},
    {"UpperBoundIsInside", kBreaks, _variant_t(5.0), 0x0000FF},
    {"JustAboveABound", kBreaks, _variant_t(5.0001), 0xFFFFFF},
    {"IntegerValue", kBreaks, _variant_t(long(12)), 0xFFFFFF},
    {"NumberAsText", kBreaks, _variant_t("3.5"), 0x0000FF},
    {"BelowTheMinimum", kBreaks, _variant_t(-200.0), -2},
    {"AboveTheLastBreak", kBreaks, _variant_t(30.0), -2},
    {"NullIsNoClass", kBreaks, _variant_t(), -2},
    {"IntegerCode", kUnique, _variant_t(long(71)), 0xF3DFA2},
    {"RealCode", kUnique, _variant_t(71.0), 0xF3DFA2},
    {"TextValue", kUnique, _variant_t("Pier"), 0xA8A8A8},
    {"OtherValueTakesTheDefault", kUnique, _variant_t(long(122)), 0x111111},
    {"NullTakesTheDefault", kUnique, _variant_t(), 0x111111},
};

class SymbolFor : public ::testing::TestWithParam<Pick> {};

TEST_P(SymbolFor, PicksTheClass) {
    const host::RendererSpec spec = parse(GetParam().renderer);
    const auto sym = spec.symbolFor(GetParam().value);
    if (GetParam().fill == -2) {
        EXPECT_FALSE(sym.has_value());
    } else {
        ASSERT_TRUE(sym.has_value());
        EXPECT_EQ(sym->fill, GetParam().fill);
    }
}

INSTANTIATE_TEST_SUITE_P(Values, SymbolFor, ::testing::ValuesIn(kPicks),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(RendererXml, ReadsBackWhatItWrites) {
    for (const char* xml : {kBreaks, kUnique, "<SimpleRenderer><Symbol fill=\"none\" outline=\"#C0007C\" width=\"1\"/></SimpleRenderer>"}) {
        const host::RendererSpec spec = parse(xml);
        pugi::xml_document doc;
        host::writeRenderer(doc, spec);
        EXPECT_EQ(host::readRenderer(doc.document_element()), spec) << xml;
    }
    // A class-breaks renderer without a minimum starts at minus infinity and is written without one.
    const host::RendererSpec open = parse(R"(<ClassBreaksRenderer field="X"><Break upper="1"><Symbol/></Break></ClassBreaksRenderer>)");
    EXPECT_TRUE(std::isinf(open.minimum));
    pugi::xml_document doc;
    host::writeRenderer(doc, open);
    EXPECT_FALSE(doc.document_element().attribute("minimum"));
    EXPECT_EQ(host::readRenderer(doc.document_element()), open);
}

}  // namespace
