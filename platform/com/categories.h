// platform/com/categories.h: component categories: which classes implement a category, kept in the
// registry under HKCR\CLSID\{clsid}\Implemented Categories\{catid}. A host finds the commands or
// extensions it may load by asking for the classes of their category.
#pragma once

#include <span>
#include <vector>

#include "platform/com/guid.h"
#include "platform/com/registry.h"

using CATID = GUID;

void registerClassImplCategories(reg::Key& root, REFCLSID clsid, std::span<const CATID> categories);
// Removes the category entries of the class, and its "Implemented Categories" key when that empties it.
void unregisterClassImplCategories(reg::Key& root, REFCLSID clsid, std::span<const CATID> categories);

// The classes of the tree that implement a category, in CLSID order.
std::vector<CLSID> classesImplementing(const reg::Key& root, const CATID& category);
