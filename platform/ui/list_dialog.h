// platform/ui/list_dialog.h: the list dialog as a COM object (class kCLSID_ListDialog): add the
// entries, show it, read the index chosen. It shows through ui::chooseFromList, so it takes the
// program-wide form of platform/ui/ui.h. Raw methods return HRESULTs; wrappers throw _com_error.
#pragma once

#include "platform/com/com.h"

inline constexpr CLSID kCLSID_ListDialog = makeGuid("{5F399A17-0B7D-11D2-8C1E-0000F8774F55}");

struct IListDialog : IUnknown {
    static constexpr GUID iid = makeGuid("{4D1375FB-7C8E-44DB-A676-0CD72CB11C38}");

    virtual HRESULT raw_AddString(BSTR text) = 0;
    // Modal; the owner window is ignored. *chosen is VARIANT_TRUE when the user picked an entry.
    virtual HRESULT raw_DoModal(BSTR title, LONG hWnd, VARIANT_BOOL* chosen) = 0;
    // The 0-based index of the entry picked by the last DoModal, -1 when none was.
    virtual HRESULT get_Choice(LONG* index) = 0;

    void AddString(_bstr_t text) { check(raw_AddString(text.GetBSTR())); }
    VARIANT_BOOL DoModal(_bstr_t title, LONG hWnd) {
        VARIANT_BOOL v = VARIANT_FALSE;
        check(raw_DoModal(title.GetBSTR(), hWnd, &v));
        return v;
    }
    LONG GetChoice() {
        LONG v = -1;
        check(get_Choice(&v));
        return v;
    }

protected:
    ~IListDialog() = default;
};

_COM_SMARTPTR_TYPEDEF(IListDialog, __uuidof(IListDialog));
