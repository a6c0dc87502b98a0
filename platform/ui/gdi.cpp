// platform/ui/gdi.cpp: the table of live image handles.
#include "platform/ui/gdi.h"

#include <cstdint>
#include <map>
#include <mutex>

struct GdiObject {
    ui::GdiKind kind;
    int resourceId;
    LONG serial;
};

namespace {

std::mutex& gdiMutex() {
    static std::mutex m;
    return m;
}
std::map<GdiObject*, bool>& liveObjects() {
    static std::map<GdiObject*, bool> live;
    return live;
}
std::map<LONG, GdiObject*>& bySerial() {
    static std::map<LONG, GdiObject*> serials;
    return serials;
}
LONG lastSerial = 0;

BOOL destroy(HGDIOBJ object, ui::GdiKind kind) {
    std::lock_guard lock(gdiMutex());
    auto it = liveObjects().find(object);
    if (!object || it == liveObjects().end() || object->kind != kind) return FALSE;
    liveObjects().erase(it);
    bySerial().erase(object->serial);
    delete object;
    return TRUE;
}

}  // namespace

BOOL DeleteObject(HGDIOBJ object) { return destroy(object, ui::GdiKind::Bitmap); }
BOOL DestroyIcon(HICON icon) { return destroy(icon, ui::GdiKind::Icon); }

namespace ui {

HGDIOBJ createGdiObject(GdiKind kind, int resourceId) {
    auto* object = new GdiObject{kind, resourceId, 0};
    std::lock_guard lock(gdiMutex());
    // Handle numbers are never 0 and not reused soon; they wrap after two billion images.
    lastSerial = lastSerial == INT32_MAX ? 1 : lastSerial + 1;
    object->serial = lastSerial;
    liveObjects().emplace(object, true);
    bySerial()[object->serial] = object;
    return object;
}

int gdiResourceId(HGDIOBJ object) {
    std::lock_guard lock(gdiMutex());
    return liveObjects().count(object) ? object->resourceId : 0;
}

LONG gdiHandleValue(HGDIOBJ object) {
    std::lock_guard lock(gdiMutex());
    return liveObjects().count(object) ? object->serial : 0;
}

HGDIOBJ gdiObjectOf(LONG value) {
    std::lock_guard lock(gdiMutex());
    auto it = bySerial().find(value);
    return it == bySerial().end() ? nullptr : it->second;
}

int liveGdiObjects() {
    std::lock_guard lock(gdiMutex());
    return int(liveObjects().size());
}

}  // namespace ui
