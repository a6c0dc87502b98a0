// commands/s572gdbdlg.h: dialog 207 "S-57 to Geodatabase": shows the geodatabase the import writes
// into and lets the user name or browse for the S-57 file.
#pragma once

#include <string>

#include "platform/ui/dialog.h"

class s572gdbdlg : public ui::Dialog {
public:
    explicit s572gdbdlg(std::string gdbPath);
    ~s572gdbdlg() override;

    const std::string& gdbPath() const { return gdbPath_; }
    // The chosen S-57 file: edit 208 at OK, or the browse dialog's choice.
    const std::string& s57File() const { return s57File_; }

    // The longest path the file edit and the browse dialog take.
    static constexpr std::size_t kMaxPath = 520;

protected:
    void onInitDialog() override;
    void onCommand(int id) override;

private:
    void browse();

    HICON icon_;
    HBITMAP browseImage_;
    HBITMAP gdbImage_;
    std::string gdbPath_;
    std::string s57File_;
};
