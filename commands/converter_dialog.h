// commands/converter_dialog.h: what the converter's two dialogs share: the module's icon and the
// browse and geodatabase button pictures (freed with the dialog), the limit of the file edit and the
// geodatabase the run works on, shown read-only.
#pragma once

#include <string>

#include "platform/ui/dialog.h"

class ConverterDialog : public ui::Dialog {
public:
    ~ConverterDialog() override;

    const std::string& gdbPath() const { return gdbPath_; }

    // The longest path the file edit and the browse dialog take.
    static constexpr std::size_t kMaxPath = 520;

protected:
    ConverterDialog(int templateId, std::string gdbPath);
    // The icon, the pictures, the file edit's limit and the geodatabase's path; called first by the
    // dialogs' own.
    void onInitDialog() override;

private:
    HICON icon_;
    HBITMAP browseImage_;
    HBITMAP gdbImage_;
    std::string gdbPath_;
};
