// platform/host/layer_file.cpp: the layer-file object. Open reads the whole file and fails with
// HOST_E_BAD_LAYER_FILE and the reason (empty, not XML, not a layer file, a bad renderer) before it
// changes anything; a failed Open leaves no layer behind.

#include "platform/host/layer_file.h"

#include <fstream>
#include <sstream>

#include <pugixml.hpp>

#include "platform/host/file_system.h"
#include "platform/host/map.h"

namespace host {
namespace {

// The reason alone: the caller knows which file it opened.
[[noreturn]] void bad(const std::string&, const std::string& why) {
    throw _com_error(HOST_E_BAD_LAYER_FILE, fromUtf8(why));
}

class LayerFile : public ComObject<ILayerFile> {
public:
    HRESULT raw_Open(BSTR path) override {
        return comGuard([&] {
            layer_ = nullptr;
            const std::string p =
                fileSystemPath(toUtf8(path ? std::wstring_view(path, SysStringLen(path)) : std::wstring_view()));
            std::ifstream in(p, std::ios::binary);
            if (!in) bad(p, "cannot be read");
            std::ostringstream text;
            text << in.rdbuf();
            const std::string body = text.str();
            if (body.find_first_not_of(" \t\r\n") == std::string::npos) bad(p, "empty file");
            pugi::xml_document doc;
            const pugi::xml_parse_result r = doc.load_buffer(body.data(), body.size());
            if (!r) bad(p, std::string("not XML (") + r.description() + " at byte " + std::to_string(r.offset) + ")");
            const pugi::xml_node root = doc.document_element();
            if (std::string_view(root.name()) != "LayerFile") bad(p, "not a layer file (root <" + std::string(root.name()) + ">)");
            const pugi::xml_node fl = root.child("FeatureLayer");
            if (!fl) return S_OK;  // holds no layer
            RendererSpec spec;
            bool found = false;
            for (const pugi::xml_node& n : fl.children()) {
                if (n.type() != pugi::node_element) continue;
                if (found) bad(p, "more than one renderer in <FeatureLayer>");
                try {
                    spec = readRenderer(n);
                } catch (const _com_error& e) {
                    bad(p, toUtf8(static_cast<const wchar_t*>(e.Description())));
                }
                found = true;
            }
            if (!found) bad(p, "<FeatureLayer> holds no renderer");
            _com_ptr_t<FeatureLayer> layer(new FeatureLayer);
            layer->PutName(fl.attribute("name").value());
            layer->PutRefRenderer(makeRenderer(std::move(spec)));
            layer_ = layer;
            return S_OK;
        });
    }
    HRESULT get_Layer(ILayer** layer) override {
        if (!layer) return E_POINTER;
        *layer = layer_;
        if (*layer) (*layer)->AddRef();
        return S_OK;
    }
    HRESULT raw_Close() override {
        layer_ = nullptr;
        return S_OK;
    }

private:
    ILayerPtr layer_;
};

const ComClassRegistrar registerLayerFile(CLSID_LayerFile, "Host.LayerFile", &createComInstance<LayerFile>);

}  // namespace

void writeLayerFile(const std::string& path, const std::string& layerName, const RendererSpec& renderer) {
    pugi::xml_document doc;
    pugi::xml_node decl = doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    pugi::xml_node fl = doc.append_child("LayerFile").append_child("FeatureLayer");
    fl.append_attribute("name") = layerName.c_str();
    writeRenderer(fl, renderer);
    if (!doc.save_file(fileSystemPath(path).c_str(), "  "))
        throw _com_error(E_FAIL, fromUtf8("cannot write " + path));
}

}  // namespace host
