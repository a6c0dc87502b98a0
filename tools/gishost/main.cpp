// tools/gishost/main.cpp: `gishost`, a minimal GIS desktop host.
//   gishost --new-map GEODATABASE MAP.xml [--dataset NAME]
//       writes the map of a geodatabase's feature dataset: one layer per feature class.
//   gishost --map MAP.xml [--click PROGID]... [--answers FILE] [--save MAP2.xml] [--svg VIEW.svg]
//       starts the add-ins' extensions, opens the map, clicks the commands (when enabled), prints
//       what the status bar showed, each refresh of the view a click made and the map's state,
//       saves the map and draws the view.
// Dialogs and message boxes show in the platform's form (batch: on standard error). With --answers
// the form is scripted: the file says what each dialog control and message box gets (the lines of
// ui::scripted::loadAnswers), and everything shown is printed at the end. Exit status: 0 done,
// 1 a failure (named on standard error), 2 bad arguments (an answers file not understood too).

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/host/application.h"
#include "platform/host/map_document.h"
#include "platform/host/renderer.h"
#include "platform/ui/dialog.h"
#include "platform/ui/ui.h"
#include "tools/gishost/addins.h"
#include "tools/gishost/svg_view.h"

namespace {

// The host's own commands on its standard bar.
const std::vector<std::string> kStandardItems = {"Host.NewDocumentCommand", "Host.OpenDocumentCommand",
                                                 "Host.SaveDocumentCommand", "Host.PrintCommand",
                                                 "Host.AddDataCommand", "Host.HelpCommand"};

void usage() {
    std::fprintf(stderr,
                 "usage: gishost --new-map GEODATABASE MAP.xml [--dataset NAME]\n"
                 "       gishost --map MAP.xml [--click PROGID]... [--answers FILE] [--save MAP2.xml] [--svg VIEW.svg]\n");
}

std::string describe(const _com_error& e) {
    std::string d = toUtf8(static_cast<const wchar_t*>(e.Description()));
    return d.empty() ? e.ErrorMessage() : d;
}

const char* kindName(host::RendererKind k) {
    switch (k) {
        case host::RendererKind::Simple: return "SimpleRenderer";
        case host::RendererKind::UniqueValue: return "UniqueValueRenderer";
        case host::RendererKind::ClassBreaks: return "ClassBreaksRenderer";
    }
    return "?";
}

void printState(host::Application& app) {
    host::Map& map = app.document().map();
    double e[4];
    map.extent(e[0], e[1], e[2], e[3]);
    if (e[0] == e[0])
        std::printf("view: %.9g %.9g %.9g %.9g\n", e[0], e[1], e[2], e[3]);
    else
        std::printf("view: full\n");
    for (const auto& l : map.layers()) {
        host::FeatureLayer* fl = host::featureLayerOf(l);
        if (!fl) continue;
        std::printf("layer %s:", fl->name().c_str());
        if (const host::RendererSpec* s = host::specOf(fl->renderer())) {
            std::printf(" %s", kindName(s->kind));
            if (!s->field.empty()) std::printf(" %s", s->field.c_str());
        }
        if (!fl->featureClass()) std::printf(" (no data source)");
        const auto expressions = fl->labels().expressions();
        if (fl->displayLabels())
            for (const auto& x : expressions) std::printf(" label %s", x.c_str());
        std::printf("\n");
    }
    for (const auto& bar : app.document().commandBars().bars()) {
        std::printf("bar %s:", bar->caption().c_str());
        for (const auto& item : bar->items()) std::printf(" %s", item->uid().c_str());
        std::printf("\n");
    }
}

int newMap(int argc, char** argv) {
    std::vector<std::string> args;
    std::string dataset = "S57";
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dataset") == 0 && i + 1 < argc)
            dataset = argv[++i];
        else
            args.emplace_back(argv[i]);
    }
    if (args.size() != 2) {
        usage();
        return 2;
    }
    try {
        const int n = host::newMapDocument(args[0], dataset, args[1]);
        std::printf("Wrote %s: %d layers of %s, feature dataset %s\n", args[1].c_str(), n, args[0].c_str(),
                    dataset.c_str());
        return 0;
    } catch (const _com_error& e) {
        std::fprintf(stderr, "gishost: %s\n", describe(e).c_str());
        return 1;
    }
}

int runMap(int argc, char** argv) {
    std::string mapPath, savePath, svgPath, answersPath;
    std::vector<std::string> clicks;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) {
            usage();
            return 2;
        }
        if (a == "--map")
            mapPath = argv[++i];
        else if (a == "--click")
            clicks.emplace_back(argv[++i]);
        else if (a == "--save")
            savePath = argv[++i];
        else if (a == "--svg")
            svgPath = argv[++i];
        else if (a == "--answers")
            answersPath = argv[++i];
        else {
            usage();
            return 2;
        }
    }
    if (mapPath.empty()) {
        usage();
        return 2;
    }

    if (!answersPath.empty()) {
        ui::setForm(ui::Form::Scripted);
        ui::scripted::reset();
        std::string why;
        if (!ui::scripted::loadAnswers(answersPath, &why)) {
            std::fprintf(stderr, "gishost: %s\n", why.c_str());
            return 2;
        }
    }

    _com_ptr_t<host::Application> app(new host::Application);
    int status = 0;
    try {
        app->statusBar().onMessage([](const std::string& m) {
            std::printf("status: %s\n", m.c_str());
            std::fflush(stdout);
        });
        app->document().commandBars().addBar(kStandardToolbarUid, "Standard", kStandardItems);

        // Extensions start with the application, enabled as a user left them; then the commands.
        for (const auto& progId : gishost::extensionProgIds()) {
            IExtensionPtr ext = gishost::createAddinObject(progId);
            if (!ext) throw _com_error(E_NOINTERFACE, fromUtf8(progId + " is no extension"));
            app->startExtension(progId, ext);
            if (IExtensionConfigPtr config = ext) config->PutState(esriESEnabled);
        }
        std::vector<std::string> commands = gishost::commandProgIds();
        for (const auto& c : clicks)
            if (!app->command(c)) commands.push_back(c);
        for (const auto& progId : commands) {
            if (app->command(progId)) continue;
            ICommandPtr cmd = gishost::createAddinObject(progId);
            if (!cmd) throw _com_error(E_NOINTERFACE, fromUtf8(progId + " is no command"));
            app->addCommand(progId, cmd);
        }

        const host::MapSource source = host::loadMapDocument(mapPath, app->document());
        app->document().fireOpenDocument();

        for (const auto& c : clicks) {
            std::string why;
            std::printf("click %s\n", c.c_str());
            std::fflush(stdout);
            const int refreshes = app->document().map().refreshCount();
            if (!app->click(c, &why)) std::printf("not clicked: %s\n", why.c_str());
            if (app->document().map().refreshCount() != refreshes) std::printf("view refreshed\n");
        }
        printState(*app);
        if (!savePath.empty()) host::saveMapDocument(savePath, source, app->document());
        if (!svgPath.empty()) gishost::writeSvg(svgPath, app->document().map());
    } catch (const _com_error& e) {
        std::fprintf(stderr, "gishost: %s\n", describe(e).c_str());
        status = 1;
    }
    app->document().fireCloseDocument();
    app->shutdown();
    if (!answersPath.empty()) std::printf("%s", ui::scripted::transcript().c_str());
    std::fflush(stdout);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--new-map") == 0) return newMap(argc, argv);
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        usage();
        return 0;
    }
    return runMap(argc, argv);
}
