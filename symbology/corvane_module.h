// symbology/corvane_module.h: the add-in's module object; every object it serves holds a lock on it,
// so that the host does not unload the library under a live object.
#pragma once

#include "platform/com/module.h"

namespace corvane {

ComModule& corvaneModule();

}  // namespace corvane
