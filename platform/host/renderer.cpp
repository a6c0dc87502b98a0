// platform/host/renderer.cpp: renderer objects, the symbol of a feature by its value, and the XML
// form of renderers. A malformed renderer element is an error with the element and the reason,
// never a renderer that draws by guesswork.

#include "platform/host/renderer.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include <pugixml.hpp>

namespace host {
namespace {

[[noreturn]] void bad(const std::string& why) {
    setErrorDescription(why);
    throw _com_error(HOST_E_BAD_LAYER_FILE, fromUtf8(why));
}

long parseColour(std::string_view text, std::string_view what) {
    if (text == "none") return -1;
    if (text.size() != 7 || text[0] != '#') bad("bad colour \"" + std::string(text) + "\" for " + std::string(what));
    long v = 0;
    for (char c : text.substr(1)) {
        const int d = com_detail::hexDigit(c);
        if (d < 0) bad("bad colour \"" + std::string(text) + "\" for " + std::string(what));
        v = v * 16 + d;
    }
    return v;
}

double parseNumber(const pugi::xml_node& node, const char* name, double fallback, bool required = false) {
    const pugi::xml_attribute a = node.attribute(name);
    if (!a) {
        if (required) bad(std::string("<") + node.name() + "> has no " + name);
        return fallback;
    }
    const char* text = a.value();
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(v))
        bad(std::string("<") + node.name() + "> " + name + " is not a number: \"" + text + "\"");
    return v;
}

Symbol readSymbol(const pugi::xml_node& parent) {
    const pugi::xml_node s = parent.child("Symbol");
    if (!s) bad(std::string("<") + parent.name() + "> has no <Symbol>");
    Symbol sym;
    if (auto a = s.attribute("fill")) sym.fill = parseColour(a.value(), "fill");
    if (auto a = s.attribute("outline")) sym.outline = parseColour(a.value(), "outline");
    sym.width = parseNumber(s, "width", sym.width);
    sym.size = parseNumber(s, "size", sym.size);
    sym.marker = s.attribute("marker").value();
    static const char* const kMarkers[] = {"", "circle", "square", "triangle", "diamond", "cross"};
    bool known = false;
    for (const char* m : kMarkers) known = known || sym.marker == m;
    if (!known) bad("unknown marker \"" + sym.marker + "\"");
    if (sym.width < 0 || sym.size < 0) bad("negative symbol width or size");
    return sym;
}

void writeSymbol(pugi::xml_node parent, const Symbol& s) {
    pugi::xml_node n = parent.append_child("Symbol");
    n.append_attribute("fill") = colourText(s.fill).c_str();
    n.append_attribute("outline") = colourText(s.outline).c_str();
    n.append_attribute("width") = s.width;
    if (!s.marker.empty()) n.append_attribute("marker") = s.marker.c_str();
    n.append_attribute("size") = s.size;
}

// A field value as text and, where it has one, as a number.
bool numberOf(const VARIANT& v, double& out) {
    switch (v.vt) {
        case VT_I2: out = v.iVal; return true;
        case VT_I4: out = v.lVal; return true;
        case VT_INT: out = v.intVal; return true;
        case VT_I8: out = double(v.llVal); return true;
        case VT_R4: out = v.fltVal; return true;
        case VT_R8: out = v.dblVal; return true;
        case VT_BSTR: {
            const std::string t = toUtf8(v.bstrVal ? std::wstring_view(v.bstrVal, SysStringLen(v.bstrVal))
                                                   : std::wstring_view());
            char* end = nullptr;
            out = std::strtod(t.c_str(), &end);
            return !t.empty() && end && *end == '\0';
        }
        default: return false;
    }
}

std::string textOf(const VARIANT& v) {
    double d = 0;
    if (v.vt == VT_BSTR)
        return toUtf8(v.bstrVal ? std::wstring_view(v.bstrVal, SysStringLen(v.bstrVal)) : std::wstring_view());
    if (!numberOf(v, d)) return {};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", d);
    return buf;
}

}  // namespace

std::string colourText(long rgb) {
    if (rgb < 0) return "none";
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%06lX", rgb & 0xFFFFFF);
    return buf;
}

std::optional<Symbol> RendererSpec::symbolFor(const VARIANT& value) const {
    switch (kind) {
        case RendererKind::Simple:
            return fallback;
        case RendererKind::UniqueValue: {
            if (value.vt != VT_EMPTY && value.vt != VT_NULL) {
                const std::string t = textOf(value);
                double d = 0;
                const bool isNum = numberOf(value, d);
                for (const auto& c : classes) {
                    double cv = 0;
                    char* end = nullptr;
                    cv = std::strtod(c.value.c_str(), &end);
                    const bool classNum = !c.value.empty() && end && *end == '\0';
                    if (c.value == t || (isNum && classNum && cv == d)) return c.symbol;
                }
            }
            return fallback;
        }
        case RendererKind::ClassBreaks: {
            double d = 0;
            if (numberOf(value, d) && d >= minimum) {
                for (const auto& c : classes)
                    if (d <= c.upper) return c.symbol;
            }
            return fallback;
        }
    }
    return fallback;
}

HRESULT FeatureRenderer::raw_CanRender(IFeatureClass* featureClass, VARIANT_BOOL* can) {
    return comGuard([&] {
        if (!can) return E_POINTER;
        *can = VARIANT_TRUE;
        if (!featureClass || spec_.field.empty()) return S_OK;
        LONG index = -1;
        check(featureClass->raw_FindField(_bstr_t(spec_.field.c_str()).GetBSTR(), &index));
        if (index < 0) {
            _bstr_t name;
            if (IDatasetPtr ds = featureClass) name = ds->GetName();
            setErrorDescription("the class " + std::string(name.narrow()) + " has no field " + spec_.field);
            *can = VARIANT_FALSE;
        }
        return S_OK;
    });
}

IFeatureRendererPtr makeRenderer(RendererSpec spec) { return IFeatureRendererPtr(new FeatureRenderer(std::move(spec))); }

const RendererSpec* specOf(IFeatureRenderer* renderer) {
    if (auto* r = dynamic_cast<FeatureRenderer*>(renderer)) return &r->spec();
    return nullptr;
}

RendererSpec defaultRenderer(esriGeometryType shape) {
    RendererSpec spec;
    Symbol s;
    switch (shape) {
        case esriGeometryPoint:
        case esriGeometryMultipoint:
            s = {0x606060, 0x202020, 0.5, "circle", 3};
            break;
        case esriGeometryPolyline:
            s = {-1, 0x606060, 0.5, "", 0};
            break;
        default:
            s = {-1, 0x808080, 0.5, "", 0};
            break;
    }
    spec.fallback = s;
    return spec;
}

void writeRenderer(pugi::xml_node parent, const RendererSpec& spec) {
    const char* tag = spec.kind == RendererKind::Simple        ? "SimpleRenderer"
                      : spec.kind == RendererKind::UniqueValue ? "UniqueValueRenderer"
                                                               : "ClassBreaksRenderer";
    pugi::xml_node n = parent.append_child(tag);
    if (spec.kind == RendererKind::Simple) {
        if (spec.fallback) writeSymbol(n, *spec.fallback);
        return;
    }
    n.append_attribute("field") = spec.field.c_str();
    if (spec.kind == RendererKind::ClassBreaks && std::isfinite(spec.minimum))
        n.append_attribute("minimum") = spec.minimum;
    for (const auto& c : spec.classes) {
        pugi::xml_node e = n.append_child(spec.kind == RendererKind::UniqueValue ? "Value" : "Break");
        if (spec.kind == RendererKind::UniqueValue)
            e.append_attribute("value") = c.value.c_str();
        else
            e.append_attribute("upper") = c.upper;
        if (!c.label.empty()) e.append_attribute("label") = c.label.c_str();
        writeSymbol(e, c.symbol);
    }
    if (spec.fallback) writeSymbol(n.append_child("Default"), *spec.fallback);
}

RendererSpec readRenderer(const pugi::xml_node& node) {
    const std::string_view tag = node.name();
    RendererSpec spec;
    if (tag == "SimpleRenderer") {
        spec.kind = RendererKind::Simple;
        spec.fallback = readSymbol(node);
        return spec;
    }
    if (tag == "UniqueValueRenderer")
        spec.kind = RendererKind::UniqueValue;
    else if (tag == "ClassBreaksRenderer")
        spec.kind = RendererKind::ClassBreaks;
    else
        bad("unknown renderer <" + std::string(tag) + ">");
    spec.field = node.attribute("field").value();
    if (spec.field.empty()) bad("<" + std::string(tag) + "> names no field");
    const bool breaks = spec.kind == RendererKind::ClassBreaks;
    spec.minimum = breaks ? parseNumber(node, "minimum", -HUGE_VAL) : 0;
    double last = spec.minimum;
    for (const pugi::xml_node& e : node.children()) {
        const std::string_view name = e.name();
        if (name == "Default") {
            spec.fallback = readSymbol(e);
            continue;
        }
        if (name != (breaks ? "Break" : "Value")) bad("unexpected <" + std::string(name) + "> in <" + std::string(tag) + ">");
        RendererClass c;
        if (breaks) {
            c.upper = parseNumber(e, "upper", 0, true);
            if (c.upper < last) bad("class breaks out of order at " + std::string(e.attribute("upper").value()));
            last = c.upper;
        } else {
            if (!e.attribute("value")) bad("<Value> has no value");
            c.value = e.attribute("value").value();
        }
        c.label = e.attribute("label").value();
        c.symbol = readSymbol(e);
        spec.classes.push_back(std::move(c));
    }
    if (spec.classes.empty() && !spec.fallback) bad("<" + std::string(tag) + "> has no classes");
    return spec;
}

}  // namespace host
