// export/exprecord.cpp: building and writing the data records of an exported cell (see exprecord.h).

#include "export/exprecord.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "s57/field_utils.h"
#include "s57/s57_codec.h"
#include "s57/s57_util2.h"

namespace {

void freeSubfields(Iso8211Field& f) {
    if (f.subFields) {
        for (int i = 0; i < f.subfieldCount; ++i) Free8211Value(f.subFields[i].value);
        Free8211Value(f.subFields);
    }
    f.subFields = nullptr;
    f.subfieldCount = 0;
}

struct FreeDeleter {
    void operator()(char* p) const noexcept { std::free(p); }
};

// Gives the field its tag and n zeroed subfields, freeing what it held. 0; -1 out of memory (the
// field left without subfields).
int32_t beginField(Iso8211Field& field, const char* tag, std::size_t n) {
    freeSubfields(field);
    std::snprintf(field.tag, sizeof field.tag, "%s", tag);
    if (n == 0) return 0;
    field.subFields = static_cast<Iso8211SubField*>(std::calloc(n, sizeof(Iso8211SubField)));
    if (!field.subFields) return -1;
    field.subfieldCount = int32_t(n);
    return 0;
}

}  // namespace

FieldSet::FieldSet(int count) : fields_(std::size_t(count > 0 ? count : 0)), kept_(fields_.size()) {
    for (Iso8211Field& f : fields_) initializeField(&f);
}

FieldSet::~FieldSet() {
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (!kept(i)) freeSubfields(fields_[i]);
}

bool FieldSet::kept(std::size_t i) const {
    return fields_[i].subFields && fields_[i].subFields == kept_[i].subfields.data();
}

int32_t FieldSet::setCoordinates(int i, const char* tag, const char* const* labels, int perPoint,
                                 const std::vector<int32_t>& values) {
    if (i < 0 || std::size_t(i) >= fields_.size() || !tag || !labels || perPoint < 1) return -19;
    Iso8211Field& field = fields_[std::size_t(i)];
    if (!kept(std::size_t(i))) freeSubfields(field);
    initializeField(&field);
    std::snprintf(field.tag, sizeof field.tag, "%s", tag);
    if (values.empty()) return 0;
    try {
        Kept& k = kept_[std::size_t(i)];
        k.subfields.assign(values.size(), Iso8211SubField{});
        k.bytes.assign(values.size() * 5, '\0');
        // Each label's subfield made once, copied for every value.
        std::vector<Iso8211SubField> first(std::size_t(perPoint), Iso8211SubField{});
        for (std::size_t j = 0; j < first.size(); ++j) {
            std::memcpy(first[j].label, labels[j], strnlen(labels[j], sizeof first[j].label - 1));
            std::memcpy(first[j].format, "L24", 3);  // b24 as the library reports it
            first[j].length = 4;
        }
        for (std::size_t j = 0; j < values.size(); ++j) {
            Iso8211SubField& sub = k.subfields[j];
            sub = first[j % first.size()];
            char* bytes = k.bytes.data() + 5 * j;  // four bytes and a NUL, as fillCoordinateField keeps them
            const auto v = static_cast<uint32_t>(values[j]);
            for (int b = 0; b < 4; ++b) bytes[b] = char((v >> (8 * b)) & 0xFFu);
            sub.value = bytes;
        }
        field.subFields = k.subfields.data();
        field.subfieldCount = int32_t(values.size());
        return 0;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

int32_t fillField(Iso8211Field* field, const char* tag,
                  const std::vector<std::pair<const char*, std::string>>& subfields) {
    if (!field || !tag) return -19;
    if (beginField(*field, tag, subfields.size()) != 0) return -1;
    for (std::size_t i = 0; i < subfields.size(); ++i) {
        if (updateSubfield(field, subfields[i].first, subfields[i].second.c_str(), int(i)) != 0) {
            freeSubfields(*field);
            return -1;
        }
    }
    return 0;
}

int32_t fillCoordinateField(Iso8211Field* field, const char* tag, const char* const* labels, int perPoint,
                            const std::vector<int32_t>& values) {
    if (!field || !tag || !labels || perPoint < 1) return -19;
    if (beginField(*field, tag, values.size()) != 0) return -1;
    for (std::size_t i = 0; i < values.size(); ++i) {
        Iso8211SubField& s = field->subFields[i];
        char* bytes = static_cast<char*>(std::malloc(5));
        if (!bytes) {
            freeSubfields(*field);
            return -1;
        }
        const auto v = static_cast<uint32_t>(values[i]);
        for (int b = 0; b < 4; ++b) bytes[b] = char((v >> (8 * b)) & 0xFFu);  // little-endian, as b24 stores it
        bytes[4] = '\0';
        const char* label = labels[i % std::size_t(perPoint)];
        std::memcpy(s.label, label, strnlen(label, sizeof s.label - 1));
        std::memcpy(s.format, "L24", 3);  // b24 as the library reports it: prepared, the preparation leaves it
        s.value = bytes;
        s.length = 4;
    }
    return 0;
}

std::string recordIdentifier(const Iso8211File* file) {
    char text[8];
    std::snprintf(text, sizeof text, "%05u", unsigned(file ? uint32_t(file->recordNo) & 0xFFFFu : 0u));
    return text;
}

int32_t writeDataRecord(Iso8211File* file, FieldSet& fields, const RecordLogTexts& texts) {
    if (!file) return -19;
    int used = 0;
    for (const Iso8211Field& f : fields.fields_)
        if (f.subfieldCount > 0) ++used;

    RecordHolder holder;
    if (allocateFieldArray(&holder.record, used + 1) != 0) {
        logLine("%s", texts.allocate);
        return -1;
    }
    std::unique_ptr<char, FreeDeleter> counter(iota(uint32_t(file->recordNo) & 0xFFFFu));
    if (!counter) {
        logLine("%s", texts.counter);
        return -1;
    }
    char* padded = nullptr;
    int rc = prependZero(counter.get(), 5, &padded);
    std::unique_ptr<char, FreeDeleter> recordId(padded);
    if (rc != 0) {
        logLine("%s", texts.padding);
        return rc;
    }
    rc = WriteIso8211Field0001(&holder.record.fields[0], 1, recordId.get());
    if (rc != 0) {
        logLine(texts.field0001, int(file->recordNo));
        return rc;
    }
    // The fields whose subfields the set keeps leave the record again before it is freed.
    struct Detach {
        Iso8211Record& record;
        const FieldSet& set;
        ~Detach() {
            for (int k = 0; k < record.fieldCount; ++k)
                for (std::size_t i = 0; i < set.fields_.size(); ++i)
                    if (set.kept(i) && record.fields[k].subFields == set.fields_[i].subFields)
                        initializeField(&record.fields[k]);
        }
    } detach{holder.record, fields};
    int at = 1;
    for (std::size_t i = 0; i < fields.fields_.size(); ++i) {
        Iso8211Field& f = fields.fields_[i];
        if (f.subfieldCount <= 0) continue;
        shallowCopyField(&holder.record.fields[at++], &f);
        if (!fields.kept(i)) initializeField(&f);  // the record owns the subfields now
    }
    rc = prepareBuiltRecord(&holder.record);
    if (rc != 0) {
        logLine(texts.translate, int(file->recordNo));
        return rc;
    }
    rc = Write8211Record(file, &holder.record);
    if (rc != 0) {
        logLine(texts.write, int(file->recordNo));
        return rc;
    }
    return 0;
}
