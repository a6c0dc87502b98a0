// platform/host/map_document.h: the map document, a small XML file of our own:
//   <MapDocument>
//     <Geodatabase path="charts.gpkg" dataset="S57"/>      path relative to the document's folder
//     <View xmin=".." ymin=".." xmax=".." ymax=".."/>      optional
//     <Layers selected="DepthAreaFeature">                 top layer first
//       <FeatureLayer name="DepthAreaFeature" class="DepthAreaFeature">
//         <SimpleRenderer>...</SimpleRenderer>              as in layer files (renderer.h)
//         <Labels display="true"><Label expression="[Depth]"/></Labels>
//       </FeatureLayer>
//     </Layers>
//   </MapDocument>
// Loading fails with HOST_E_BAD_MAP and the reason; a layer whose class is not in the geodatabase
// is loaded without a feature class (a broken data source), as the host shows such layers.
#pragma once

#include <string>

#include "platform/host/application.h"

namespace host {

struct MapSource {
    std::string geodatabase;  // as written in the document
    std::string dataset;
};

// Reads the document into `doc` (a new focus map, the selected layer); returns its source.
MapSource loadMapDocument(const std::string& path, MxDocument& doc);

// Writes the document's map; the geodatabase path is written as `source` has it.
void saveMapDocument(const std::string& path, const MapSource& source, MxDocument& doc);

// A map of every feature class of the feature dataset, in the dataset's order, each with the
// default renderer of its geometry. Returns the number of layers written.
int newMapDocument(const std::string& geodatabase, const std::string& dataset, const std::string& mapPath);

}  // namespace host
