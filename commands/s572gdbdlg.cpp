// commands/s572gdbdlg.cpp: the import command's dialog. OK takes edit 208 as it is; the command
// checks it before the import runs.
#include "commands/s572gdbdlg.h"

#include "commands/resources.h"
#include "s57/s57_util2.h"

s572gdbdlg::s572gdbdlg(std::string gdbPath)
    : ui::Dialog(*::dialogTemplate(IDD_S572GDBDLG)),
      icon_(loadModuleIcon(IDI_TARVO)),
      browseImage_(loadModuleBitmap(IDB_BROWSE)),
      gdbImage_(loadModuleBitmap(IDB_GDB)),
      gdbPath_(std::move(gdbPath)) {}

s572gdbdlg::~s572gdbdlg() {
    DestroyIcon(icon_);
    DeleteObject(browseImage_);
    DeleteObject(gdbImage_);
}

void s572gdbdlg::onInitDialog() {
    setIcon(icon_, true);
    setIcon(icon_, false);
    setButtonImage(IDC_BROWSE, browseImage_);
    setButtonImage(IDC_GDB_BUTTON, gdbImage_);
    limitText(IDC_FILE, kMaxPath);
    setItemText(IDC_GDB, gdbPath_);
}

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
