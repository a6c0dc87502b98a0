// tools/gishost/svg_view.cpp: the SVG drawing of the view. Features whose renderer gives no symbol
// are not drawn; a layer without a feature class draws nothing.

#include "tools/gishost/svg_view.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/host/renderer.h"

namespace gishost {
namespace {

constexpr double kWidth = 1000;

struct Frame {
    double xmin, ymin, xmax, ymax, width, height;
    double px(double x) const { return (x - xmin) / (xmax - xmin) * width; }
    double py(double y) const { return (ymax - y) / (ymax - ymin) * height; }
};

std::string num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}

// Every digit a double holds: the frame must be read back as it was drawn.
std::string exact(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

std::string escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string colour(long rgb) { return host::colourText(rgb); }

// The points of one part (or of a point), in map coordinates.
void partPoints(IGeometry* part, std::vector<WKSPoint>& out) {
    out.clear();
    IPointCollectionPtr points = part;
    if (!points) {
        if (IPointPtr p = part) {
            WKSPoint w{};
            p->QueryCoords(&w.X, &w.Y);
            out.push_back(w);
        }
        return;
    }
    IPointPtr p(CLSID_Point);
    const LONG n = points->GetPointCount();
    for (LONG i = 0; i < n; ++i) {
        points->QueryPoint(i, p);
        WKSPoint w{};
        p->QueryCoords(&w.X, &w.Y);
        out.push_back(w);
    }
}

std::string pathData(IGeometry* shape, const Frame& f, bool close) {
    std::string d;
    std::vector<WKSPoint> pts;
    IGeometryCollectionPtr parts = shape;
    const LONG n = parts ? parts->GetGeometryCount() : 0;
    for (LONG i = 0; i < n; ++i) {
        IGeometryPtr part = parts->GetGeometry(i);
        partPoints(part, pts);
        for (std::size_t k = 0; k < pts.size(); ++k)
            d += (k == 0 ? "M" : "L") + num(f.px(pts[k].X)) + " " + num(f.py(pts[k].Y)) + " ";
        if (close && !pts.empty()) d += "Z ";
    }
    return d;
}

std::string marker(const host::Symbol& s, double x, double y, long oid) {
    const double r = s.size / 2;
    const std::string style = " fill=\"" + colour(s.fill) + "\" stroke=\"" + colour(s.outline) +
                              "\" stroke-width=\"" + num(s.width) + "\" data-oid=\"" + std::to_string(oid) + "\"";
    if (s.marker == "square")
        return "<rect x=\"" + num(x - r) + "\" y=\"" + num(y - r) + "\" width=\"" + num(2 * r) + "\" height=\"" +
               num(2 * r) + "\"" + style + "/>";
    if (s.marker == "triangle")
        return "<path d=\"M" + num(x) + " " + num(y - r) + " L" + num(x + r) + " " + num(y + r) + " L" + num(x - r) +
               " " + num(y + r) + " Z\"" + style + "/>";
    if (s.marker == "diamond")
        return "<path d=\"M" + num(x) + " " + num(y - r) + " L" + num(x + r) + " " + num(y) + " L" + num(x) + " " +
               num(y + r) + " L" + num(x - r) + " " + num(y) + " Z\"" + style + "/>";
    if (s.marker == "cross")
        return "<path d=\"M" + num(x - r) + " " + num(y) + " L" + num(x + r) + " " + num(y) + " M" + num(x) + " " +
               num(y - r) + " L" + num(x) + " " + num(y + r) + "\"" + style + "/>";
    return "<circle cx=\"" + num(x) + "\" cy=\"" + num(y) + "\" r=\"" + num(r) + "\"" + style + "/>";
}

// A label expression: each [Field] is replaced by the feature's value of that field.
std::string labelText(const std::string& expression, IFeature* feature, IFeatureClass* fc) {
    std::string out;
    std::size_t i = 0;
    while (i < expression.size()) {
        const std::size_t open = expression.find('[', i);
        if (open == std::string::npos) {
            out += expression.substr(i);
            break;
        }
        const std::size_t close = expression.find(']', open);
        if (close == std::string::npos) {
            out += expression.substr(i);
            break;
        }
        out += expression.substr(i, open - i);
        const LONG index = fc->FindField(expression.substr(open + 1, close - open - 1).c_str());
        if (index >= 0) {
            _variant_t v = feature->GetValue(index);
            if (v.vt == VT_R8 || v.vt == VT_R4) {
                char buf[32];
                std::snprintf(buf, sizeof buf, "%g", double(v));
                out += buf;
            } else if (v.vt != VT_NULL && v.vt != VT_EMPTY) {
                _variant_t t;
                t.ChangeType(VT_BSTR, &v);
                out += _bstr_t(t.bstrVal, true).narrow();
            }
        }
        i = close + 1;
    }
    return out;
}

Frame frameOf(host::Map& map) {
    Frame f{};
    map.extent(f.xmin, f.ymin, f.xmax, f.ymax);
    if (std::isnan(f.xmin)) {
        f.xmin = f.ymin = HUGE_VAL;
        f.xmax = f.ymax = -HUGE_VAL;
        for (const auto& l : map.layers()) {
            IEnvelopePtr e = l->GetAreaOfInterest();
            if (e->GetIsEmpty()) continue;
            double a, b, c, d;
            e->QueryCoords(&a, &b, &c, &d);
            f.xmin = std::min(f.xmin, a);
            f.ymin = std::min(f.ymin, b);
            f.xmax = std::max(f.xmax, c);
            f.ymax = std::max(f.ymax, d);
        }
        if (f.xmin > f.xmax) f = {0, 0, 1, 1, 0, 0};
    }
    if (f.xmax <= f.xmin) f.xmax = f.xmin + 1e-6;
    if (f.ymax <= f.ymin) f.ymax = f.ymin + 1e-6;
    // Degrees of longitude shrink with latitude: the drawing keeps the map's proportions.
    const double midLat = (f.ymin + f.ymax) / 2 * M_PI / 180;
    f.width = kWidth;
    f.height = kWidth * (f.ymax - f.ymin) / ((f.xmax - f.xmin) * std::max(0.01, std::cos(midLat)));
    return f;
}

}  // namespace

void writeSvg(const std::string& path, host::Map& map) {
    const Frame f = frameOf(map);
    std::ostringstream svg;
    svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " << num(f.width) << " " << num(f.height)
        << "\" width=\"" << num(f.width) << "\" height=\"" << num(f.height) << "\" data-extent=\""
        << exact(f.xmin) << " " << exact(f.ymin) << " " << exact(f.xmax) << " " << exact(f.ymax) << "\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"#FFFFFF\"/>\n";
    std::ostringstream labels;
    const auto& layers = map.layers();
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
        host::FeatureLayer* layer = host::featureLayerOf(*it);
        if (!layer) continue;
        svg << "<g id=\"" << escape(layer->name()) << "\">\n";
        IFeatureClass* fc = layer->featureClass();
        const host::RendererSpec* spec = host::specOf(layer->renderer());
        const auto expressions = layer->labels().expressions();
        const bool labelled = layer->displayLabels() && !expressions.empty();
        if (fc && spec) {
            const LONG field = spec->field.empty() ? -1 : fc->FindField(spec->field.c_str());
            IFeatureCursorPtr cursor = fc->Search(nullptr, VARIANT_FALSE);
            std::vector<WKSPoint> pts;
            if (labelled) labels << "<g id=\"labels-" << escape(layer->name()) << "\" font-size=\"8\" fill=\"#000000\">\n";
            while (IFeaturePtr feature = cursor->NextFeature()) {
                IGeometryPtr shape = feature->GetShape();
                if (!shape || shape->GetIsEmpty()) continue;
                _variant_t value;
                if (field >= 0) value = feature->GetValue(field);
                const std::optional<host::Symbol> sym = spec->symbolFor(value);
                const long oid = feature->GetOID();
                if (sym) {
                    switch (shape->GetGeometryType()) {
                        case esriGeometryPolygon:
                            svg << "<path d=\"" << pathData(shape, f, true) << "\" fill=\"" << colour(sym->fill)
                                << "\" stroke=\"" << colour(sym->outline) << "\" stroke-width=\"" << num(sym->width)
                                << "\" fill-rule=\"evenodd\" data-oid=\"" << oid << "\"/>\n";
                            break;
                        case esriGeometryPolyline:
                            svg << "<path d=\"" << pathData(shape, f, false) << "\" fill=\"none\" stroke=\""
                                << colour(sym->outline) << "\" stroke-width=\"" << num(sym->width) << "\" data-oid=\""
                                << oid << "\"/>\n";
                            break;
                        default: {
                            IGeometryCollectionPtr parts = shape;
                            if (parts) {
                                const LONG n = parts->GetGeometryCount();
                                for (LONG i = 0; i < n; ++i) {
                                    partPoints(parts->GetGeometry(i), pts);
                                    for (const auto& p : pts) svg << marker(*sym, f.px(p.X), f.py(p.Y), oid) << "\n";
                                }
                            } else {
                                partPoints(shape, pts);
                                for (const auto& p : pts) svg << marker(*sym, f.px(p.X), f.py(p.Y), oid) << "\n";
                            }
                        }
                    }
                }
                if (labelled) {
                    IEnvelopePtr e = shape->GetEnvelope();
                    double a, b, c, d;
                    e->QueryCoords(&a, &b, &c, &d);
                    for (const auto& x : expressions)
                        labels << "<text x=\"" << num(f.px((a + c) / 2) + 2) << "\" y=\"" << num(f.py((b + d) / 2) - 2)
                               << "\" data-oid=\"" << oid << "\">" << escape(labelText(x, feature, fc)) << "</text>\n";
                }
            }
            if (labelled) labels << "</g>\n";
        }
        svg << "</g>\n";
    }
    svg << labels.str() << "</svg>\n";
    std::ofstream out(path, std::ios::binary);
    out << svg.str();
    if (!out) throw _com_error(E_FAIL, fromUtf8("cannot write " + path));
}

}  // namespace gishost
