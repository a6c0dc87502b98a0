// s57/dimml_lookups.cpp: the product-mapping lookups of module dimml: S-57 class and primitive to
// geodatabase class and subtype, S-57 attribute of a mapped class to geodatabase field.
// Failures are results; anything thrown inside is logged as "Error: dimml::<function>" and gives
// E_FAIL.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string_view>

#include "platform/com/com.h"
#include "s57/dimml.h"
#include "s57/lookups.h"
#include "s57/s57_util2.h"
#include "s57/table_text.h"

namespace {

constexpr char kModule[] = "dimml";
constexpr int kNoMapping = -13;
constexpr int kIllegal = -19;

void logFailure(const char* function, const char* description) {
    if (logFile) std::fprintf(logFile, "Error: %s::%s\n%s\n", kModule, function, description);
}

// Runs a lookup body; what it throws is logged under the function's name and becomes E_FAIL.
template <class F>
int mappingGuard(const char* function, F&& body) noexcept {
    try {
        return body();
    } catch (const _com_error& e) {
        try {
            _bstr_t description = e.Description();
            logFailure(function, description.narrow());
        } catch (...) {
            logFailure(function, e.ErrorMessage());
        }
    } catch (const std::exception& e) {
        logFailure(function, e.what());
    } catch (...) {
        logFailure(function, "unexpected exception");
    }
    return static_cast<int>(E_FAIL);
}

int32_t objectMapTotal() { return objectMaps ? std::max<int32_t>(objectMapCount, 0) : 0; }
int32_t attributeMapTotal() { return attributeMaps ? std::max<int32_t>(attributeMapCount, 0) : 0; }

}  // namespace

int checkFeatureClassName(std::string& className, std::string& subtype, const char* acronym,
                          const char* type) {
    return mappingGuard("checkFeatureClassName", [&]() -> int {
        className.clear();
        subtype.clear();
        if (!acronym || !type) return kIllegal;
        const int32_t n = objectMapTotal();
        for (int32_t i = 0; i < n; ++i) {
            const ObjectMapRec& map = objectMaps[i];
            if (equalsNoCase(fieldText(map.s57Name), acronym) && equalsNoCase(fieldText(map.type), type)) {
                className = fieldText(map.gdbName);
                subtype = fieldText(map.subtype);
                return 0;
            }
        }
        return kNoMapping;
    });
}

int checkFeatureAttributeName(std::string& fieldName, const char* acronym, const char* type,
                              const char* attribute) {
    return mappingGuard("checkFeatureAttributeName", [&]() -> int {
        fieldName.clear();
        if (!acronym || !type || !attribute) return kIllegal;
        const int32_t n = attributeMapTotal();
        for (int32_t i = 0; i < n; ++i) {
            const AttributeMapRec& map = attributeMaps[i];
            if (equalsNoCase(fieldText(map.objectName), acronym) &&
                equalsNoCase(fieldText(map.objectType), type) &&
                equalsNoCase(fieldText(map.s57Name), attribute)) {
                fieldName = fieldText(map.gdbName);
                return 0;
            }
        }
        return kNoMapping;
    });
}
