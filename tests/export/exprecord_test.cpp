// tests/export/exprecord_test.cpp: the shared record writer: the 0001 identifier as its b12 holds
// it past 65 535 and 99 999 records, fields without subfields left out, the fields' ownership
// on a failure, and coordinates handed over as stored values.
#include "export/exprecord.h"

#include <gtest/gtest.h>

#include <string>

#include "core_fixture.h"
#include "export/cell_ddr.h"
#include "support/captured_log.h"

using testsupport::CapturedLog;

namespace {

struct Counter {
    const char* name;
    int32_t recordNo;
    const char* identifier;
};
const Counter kCounters[] = {{"First", 1, "00001"},          {"LastOfSixteenBits", 65535, "65535"},
                             {"Wraps", 65536, "00000"},      {"PastTheWrap", 65537, "00001"},
                             {"PastFiveDigits", 100000, "34464"}};
class RecordIdentifier : public ::testing::TestWithParam<Counter> {};

}  // namespace

TEST_P(RecordIdentifier, IsTheCounterAsB12HoldsIt) {
    Iso8211File file{};
    file.recordNo = GetParam().recordNo;
    EXPECT_EQ(recordIdentifier(&file), GetParam().identifier);
}
INSTANTIATE_TEST_SUITE_P(Counters, RecordIdentifier, ::testing::ValuesIn(kCounters),
                         [](const auto& i) { return std::string(i.param.name); });

// A new cell file of the base-cell template, its log captured.
class WriteDataRecord : public ::testing::Test {
protected:
    coretest::Scratch dir;
    const std::string path = (dir.path() / "CELL.000").string();
    CapturedLog log;
    Iso8211File file{};
    const RecordLogTexts texts = {"a\n", "b\n", "c\n", "d %d\n", "e %d\n", "f %d\n"};
};

TEST_F(WriteDataRecord, LeavesOutFieldsWithoutSubfields) {
    ASSERT_EQ(createObjectFile(path.c_str(), 1, &file, 1), 0);
    FieldSet fields(3);
    ASSERT_EQ(fillField(fields[0], "VRID", {{"RCNM", "VE"}, {"RCID", "42"}, {"RVER", "1"}, {"RUIN", "I"}}), 0);
    ASSERT_EQ(fillField(fields[1], "VRPT", {}), 0);
    ASSERT_EQ(fillField(fields[2], "SG2D", {{"YCOO", "-1"}, {"XCOO", "2"}}), 0);
    ASSERT_EQ(writeDataRecord(&file, fields, texts), 0) << log.text();
    ASSERT_EQ(Close8211File(&file), 0);
    std::vector<coretest::ReadRecord> records;
    ASSERT_EQ(coretest::readBack(path, records), 0);
    ASSERT_EQ(records.size(), 1u);
    ASSERT_EQ(records[0].fields.size(), 3u);
    EXPECT_EQ(records[0].fields[1].tag, "VRID");
    EXPECT_EQ(records[0].fields[1].value("RCID"), "0000000042");
    EXPECT_EQ(records[0].fields[2].tag, "SG2D");
    EXPECT_EQ(records[0].fields[2].value("YCOO"), "-1");
}

TEST_F(WriteDataRecord, AValueTheCodecRefusesIsLoggedWithTheRecordCounter) {
    ASSERT_EQ(createObjectFile(path.c_str(), 1, &file, 1), 0);
    FieldSet fields(1);
    ASSERT_EQ(fillField(fields[0], "VRID", {{"RCNM", "QQ"}, {"RCID", "1"}, {"RVER", "1"}, {"RUIN", "I"}}), 0);
    EXPECT_EQ(writeDataRecord(&file, fields, texts), -10);
    EXPECT_NE(log.text().find("e 1\n"), std::string::npos) << log.text();
    EXPECT_EQ(fields[0]->subfieldCount, 0) << "the record took the field and freed it";
    ASSERT_EQ(Close8211File(&file), 0);
}

// Coordinates filled as stored values, whether the set keeps them or the field owns them, are
// written as the decimal texts are; a kept field goes out in two records of the same set.
TEST_F(WriteDataRecord, StoredCoordinatesAreWrittenAsTheirTexts) {
    ASSERT_EQ(createObjectFile(path.c_str(), 1, &file, 1), 0);
    const char* const plane[] = {"YCOO", "XCOO"};
    const std::vector<int32_t> values = {-1, 2, 2147483647, -2147483647 - 1};
    {
        FieldSet fields(2);
        ASSERT_EQ(fillField(fields[0], "VRID", {{"RCNM", "VE"}, {"RCID", "1"}, {"RVER", "1"}, {"RUIN", "I"}}), 0);
        ASSERT_EQ(fillField(fields[1], "SG2D", {{"YCOO", "-1"}, {"XCOO", "2"}, {"YCOO", "2147483647"},
                                                {"XCOO", "-2147483648"}}),
                  0);
        ASSERT_EQ(writeDataRecord(&file, fields, texts), 0) << log.text();
    }
    {
        FieldSet fields(2);
        ASSERT_EQ(fillField(fields[0], "VRID", {{"RCNM", "VE"}, {"RCID", "2"}, {"RVER", "1"}, {"RUIN", "I"}}), 0);
        ASSERT_EQ(fillCoordinateField(fields[1], "SG2D", plane, 2, values), 0);
        ASSERT_EQ(writeDataRecord(&file, fields, texts), 0) << log.text();
    }
    {
        FieldSet fields(2);
        ASSERT_EQ(fillField(fields[0], "VRID", {{"RCNM", "VE"}, {"RCID", "3"}, {"RVER", "1"}, {"RUIN", "I"}}), 0);
        ASSERT_EQ(fields.setCoordinates(1, "SG2D", plane, 2, values), 0);
        ASSERT_EQ(writeDataRecord(&file, fields, texts), 0) << log.text();
        EXPECT_EQ(fields[1]->subfieldCount, 4) << "the set keeps its coordinates";
        ASSERT_EQ(fillField(fields[0], "VRID", {{"RCNM", "VE"}, {"RCID", "4"}, {"RVER", "1"}, {"RUIN", "I"}}), 0);
        ASSERT_EQ(writeDataRecord(&file, fields, texts), 0) << log.text();
    }
    ASSERT_EQ(Close8211File(&file), 0);
    std::vector<coretest::ReadRecord> records;
    ASSERT_EQ(coretest::readBack(path, records), 0);
    ASSERT_EQ(records.size(), 4u);
    ASSERT_EQ(records[0].fields.size(), 3u);
    EXPECT_EQ(records[0].fields[2].value("XCOO", 1), "-2147483648");
    for (const auto& r : records) {
        ASSERT_EQ(r.fields.size(), 3u);
        EXPECT_EQ(r.fields[2].tag, "SG2D");
        EXPECT_EQ(r.fields[2].subfields, records[0].fields[2].subfields);
    }
}
