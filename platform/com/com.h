// platform/com/com.h: the component model the converter and the add-ins are written against:
// result codes, GUIDs, IUnknown, BSTR and VARIANT, _com_error, smart pointers, object creation.
#pragma once

#include "platform/com/basetypes.h"
#include "platform/com/bstr.h"
#include "platform/com/class_registry.h"
#include "platform/com/com_error.h"
#include "platform/com/com_ptr.h"
#include "platform/com/guid.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"
