// platform/host/layer_file.h: layer files (".lyr"), small XML files of our own:
//   <LayerFile><FeatureLayer name="DepthAreaFeature"><ClassBreaksRenderer ...>...</FeatureLayer></LayerFile>
// A <LayerFile> without a <FeatureLayer> holds no layer. The renderer elements are those of
// platform/host/renderer.h. The layer-file object ("Host.LayerFile", CLSID_LayerFile) opens one.
#pragma once

#include <string>

#include "platform/host/renderer.h"

namespace host {

// Writes a layer file holding one feature layer with that renderer; throws _com_error.
void writeLayerFile(const std::string& path, const std::string& layerName, const RendererSpec& renderer);

}  // namespace host
