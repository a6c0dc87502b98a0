// commands/command_host.h: what the converter's two commands share: the texts they take from the
// host application (the workspace and feature dataset of the document's current layer), the
// closing refresh of the document, and the ICommand property helpers. Functions that reach the
// host throw _com_error; the commands' COM methods run them inside comGuard.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/com.h"
#include "platform/host/host.h"

// The workspace path and the feature dataset's qualified name of the document's current layer
// (the layer picked in the table of contents, else the focus map's first feature layer).
struct DocumentTexts {
    std::string workspacePath;
    std::string datasetQualifiedName;
};
DocumentTexts documentTexts(IApplication* app);

// The dataset name of a qualified name: the text after its last '.', or the whole name.
std::string datasetNameOf(std::string_view qualifiedName);

// Redraws the document after a run.
void refreshDocument(IApplication* app);

// A copy of a text for a BSTR out parameter; E_POINTER for a null one.
HRESULT copyText(const char* utf8, BSTR* out);

// A BSTR as UTF-8; null is the empty text.
std::string narrowText(BSTR text);

// The import's input path is refused before the driver runs when the driver could not make its
// log name from it: empty, or nothing before its last four characters.
bool usableInputPath(std::string_view path);
