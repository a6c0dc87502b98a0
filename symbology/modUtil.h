// symbology/modUtil.h: what "Apply S-57 Symbology" does to the focus map: empty feature layers go,
// each feature layer takes the renderer of its layer file under S57DIR, the view shows the
// coastline layer's extent and the soundings are labelled with their depth. No handler of its own:
// an error ends the run and reaches the calling class procedure.
#pragma once

#include <string>

#include "platform/host/host.h"

namespace corvane {

inline constexpr char kProgressCaption[] = "Applying S-57 Symbology";
inline constexpr char kRemovingNotice[] = "No features found: Removing ";
inline constexpr char kNoSourceNotice[] = "Data source not found: Keeping ";
inline constexpr char kBadLayerFileNotice[] = "Layer file not used: ";
inline constexpr char kCoastlineLayer[] = "CoastlineAreaFeature";
inline constexpr char kSoundingLayer[] = "SoundingFeature";
inline constexpr char kDepthExpression[] = "[Depth]";

void ApplySymbology(IApplication* app);

// The renderer of the layer the file holds; null when it holds none. A file that is no layer file
// raises HOST_E_BAD_LAYER_FILE with the reason.
IFeatureRendererPtr LoadLayerFileRenderer(const std::string& path);

// Gives the layer the renderer (nothing for null). A renderer that draws by a field the layer's
// class lacks raises HOST_E_BAD_LAYER_FILE and leaves the layer as it was.
void ApplyRenderer(IFeatureLayer* layer, IFeatureRenderer* renderer);

void LabelSoundings(ILayer* layer);

// S57DIR, "layers\" (after "\" or "/") or "\layers\", the layer's name, ".lyr".
std::string LayerFilePath(const std::string& layerName);

}  // namespace corvane
