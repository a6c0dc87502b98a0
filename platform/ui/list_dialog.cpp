// platform/ui/list_dialog.cpp: the list dialog class over ui::chooseFromList.

#include "platform/ui/list_dialog.h"

#include <string>
#include <vector>

#include "platform/ui/ui.h"

namespace {

std::string textOf(BSTR s) { return s ? toUtf8(std::wstring_view(s, SysStringLen(s))) : std::string(); }

class ListDialog : public ComObject<IListDialog> {
public:
    HRESULT raw_AddString(BSTR text) override {
        return comGuard([&] {
            items_.push_back(textOf(text));
            return S_OK;
        });
    }
    HRESULT raw_DoModal(BSTR title, LONG, VARIANT_BOOL* chosen) override {
        return comGuard([&] {
            if (!chosen) return E_POINTER;
            choice_ = ui::chooseFromList(textOf(title), items_);
            *chosen = choice_ >= 0 ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        });
    }
    HRESULT get_Choice(LONG* index) override {
        if (!index) return E_POINTER;
        *index = choice_;
        return S_OK;
    }

private:
    std::vector<std::string> items_;
    LONG choice_ = -1;
};

const ComClassRegistrar registerListDialog(kCLSID_ListDialog, "Ui.ListDialog.1", &createComInstance<ListDialog>);

}  // namespace
