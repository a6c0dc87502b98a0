// Tests of the component-model core: conversions, strings, reference counting and object creation.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/com/com.h"

namespace {

struct IShape : IUnknown {
    static constexpr GUID iid = makeGuid("{7D1C7A10-0000-4000-8000-000000000001}");
    using base_interface = IUnknown;
    virtual HRESULT get_Sides(LONG* n) = 0;
};
struct ISquare : IShape {
    static constexpr GUID iid = makeGuid("{7D1C7A10-0000-4000-8000-000000000002}");
    using base_interface = IShape;
    virtual HRESULT Fail() = 0;
};
struct IColour : IUnknown {
    static constexpr GUID iid = makeGuid("{7D1C7A10-0000-4000-8000-000000000003}");
    using base_interface = IUnknown;
};
_COM_SMARTPTR_TYPEDEF(IShape, IShape::iid);
_COM_SMARTPTR_TYPEDEF(ISquare, ISquare::iid);
_COM_SMARTPTR_TYPEDEF(IColour, IColour::iid);

int liveSquares = 0;
class Square : public ComObject<ISquare> {
public:
    Square() { ++liveSquares; }
    ~Square() override { --liveSquares; }
    HRESULT get_Sides(LONG* n) override {
        *n = 4;
        return S_OK;
    }
    HRESULT Fail() override {
        return comGuard([]() -> HRESULT { throw _com_error(E_INVALIDARG, L"no such side"); });
    }
};
// An object of two unrelated interfaces: both answer, and IUnknown is one identity.
class PaintedSquare : public ComObject<ISquare, IColour> {
public:
    HRESULT get_Sides(LONG* n) override {
        *n = 4;
        return S_OK;
    }
    HRESULT Fail() override { return E_FAIL; }
};

TEST(ComObjects, SeveralInterfacesShareOneIdentity) {
    ISquarePtr sq;
    sq.Attach(nullptr);
    ASSERT_EQ(createComInstance<PaintedSquare>(ISquare::iid, reinterpret_cast<void**>(&sq)), S_OK);
    IColourPtr colour = sq;
    IShapePtr shape = colour;
    ASSERT_TRUE(colour);
    ASSERT_TRUE(shape);
    EXPECT_TRUE(colour == sq);
    IUnknownPtr a = colour, b = shape;
    EXPECT_EQ(a.GetInterfacePtr(), b.GetInterfacePtr());
}

constexpr CLSID CLSID_Square = makeGuid("{7D1C7A10-0000-4000-8000-0000000000AA}");
ComClassRegistrar squareReg(CLSID_Square, "Test.Square.1", &createComInstance<Square>);

TEST(ComObjects, InterfacesAndLifetime) {
    {
        ISquarePtr sq(CLSID_Square);
        ASSERT_TRUE(sq);
        IShapePtr shape = sq;  // a base interface answers
        ASSERT_TRUE(shape);
        LONG n = 0;
        EXPECT_EQ(shape->get_Sides(&n), S_OK);
        EXPECT_EQ(n, 4);
        IColourPtr colour = sq;  // one it lacks gives null, no throw
        EXPECT_FALSE(colour);
        EXPECT_TRUE(shape == sq);
        EXPECT_EQ(liveSquares, 1);
    }
    EXPECT_EQ(liveSquares, 0);
}

TEST(ComObjects, AssignmentFromATemporaryKeepsTheObject) {
    ISquarePtr make(CLSID_Square);
    IShapePtr shape;
    shape = ISquarePtr(CLSID_Square);  // a converting assignment from a temporary
    ISquarePtr sq;
    sq = std::move(make);               // a move of the same type
    EXPECT_TRUE(shape);
    EXPECT_TRUE(sq);
    EXPECT_FALSE(make);
    EXPECT_EQ(liveSquares, 2);
    sq = ISquarePtr();
    shape = nullptr;
    EXPECT_EQ(liveSquares, 0);
}

TEST(ComObjects, CreationByProgIdAndFailures) {
    IShapePtr byVersioned, byIndependent;
    EXPECT_EQ(byVersioned.CreateInstance("Test.Square.1"), S_OK);
    EXPECT_EQ(byIndependent.CreateInstance("test.square"), S_OK);
    IShapePtr none;
    EXPECT_EQ(none.CreateInstance("Test.Circle"), CO_E_CLASSSTRING);
    EXPECT_EQ(none.CreateInstance(makeGuid("{7D1C7A10-0000-4000-8000-0000000000FF}")), REGDB_E_CLASSNOTREG);
    EXPECT_THROW(IShapePtr(makeGuid("{7D1C7A10-0000-4000-8000-0000000000FF}")), _com_error);
    IShapePtr empty;
    EXPECT_THROW(empty->get_Sides(nullptr), _com_error);
}

TEST(ComErrors, GuardKeepsDescriptionForTheRaisingWrapper) {
    ISquarePtr sq(CLSID_Square);
    HRESULT hr = sq->Fail();
    EXPECT_EQ(hr, E_INVALIDARG);
    try {
        _com_issue_error(hr);
        FAIL();
    } catch (const _com_error& e) {
        EXPECT_EQ(e.Error(), E_INVALIDARG);
        EXPECT_STREQ(static_cast<const char*>(e.Description()), "no such side");
        EXPECT_STREQ(e.ErrorMessage(), "The parameter is incorrect.");
    }
    EXPECT_STREQ(_com_error(E_FAIL).ErrorMessage(), "Unspecified error");
    EXPECT_STREQ(_com_error(hresultOf(0x80040353)).ErrorMessage(), "Unknown error 0x80040353");
}

TEST(Guids, TextRoundTrip) {
    const char* text = "{E9AC688E-46B0-4769-B0C8-F365F88402BF}";
    auto g = guidFromString(text);
    ASSERT_TRUE(g);
    EXPECT_EQ(guidToString(*g), text);
    EXPECT_EQ(*g, makeGuid("{E9AC688E-46B0-4769-B0C8-F365F88402BF}"));
    EXPECT_FALSE(guidFromString("{E9AC688E-46B0-4769-B0C8-F365F88402B}"));
    EXPECT_FALSE(guidFromString("{E9AC688E-46B0-4769-B0C8-F365F88402BG}"));
}

TEST(Strings, Utf8BothWaysAndSharing) {
    const std::string text = "Sj\xC3\xB8kart \xE2\x80\x93 \xF0\x9F\x8C\x8A";
    _bstr_t b(text.c_str());
    EXPECT_EQ(b.length(), 11u);
    EXPECT_EQ(std::string(static_cast<const char*>(b)), text);
    EXPECT_EQ(fromUtf8("a\xFF" "b"), std::wstring(L"a\xFFFD" L"b"));
    EXPECT_EQ(fromUtf8("\xC3"), std::wstring(L"\xFFFD"));
    _bstr_t copy = b;
    copy += " x";
    EXPECT_EQ(std::string(static_cast<const char*>(b)), text);  // the original is untouched
    EXPECT_TRUE(_bstr_t() == _bstr_t(""));
    BSTR raw = SysAllocString(L"abc");
    EXPECT_EQ(SysStringLen(raw), 3u);
    SysFreeString(raw);
}

// S-57 text by the lexical level of its field, both ways.
struct LexicalCase {
    const char* name;
    int level;
    std::string file;    // the field's bytes
    std::string utf8;    // what the converter holds
    std::string back;    // what writing the UTF-8 gives
    std::u32string unheld;
};
const LexicalCase kLexical[] = {
    {"Level1DegreeAndUmlaut", 1, "090\xB0 D\xFCmpling", "090\xC2\xB0 D\xC3\xBCmpling", "090\xB0 D\xFCmpling", U""},
    {"Level0ReadAsLatin1", 0, "\xE9t\xE9", "\xC3\xA9t\xC3\xA9", "\xE9t\xE9", U""},
    {"Level1KeepsNulAndControls", 1, std::string("a\0\xFF", 3), std::string("a\0\xC3\xBF", 4),
     std::string("a\0\xFF", 3), U""},
    {"Level2Cyrillic", 2, std::string("\x1C\x04\x30\x04\x4F\x04\x3A\x04", 8), "\xD0\x9C\xD0\xB0\xD1\x8F\xD0\xBA",
     std::string("\x1C\x04\x30\x04\x4F\x04\x3A\x04", 8), U""},
    {"Level2SurrogatePair", 2, std::string("\x3D\xD8\x00\xDE", 4), "\xF0\x9F\x98\x80",
     std::string("\x3D\xD8\x00\xDE", 4), U""},
    {"Level2LoneSurrogateAndOddByte", 2, std::string("\x00\xD8" "a", 3), "\xED\xA0\x80" "a", std::string("\x00\xD8" "a\0", 4), U""},
    {"Level2Empty", 2, "", "", "", U""},
};

class LexicalText : public ::testing::TestWithParam<LexicalCase> {};

TEST_P(LexicalText, ToUtf8AndBack) {
    const LexicalCase& c = GetParam();
    EXPECT_EQ(lexicalToUtf8(c.file, c.level), c.utf8);
    std::u32string unheld;
    EXPECT_EQ(utf8ToLexical(c.utf8, c.level, &unheld), c.back);
    EXPECT_EQ(unheld, c.unheld);
}

INSTANTIATE_TEST_SUITE_P(Strings, LexicalText, ::testing::ValuesIn(kLexical),
                         [](const auto& i) { return std::string(i.param.name); });

// Writing 8-bit text: what ISO 8859-1 cannot hold is a '?' and reported; bytes that are no UTF-8
// (text that is 8-bit already) pass as the characters they code; UCS-2 holds everything.
TEST(LexicalText, WhatALevelCannotHoldIsReported) {
    std::u32string unheld;
    EXPECT_EQ(utf8ToLexical("\xE2\x82\xAC 5 \xE7\x81\xAF\xC3\xA9", 1, &unheld), "? 5 ?\xE9");
    EXPECT_EQ(unheld, U"\u20AC\u706F");
    unheld.clear();
    EXPECT_EQ(utf8ToLexical("\xE9t\xC3", 0, &unheld), "\xE9t\xC3");
    EXPECT_EQ(utf8ToLexical("\xE2\x82\xAC", 2, &unheld), std::string("\xAC\x20", 2));
    EXPECT_TRUE(unheld.empty());
    EXPECT_EQ(utf8ToLexical("\xE2\x82\xAC", 1), "?");
}

struct Conversion {
    const char* name;
    _variant_t from;
    VARTYPE to;
    HRESULT hr;
    double number;       // expected numeric value when hr is S_OK and to is numeric
    const char* text;    // expected text when to is VT_BSTR
};

class VariantConversion : public ::testing::TestWithParam<Conversion> {};

TEST_P(VariantConversion, ChangesTypeOrRefuses) {
    const auto& c = GetParam();
    _variant_t out;
    HRESULT hr = VariantChangeType(&out, &c.from, 0, c.to);
    ASSERT_EQ(hr, c.hr);
    if (FAILED(hr)) return;
    ASSERT_EQ(out.vt, c.to);
    if (c.to == VT_BSTR) {
        EXPECT_EQ(std::string(static_cast<const char*>(_bstr_t(out.bstrVal, true))), c.text);
    } else if (c.to != VT_NULL && c.to != VT_EMPTY) {
        EXPECT_DOUBLE_EQ(double(out), c.number);
    }
}

const Conversion kConversions[] = {
    {"TextToLong", _variant_t("42"), VT_I4, S_OK, 42, ""},
    {"TextWithBlanksToLong", _variant_t(" -7 "), VT_I4, S_OK, -7, ""},
    {"TextToDouble", _variant_t("-12.5"), VT_R8, S_OK, -12.5, ""},
    {"RealTextToLongRounds", _variant_t("2.6"), VT_I4, S_OK, 3, ""},
    {"GarbageToLong", _variant_t("12a"), VT_I4, DISP_E_TYPEMISMATCH, 0, ""},
    {"BigToShort", _variant_t(70000L), VT_I2, DISP_E_OVERFLOW, 0, ""},
    {"BigTextToLong", _variant_t("99999999999"), VT_I4, DISP_E_OVERFLOW, 0, ""},
    {"TwoToThe63ToLongLong", _variant_t(9223372036854775808.0), VT_I8, DISP_E_OVERFLOW, 0, ""},
    {"MinusTwoToThe63ToLongLong", _variant_t(-9223372036854775808.0), VT_I8, S_OK, -9223372036854775808.0, ""},
    {"LongToText", _variant_t(1810L), VT_BSTR, S_OK, 0, "1810"},
    {"DoubleToText", _variant_t(0.1), VT_BSTR, S_OK, 0, "0.1"},
    {"NullToLong", [] { _variant_t v; v.vt = VT_NULL; return v; }(), VT_I4, DISP_E_TYPEMISMATCH, 0, ""},
    {"EmptyToLong", _variant_t(), VT_I4, S_OK, 0, ""},
    {"EmptyText", _variant_t(""), VT_R8, S_OK, 0, ""},
};
INSTANTIATE_TEST_SUITE_P(Variants, VariantConversion, ::testing::ValuesIn(kConversions),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(Variants, CopiesOwnTheirText) {
    _variant_t a("chart");
    _variant_t b = a;
    a = _variant_t(5L);
    EXPECT_EQ(b.vt, VT_BSTR);
    EXPECT_STREQ(static_cast<const char*>(_bstr_t(b)), "chart");
    EXPECT_EQ(long(a), 5);
    EXPECT_THROW((void)long(_variant_t("x")), _com_error);
}

TEST(ModulePath, FindsTheLibraryOfAnAddress) {
    char path[4096];
    DWORD n = GetModuleFileNameA(reinterpret_cast<HMODULE>(&SysAllocString), path, sizeof path);
    ASSERT_GT(n, 0u);
    EXPECT_NE(std::string(path).find("libplatform.so"), std::string::npos) << path;
    char tiny[4];
    EXPECT_EQ(GetModuleFileNameA(nullptr, tiny, sizeof tiny), 3u);
    EXPECT_EQ(tiny[3], '\0');
}

}  // namespace
