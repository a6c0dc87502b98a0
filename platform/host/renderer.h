// platform/host/renderer.h: the renderers of feature layers (simple, unique values by a field,
// class breaks by a field) and their symbols, with their XML form, which layer files and map
// documents share. Reading XML throws _com_error(HOST_E_BAD_LAYER_FILE) with the reason.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/host/host.h"

namespace pugi {
class xml_node;
}

namespace host {

// Colours are 0xRRGGBB; a negative colour is none (no fill, or no outline).
struct Symbol {
    long fill = 0xC0C0C0;
    long outline = 0x404040;
    double width = 0.5;          // outline or line width, in points
    std::string marker;          // points: "circle", "square", "triangle", "diamond", "cross"; empty is circle
    double size = 4;             // point marker size, in points

    friend bool operator==(const Symbol&, const Symbol&) = default;
};

enum class RendererKind { Simple, UniqueValue, ClassBreaks };

// One class of a renderer: a value (unique values) or an upper bound (class breaks), a label and
// its symbol.
struct RendererClass {
    std::string value;
    double upper = 0;
    std::string label;
    Symbol symbol;

    friend bool operator==(const RendererClass&, const RendererClass&) = default;
};

struct RendererSpec {
    RendererKind kind = RendererKind::Simple;
    std::string field;             // unique values and class breaks
    double minimum = 0;            // class breaks: the lower bound of the first class
    std::optional<Symbol> fallback;  // simple: the symbol; others: values in no class (none: not drawn)
    std::vector<RendererClass> classes;

    // The symbol of a feature whose field value is `value` (null: no value); none when not drawn.
    std::optional<Symbol> symbolFor(const VARIANT& value) const;

    friend bool operator==(const RendererSpec&, const RendererSpec&) = default;
};

// A renderer object; its description is fixed once made.
class FeatureRenderer : public ComObject<IFeatureRenderer> {
public:
    explicit FeatureRenderer(RendererSpec spec) : spec_(std::move(spec)) {}
    const RendererSpec& spec() const { return spec_; }
    HRESULT raw_CanRender(IFeatureClass* featureClass, VARIANT_BOOL* can) override;

private:
    RendererSpec spec_;
};

IFeatureRendererPtr makeRenderer(RendererSpec spec);
// The description of a host renderer; none for a renderer of another kind (or null).
const RendererSpec* specOf(IFeatureRenderer* renderer);

// The default look of a new layer by its geometry.
RendererSpec defaultRenderer(esriGeometryType shape);

// XML: <SimpleRenderer>, <UniqueValueRenderer field=...>, <ClassBreaksRenderer field=... minimum=...>
// with <Symbol .../>, <Value value= label=>, <Break upper= label=>, <Default>.
void writeRenderer(pugi::xml_node parent, const RendererSpec& spec);
// Reads the renderer element `node` (one of the three); throws on anything else.
RendererSpec readRenderer(const pugi::xml_node& node);

std::string colourText(long rgb);  // "#RRGGBB", "none" for a negative colour

}  // namespace host
