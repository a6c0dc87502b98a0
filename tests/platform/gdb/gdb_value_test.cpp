// tests/platform/gdb/gdb_value_test.cpp: a value put into a column, converted into a row buffer's
// value that held another before (its storage reused): the same value as converted afresh, and a
// refused value leaves the buffer's value as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/com/com_error.h"
#include "platform/gdb/gdb_value.h"

namespace {

using gdb::Val;

// The column and the value put into it.
struct Put {
    esriFieldType type;
    LONG length;
    bool nullable;
    enum { Text, Long, Double, Empty } kind;
    const wchar_t* text = nullptr;
    double number = 0;

    gdb::FieldSpec field() const { return gdb::FieldSpec{"COLUMN", type, length, nullable}; }
    _variant_t value() const {
        switch (kind) {
            case Text: return _variant_t(text);
            case Long: return _variant_t(long(number));
            case Double: return _variant_t(number);
            case Empty: break;
        }
        return _variant_t();
    }
};

Put text(esriFieldType type, LONG length, const wchar_t* t, bool nullable = true) {
    return Put{type, length, nullable, Put::Text, t, 0};
}
Put number(esriFieldType type, LONG length, double n) { return Put{type, length, true, Put::Double, nullptr, n}; }
Put whole(esriFieldType type, LONG length, long n) { return Put{type, length, true, Put::Long, nullptr, double(n)}; }
Put empty(esriFieldType type, bool nullable) { return Put{type, 10, nullable, Put::Empty, nullptr, 0}; }

// What the buffer's value held before: a text longer than any below, so that its storage is
// kept, and numbers beside it, so that a stale field shows.
Val previous() { return Val{Val::Text, 7, 2.5, std::string(80, 'x')}; }

struct ConvertCase {
    const char* name;
    Put put;
    Val::Kind kind;
    std::int64_t i;
    double d;
    const char* s;
};

constexpr esriFieldType kText = esriFieldTypeString, kInt = esriFieldTypeInteger, kDouble = esriFieldTypeDouble;

const ConvertCase kConvertCases[] = {
    {"AsciiText", text(kText, 10, L"Harbour"), Val::Text, 0, 0, "Harbour"},
    {"TextAtItsLength", text(kText, 3, L"abc"), Val::Text, 0, 0, "abc"},
    {"NonAsciiTextCountsCharacters", text(kText, 3, L"\u00c4r\u00f8"), Val::Text, 0, 0, "\u00c4r\u00f8"},
    {"EmptyText", text(kText, 10, L""), Val::Text, 0, 0, ""},
    {"NumberIntoText", whole(kText, 10, 12), Val::Text, 0, 0, "12"},
    {"NullIntoText", empty(kText, true), Val::Null, 0, 0, ""},
    {"IntegerFromPaddedText", text(kInt, 4, L" +12000 "), Val::Int, 12000, 0, ""},
    {"IntegerFromWholeDecimal", text(kInt, 4, L"3.0"), Val::Int, 3, 0, ""},
    {"BlankTextIntoIntegerIsNull", text(kInt, 4, L" \t "), Val::Null, 0, 0, ""},
    {"IntegerFromLongPaddedText",
     text(kInt, 4, L"                                                                      7"), Val::Int, 7, 0, ""},
    {"DoubleFromText", text(kDouble, 8, L"-1.25"), Val::Real, 0, -1.25, ""},
    {"DoubleFromNumber", number(kDouble, 8, 0.1), Val::Real, 0, 0.1, ""},
};

class ConvertInto : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertInto, GivesWhatAFreshConversionGives) {
    const ConvertCase& c = GetParam();
    const Val expected{c.kind, c.i, c.d, c.s};
    EXPECT_EQ(gdb::convertIn(c.put.field(), c.put.value()), expected);
    Val reused = previous();
    gdb::convertInto(c.put.field(), c.put.value(), reused);
    EXPECT_EQ(reused, expected);
}

INSTANTIATE_TEST_SUITE_P(Values, ConvertInto, ::testing::ValuesIn(kConvertCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct RefusedCase {
    const char* name;
    Put put;
    HRESULT error;
};

const RefusedCase kRefusedCases[] = {
    {"AsciiTextTooLong", text(kText, 3, L"abcd"), DISP_E_OVERFLOW},
    {"NonAsciiTextTooLong", text(kText, 2, L"\u00c4r\u00f8"), DISP_E_OVERFLOW},
    {"NumberTooLongForText", whole(kText, 2, 12345), DISP_E_OVERFLOW},
    {"NullIntoNotNull", empty(kText, false), DISP_E_TYPEMISMATCH},
    {"FractionIntoInteger", text(kInt, 4, L"1.5"), DISP_E_OVERFLOW},
    {"SmallIntegerOutOfRange", text(esriFieldTypeSmallInteger, 2, L"40000"), DISP_E_OVERFLOW},
    {"WordIntoDouble", text(kDouble, 8, L"deep"), DISP_E_TYPEMISMATCH},
    {"NonAsciiIntoInteger", text(kInt, 4, L"1\u00b2"), DISP_E_TYPEMISMATCH},
};

class ConvertIntoRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(ConvertIntoRefused, LeavesTheValueAsItWas) {
    const RefusedCase& c = GetParam();
    Val reused = previous();
    try {
        gdb::convertInto(c.put.field(), c.put.value(), reused);
        ADD_FAILURE() << "accepted";
    } catch (const _com_error& e) {
        EXPECT_EQ(e.Error(), c.error);
    }
    EXPECT_EQ(reused, previous());
}

INSTANTIATE_TEST_SUITE_P(Values, ConvertIntoRefused, ::testing::ValuesIn(kRefusedCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
