// tools/gishost/svg_view.h: what the view shows, drawn as SVG: the view's extent (or, when none was
// set, every layer's), each feature layer in map order (the top layer drawn last) with its
// renderer's colours, and the labels of layers that display them.
//
// The root element carries data-extent="xmin ymin xmax ymax" and a viewBox "0 0 W H"; a point
// (x, y) of the map is drawn at ((x - xmin) / (xmax - xmin) * W, (ymax - y) / (ymax - ymin) * H).
// Each layer is a <g id="NAME">; each feature an element with data-oid.
#pragma once

#include <string>

#include "platform/host/map.h"

namespace gishost {

// Writes the SVG; throws _com_error when the file cannot be written.
void writeSvg(const std::string& path, host::Map& map);

}  // namespace gishost
