// commands/converter_dialog.cpp: module converter_dialog (see the header).
#include "commands/converter_dialog.h"

#include "commands/resources.h"
#include "s57/s57_util2.h"

ConverterDialog::ConverterDialog(int templateId, std::string gdbPath)
    : ui::Dialog(*::dialogTemplate(templateId)),
      icon_(loadModuleIcon(IDI_TARVO)),
      browseImage_(loadModuleBitmap(IDB_BROWSE)),
      gdbImage_(loadModuleBitmap(IDB_GDB)),
      gdbPath_(std::move(gdbPath)) {}

ConverterDialog::~ConverterDialog() {
    DestroyIcon(icon_);
    DeleteObject(browseImage_);
    DeleteObject(gdbImage_);
}

void ConverterDialog::onInitDialog() {
    setIcon(icon_, true);
    setIcon(icon_, false);
    setButtonImage(IDC_BROWSE, browseImage_);
    setButtonImage(IDC_GDB_BUTTON, gdbImage_);
    limitText(IDC_FILE, kMaxPath);
    setItemText(IDC_GDB, gdbPath_);
}
