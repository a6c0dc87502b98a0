// commands/gdb2s57dlg.cpp: the export command's dialog. The create-topology flag is decided anew at
// every OK (box checked and confirmed), so a No after an earlier Yes leaves it 0.
#include "commands/gdb2s57dlg.h"

#include <unistd.h>

#include <filesystem>

#include "commands/resources.h"
#include "platform/ui/list_dialog.h"
#include "s57/s57_util2.h"

namespace {

// Where an output file goes by default: the current folder.
std::string defaultOutput(const std::string& name) {
    std::error_code ec;
    const std::filesystem::path cwd = std::filesystem::current_path(ec);
    if (ec) return name;
    return (cwd / name).string();
}

bool holdsSeparator(const std::string& name) { return name.find_first_of("\\/") != std::string::npos; }

}  // namespace

gdb2s57dlg::gdb2s57dlg(std::string gdbPath, std::vector<Entry> entries)
    : ConverterDialog(IDD_GDB2S57DLG, std::move(gdbPath)), entries_(std::move(entries)) {}

void gdb2s57dlg::onInitDialog() {
    ConverterDialog::onInitDialog();
    checkButton(IDC_TOPOLOGY, true);
    createTopology_ = 0;
    if (!entries_.empty()) select(0, true);
}

void gdb2s57dlg::select(std::size_t index, bool initial) {
    const Entry& e = entries_[index];
    setItemText(IDC_CELL, e.name.substr(0, kCellNameShown));
    cellName_ = e.name;
    catalogPath_ = e.directory;
    outputFile_ = !initial && holdsSeparator(e.name) ? e.name : defaultOutput(e.name);
    setItemText(IDC_FILE, outputFile_);
}

void gdb2s57dlg::onCommand(int id) {
    switch (id) {
    case IDOK: ok(); break;
    case IDCANCEL: endDialog(IDCANCEL); break;
    case IDC_CELL_BUTTON: chooseCell(); break;
    case IDC_BROWSE: browse(); break;
    default: break;
    }
}

void gdb2s57dlg::chooseCell() {
    IListDialogPtr list(kCLSID_ListDialog);
    for (const Entry& e : entries_) list->AddString(e.display.c_str());
    if (list->DoModal("Cell Name Selection", 0) != VARIANT_TRUE) return;
    const LONG choice = list->GetChoice();
    if (choice >= 0 && std::size_t(choice) < entries_.size()) select(std::size_t(choice), false);
}

void gdb2s57dlg::browse() {
    std::string path;
    if (!ui::chooseOpenFile(stringText(109), {}, path)) return;
    if (path.size() > kMaxPath) path.resize(kMaxPath);
    setItemText(IDC_FILE, path);
}

void gdb2s57dlg::ok() {
    createTopology_ = 0;
    if (isButtonChecked(IDC_TOPOLOGY)) {
        if (MessageBoxA(nullptr, stringText(162), stringText(kCaptionGdbToS57), MB_YESNO) != IDYES) return;
        createTopology_ = 1;
    }
    outputFile_ = itemText(IDC_FILE);
    std::error_code ec;
    if (std::filesystem::exists(outputFile_, ec) &&
        MessageBoxA(nullptr, stringText(164), stringText(kCaptionGdbToS57), MB_YESNO) != IDYES)
        return;
    endDialog(IDOK);
}
