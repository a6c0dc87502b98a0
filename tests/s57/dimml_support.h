// tests/s57/dimml_support.h: a scratch directory for catalogue files, the log captured in memory,
// and the scripted message boxes, shared by the catalogue loader tests.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/ui/ui.h"
#include "s57/dimml.h"
#include "s57/s57_util2.h"

namespace dimmltest {

class CatalogueFixture : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        dir_ = std::filesystem::temp_directory_path() /
               ("dimml_test_" + std::to_string(getpid()) + "_" + std::to_string(++serial));
        std::filesystem::create_directories(dir_);
        ui::setForm(ui::Form::Scripted);
        ui::scripted::reset();
        log_ = std::tmpfile();
        ASSERT_NE(log_, nullptr);
        savedLog_ = logFile;
        logFile = log_;
        releaseDIMEInfo();
    }
    void TearDown() override {
        releaseDIMEInfo();
        logFile = savedLog_;
        std::fclose(log_);
        std::filesystem::remove_all(dir_);
    }

    void write(const std::string& name, const std::string& text) {
        const std::filesystem::path p = dir_ / name;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
    }
    std::string dir() const { return dir_.string(); }

    std::string logText() {
        std::fflush(log_);
        std::rewind(log_);
        std::string out;
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, log_)) > 0) out.append(buf, n);
        return out;
    }

    // The boxes shown so far, as "caption|text" lines.
    static std::string boxes() {
        std::string out;
        for (const auto& e : ui::scripted::events())
            if (e.kind == ui::Event::Kind::Message) out += e.caption + "|" + e.text + "\n";
        return out;
    }

private:
    std::filesystem::path dir_;
    FILE* log_ = nullptr;
    FILE* savedLog_ = nullptr;
};

// A minimal product.xml with one mapped class.
inline const char kSmallProduct[] =
    "<PRODUCT><OBJECTMAP><S57OBJECT name='SOUNDG' code='129' type='P'/>"
    "<GDBOBJECT name='SoundingFeature' subtype='SOUNDG'/>"
    "<ATTRIBUTEMAP><S57ATTRIBUTE name='QUASOU' code='125' set='A' qc='0'/>"
    "<GDBATTRIBUTE name='QUASOU'/></ATTRIBUTEMAP></OBJECTMAP></PRODUCT>";

// A minimal s57.xml: two agencies, two classes, two attributes, three pairs.
inline const char kSmallCatalogue[] =
    "<S57CATALOGUE><AGENCY name='AA' code='1810'/><AGENCY name='FR' code='250'/>"
    "<S57OBJECT code='1' acronym='ADMARE' desc='Administration area (Named)'/>"
    "<S57OBJECT code='129' acronym='SOUNDG' desc='Sounding'/>"
    "<S57ATTRIBUTE code='116' acronym='OBJNAM' type='S'/>"
    "<S57ATTRIBUTE code='125' acronym='QUASOU' type='L'/>"
    "<S57SET object='1' attr='116' set='A'/><S57SET object='129' attr='125' set='A'/>"
    "<S57SET object='129' attr='116' set='B'/></S57CATALOGUE>";

// What data/s57.xml holds beyond the built-in tables: the Edition 3.1 classes (with the number of
// their pairs) and attributes.
struct AddedClass {
    int32_t code;
    const char* acronym;
    int pairs;
};
inline const AddedClass kAddedClasses[] = {{161, "ARCSLN", 16}, {162, "ASLXIS", 16}, {163, "NEWOBJ", 29}};
struct AddedAttribute {
    int32_t code;
    const char* acronym;
};
inline const AddedAttribute kAddedAttributes[] = {{190, "CLSDEF"}, {191, "CLSNAM"}, {192, "SYMINS"}};

inline bool isAddedClass(int32_t code) {
    for (const auto& c : kAddedClasses)
        if (c.code == code) return true;
    return false;
}
inline bool isAddedAttribute(int32_t code) {
    for (const auto& a : kAddedAttributes)
        if (a.code == code) return true;
    return false;
}

}  // namespace dimmltest
