// platform/ui/gdi.h: image handles (bitmaps, icons) as counted objects. Nothing is drawn; a handle
// names its resource and is counted while alive, so that a leaked or doubly deleted image shows.
#pragma once

#include "platform/com/basetypes.h"

struct GdiObject;
using HGDIOBJ = GdiObject*;
using HBITMAP = GdiObject*;
using HICON = GdiObject*;

// Frees a bitmap; FALSE for null or a handle that is not alive.
BOOL DeleteObject(HGDIOBJ object);
BOOL DestroyIcon(HICON icon);

namespace ui {

enum class GdiKind { Bitmap, Icon };

// A new handle of a module's image resource (a module's LoadBitmap / LoadIcon make them).
HGDIOBJ createGdiObject(GdiKind kind, int resourceId);
// The resource id of a live handle, 0 for any other value.
int gdiResourceId(HGDIOBJ object);
// Handles alive now, of all kinds.
int liveGdiObjects();
// A live handle as the 32-bit number interfaces pass (ICommand's Bitmap), and back; 0 / null for
// anything else.
LONG gdiHandleValue(HGDIOBJ object);
HGDIOBJ gdiObjectOf(LONG value);

}  // namespace ui
