// tests/s57/kept_records_test.cpp: the records the record list keeps for the importers come out as
// the record layer would read them again, once each, and never for a file other than their own.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "s57/dimml.h"
#include "s57/record_list.h"
#include "s57/s57_file.h"
#include "support/test_data.h"

namespace {

HRESULT loadCatalogueQuietly() {
    std::fflush(stdout);
    const int saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    const HRESULT hr = loadDIMEInfoFrom((std::string(TARVO_BINARY_DIR) + "/lib").c_str());
    std::fflush(stdout);
    dup2(saved, 1);
    close(null);
    close(saved);
    return hr;
}

std::string describe(const Iso8211Record& r) {
    std::string out;
    for (int f = 0; f < r.fieldCount; ++f) {
        out += r.fields[f].tag;
        out += '{';
        for (int s = 0; s < r.fields[f].subfieldCount; ++s) {
            const Iso8211SubField& sf = r.fields[f].subFields[s];
            out += std::string(sf.label) + "=" + std::string(sf.value ? sf.value : "", std::size_t(sf.length)) + ";";
        }
        out += '}';
    }
    return out;
}

struct Opened {
    Iso8211File file{};
    llist* list = nullptr;
    ~Opened() {
        if (list) llist_destroy(list);
        if (file.fp) (void)Close8211File(&file);
    }
};

// Each record's image read straight from the file by a second handle.
std::string direct(const std::string& path, int ordinal) {
    Iso8211File file{};
    if (Read8211File(&file, path.c_str()) != 0) return "unreadable";
    Iso8211Record r{};
    std::string out = Read8211Record(&file, ordinal, &r) == 0 ? describe(r) : "no record";
    (void)Free8211Record(&r);
    (void)Close8211File(&file);
    return out;
}

class KeptRecords : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(loadCatalogueQuietly(), S_OK); }
    void SetUp() override { SKIP_WITHOUT_DATA(); }
    void TearDown() override { releaseObjectRecords(); }
};

TEST_F(KeptRecords, EveryRecordInAnyOrderAndAgainEqualsTheFile) {
    const std::string path = testdata::path("enc/US5MA12M/US5MA12M.000");
    Opened cell;
    ASSERT_EQ(loadObjectRecList(&cell.file, path.c_str(), &cell.list), 0);
    const int count = cell.file.recordCount;
    ASSERT_GT(count, 10);
    // Backwards (the importers go by class, not file order), then each once more from the file.
    for (int pass = 0; pass < 2; ++pass) {
        for (int r = count; r >= 1; --r) {
            Iso8211Record got{};
            ASSERT_EQ(readObjectRecord(&cell.file, r, &got), 0) << "record " << r << " pass " << pass;
            const std::string text = describe(got);
            (void)Free8211Record(&got);
            if (r % 97 == 0 || r == 1 || r == count) {
                EXPECT_EQ(text, direct(path, r)) << "record " << r;
            }
        }
    }
}

TEST_F(KeptRecords, AnotherFileNeverGetsTheKeptRecords) {
    const std::string first = testdata::path("enc/US5MA12M/US5MA12M.000");
    const std::string second = testdata::path("enc/US4CN21M/US4CN21M.000");
    Opened a;
    ASSERT_EQ(loadObjectRecList(&a.file, first.c_str(), &a.list), 0);
    // The same handle reopened on another cell by the record layer alone.
    ASSERT_EQ(Close8211File(&a.file), 0);
    ASSERT_EQ(Read8211File(&a.file, second.c_str()), 0);
    Iso8211Record got{};
    ASSERT_EQ(readObjectRecord(&a.file, 2, &got), 0);
    EXPECT_EQ(describe(got), direct(second, 2));
    (void)Free8211Record(&got);

    // A failed list keeps nothing of the one before.
    Opened b;
    ASSERT_EQ(loadObjectRecList(&b.file, first.c_str(), &b.list), 0);
    ASSERT_EQ(Close8211File(&b.file), 0);
    llist_destroy(b.list);
    b.list = nullptr;
    EXPECT_NE(loadObjectRecList(&b.file, "/nonexistent/X.000", &b.list), 0);
    EXPECT_NE(readObjectRecord(&b.file, 1, &got), 0);
    (void)Free8211Record(&got);
}

}  // namespace
