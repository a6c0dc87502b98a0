// symbology/corvane_module.cpp: the add-in's classes, made known to the platform when the library
// is loaded, so that a host creates them by CLSID or ProgID.

#include "symbology/clsExtension.h"
#include "symbology/clsSymCommand.h"

namespace corvane {
namespace {

const ComClassRegistrar registerExtension(CLSID_clsExtension, kExtensionProgId, &createComInstance<clsExtension>);
const ComClassRegistrar registerCommand(CLSID_clsSymCommand, kCommandProgId, &createComInstance<clsSymCommand>);

}  // namespace
}  // namespace corvane
