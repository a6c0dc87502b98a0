// commands/s572gdbdlg.h: dialog 207 "S-57 to Geodatabase": shows the geodatabase the import writes
// into and lets the user name or browse for the S-57 file.
#pragma once

#include <string>

#include "commands/converter_dialog.h"

class s572gdbdlg : public ConverterDialog {
public:
    explicit s572gdbdlg(std::string gdbPath);

    // The chosen S-57 file: edit 208 at OK, or the browse dialog's choice.
    const std::string& s57File() const { return s57File_; }

protected:
    void onCommand(int id) override;

private:
    void browse();

    std::string s57File_;
};
