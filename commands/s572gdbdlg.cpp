// commands/s572gdbdlg.cpp: the import command's dialog. OK takes edit 208 as it is; the command
// checks it before the import runs.
#include "commands/s572gdbdlg.h"

#include "commands/resources.h"
#include "s57/s57_util2.h"

s572gdbdlg::s572gdbdlg(std::string gdbPath) : ConverterDialog(IDD_S572GDBDLG, std::move(gdbPath)) {}

void s572gdbdlg::onCommand(int id) {
    switch (id) {
    case IDOK:
        s57File_ = itemText(IDC_FILE);
        endDialog(IDOK);
        break;
    case IDCANCEL: endDialog(IDCANCEL); break;
    case IDC_BROWSE: browse(); break;
    default: break;
    }
}

void s572gdbdlg::browse() {
    std::string path;
    const std::vector<ui::FileFilter> filters = {{"S-57 Cell", "*.000"}, {"All files", "*.*"}};
    if (!ui::chooseOpenFile(stringText(109), filters, path)) return;
    if (path.size() > kMaxPath) path.resize(kMaxPath);
    setItemText(IDC_FILE, path);
    s57File_ = itemText(IDC_FILE);
}
