// platform/ui/progress.h: the progress dialog, its step progressor and the cancel tracker, as COM
// objects. Create them by class (kCLSID_CancelTracker, kCLSID_ProgressDialogFactory); the factory's
// Create hands out one object that is both the step progressor and its dialog (QueryInterface for
// IProgressDialog2). What they show depends on the program-wide form of platform/ui/ui.h: recorded
// (scripted), a bar on standard error (terminal, when it is a TTY), message lines (batch).
// Raw methods return HRESULTs and never throw; the wrappers throw _com_error on failure.
#pragma once

#include "platform/com/com.h"

// Takes ownership of a BSTR handed out by a get_ method.
inline _bstr_t adoptBstr(BSTR raw) {
    _bstr_t out;
    out.Attach(raw);
    return out;
}

// Class ids of the two creatable classes; the progressor is only made by the factory.
inline constexpr CLSID kCLSID_CancelTracker = {
    0xEB16E597, 0xB4F7, 0x11D0, {0x86, 0x5F, 0x00, 0x00, 0xF8, 0x75, 0x17, 0x20}};
inline constexpr CLSID kCLSID_ProgressDialogFactory = {
    0x31A6AEB2, 0xF644, 0x11D1, {0xA2, 0x48, 0x08, 0x00, 0x09, 0xB6, 0xF2, 0x2B}};

// What a progressor shows while it is visible: one message line and nothing else.
struct IProgressor : IUnknown {
    static constexpr GUID iid = {
        0xDF0C1F7F, 0xFBAB, 0x4FCD, {0xBD, 0xD5, 0x65, 0xE5, 0x85, 0x5B, 0x3D, 0x27}};

    virtual HRESULT put_Message(BSTR message) = 0;
    virtual HRESULT get_Message(BSTR* message) = 0;  // caller frees *message
    virtual HRESULT raw_Show() = 0;
    virtual HRESULT raw_Step() = 0;
    virtual HRESULT raw_Hide() = 0;

    void PutMessage(_bstr_t message) { check(put_Message(message.GetBSTR())); }
    _bstr_t GetMessage() {
        BSTR out = nullptr;
        check(get_Message(&out));
        return adoptBstr(out);
    }
    void Show() { check(raw_Show()); }
    void Step() { check(raw_Step()); }
    void Hide() { check(raw_Hide()); }

protected:
    static void check(HRESULT hr) {
        if (FAILED(hr)) _com_issue_error(hr);
    }
};

// A progressor with a range: Step adds StepValue to Position, never past MaxRange.
struct IStepProgressor : IProgressor {
    static constexpr GUID iid = {
        0xCB78B210, 0xAE60, 0x4969, {0xB6, 0x1A, 0x48, 0x49, 0xF6, 0x87, 0xBE, 0x86}};

    virtual HRESULT put_MinRange(LONG value) = 0;
    virtual HRESULT get_MinRange(LONG* value) = 0;
    virtual HRESULT put_MaxRange(LONG value) = 0;
    virtual HRESULT get_MaxRange(LONG* value) = 0;
    virtual HRESULT put_Position(LONG value) = 0;
    virtual HRESULT get_Position(LONG* value) = 0;
    virtual HRESULT put_StepValue(LONG value) = 0;
    virtual HRESULT get_StepValue(LONG* value) = 0;

    void PutMinRange(LONG v) { check(put_MinRange(v)); }
    LONG GetMinRange() { LONG v = 0; check(get_MinRange(&v)); return v; }
    void PutMaxRange(LONG v) { check(put_MaxRange(v)); }
    LONG GetMaxRange() { LONG v = 0; check(get_MaxRange(&v)); return v; }
    void PutPosition(LONG v) { check(put_Position(v)); }
    LONG GetPosition() { LONG v = 0; check(get_Position(&v)); return v; }
    void PutStepValue(LONG v) { check(put_StepValue(v)); }
    LONG GetStepValue() { LONG v = 0; check(get_StepValue(&v)); return v; }
};

// The dialog around a step progressor: title, description line, animation, cancel button.
struct IProgressDialog2 : IUnknown {
    static constexpr GUID iid = {
        0x82CBEB3F, 0x5911, 0x4F43, {0xBA, 0xBF, 0xB5, 0x75, 0x21, 0x29, 0xB0, 0x7D}};

    virtual HRESULT put_Title(BSTR title) = 0;
    virtual HRESULT get_Title(BSTR* title) = 0;
    virtual HRESULT put_Description(BSTR text) = 0;
    virtual HRESULT get_Description(BSTR* text) = 0;
    virtual HRESULT put_Animation(LONG kind) = 0;  // 0 none; any other value shows an animation
    virtual HRESULT get_Animation(LONG* kind) = 0;
    virtual HRESULT put_CancelEnabled(VARIANT_BOOL enabled) = 0;
    virtual HRESULT get_CancelEnabled(VARIANT_BOOL* enabled) = 0;
    virtual HRESULT raw_ShowDialog() = 0;
    virtual HRESULT raw_HideDialog() = 0;

    void PutTitle(_bstr_t t) { check(put_Title(t.GetBSTR())); }
    _bstr_t GetTitle() { BSTR out = nullptr; check(get_Title(&out)); return adoptBstr(out); }
    void PutDescription(_bstr_t t) { check(put_Description(t.GetBSTR())); }
    _bstr_t GetDescription() {
        BSTR out = nullptr;
        check(get_Description(&out));
        return adoptBstr(out);
    }
    void PutAnimation(LONG kind) { check(put_Animation(kind)); }
    LONG GetAnimation() { LONG v = 0; check(get_Animation(&v)); return v; }
    void PutCancelEnabled(VARIANT_BOOL e) { check(put_CancelEnabled(e)); }
    VARIANT_BOOL GetCancelEnabled() {
        VARIANT_BOOL v = VARIANT_FALSE;
        check(get_CancelEnabled(&v));
        return v;
    }
    void ShowDialog() { check(raw_ShowDialog()); }
    void HideDialog() { check(raw_HideDialog()); }

private:
    static void check(HRESULT hr) {
        if (FAILED(hr)) _com_issue_error(hr);
    }
};

// Whether the user asked to stop. Continue answers VARIANT_FALSE once a cancel was seen (from
// Cancel, or from the user while CancelOnClick or CancelOnKeyPress is on), until Reset.
struct ICancelTracker : IUnknown {
    static constexpr GUID iid = {
        0x5F5F69D7, 0x4703, 0x4F31, {0x87, 0xC0, 0xF6, 0x2F, 0xBF, 0x09, 0x73, 0x84}};

    virtual HRESULT raw_Continue(VARIANT_BOOL* goOn) = 0;
    virtual HRESULT raw_Cancel() = 0;
    virtual HRESULT raw_Reset() = 0;
    virtual HRESULT put_CancelOnClick(VARIANT_BOOL on) = 0;
    virtual HRESULT get_CancelOnClick(VARIANT_BOOL* on) = 0;
    virtual HRESULT put_CancelOnKeyPress(VARIANT_BOOL on) = 0;
    virtual HRESULT get_CancelOnKeyPress(VARIANT_BOOL* on) = 0;

    VARIANT_BOOL Continue() {
        VARIANT_BOOL v = VARIANT_TRUE;
        check(raw_Continue(&v));
        return v;
    }
    void Cancel() { check(raw_Cancel()); }
    void Reset() { check(raw_Reset()); }
    void PutCancelOnClick(VARIANT_BOOL on) { check(put_CancelOnClick(on)); }
    VARIANT_BOOL GetCancelOnClick() {
        VARIANT_BOOL v = VARIANT_FALSE;
        check(get_CancelOnClick(&v));
        return v;
    }
    void PutCancelOnKeyPress(VARIANT_BOOL on) { check(put_CancelOnKeyPress(on)); }
    VARIANT_BOOL GetCancelOnKeyPress() {
        VARIANT_BOOL v = VARIANT_FALSE;
        check(get_CancelOnKeyPress(&v));
        return v;
    }

private:
    static void check(HRESULT hr) {
        if (FAILED(hr)) _com_issue_error(hr);
    }
};

// Makes the progressor-and-dialog object for a cancel tracker (may be null) and an owner window
// (ignored: every dialog of ours is top-level).
struct IProgressDialogFactory : IUnknown {
    static constexpr GUID iid = {
        0x444A8BCA, 0xCE99, 0x4759, {0x93, 0x24, 0x4B, 0x86, 0x91, 0x3A, 0xB1, 0x8F}};

    virtual HRESULT raw_Create(ICancelTracker* tracker, LONG hWnd, IStepProgressor** out) = 0;

    IStepProgressor* Create(ICancelTracker* tracker, LONG hWnd) {  // caller owns the reference
        IStepProgressor* out = nullptr;
        HRESULT hr = raw_Create(tracker, hWnd, &out);
        if (FAILED(hr)) _com_issue_error(hr);
        return out;
    }
};

_COM_SMARTPTR_TYPEDEF(IProgressor, __uuidof(IProgressor));
_COM_SMARTPTR_TYPEDEF(IStepProgressor, __uuidof(IStepProgressor));
_COM_SMARTPTR_TYPEDEF(IProgressDialog2, __uuidof(IProgressDialog2));
_COM_SMARTPTR_TYPEDEF(ICancelTracker, __uuidof(ICancelTracker));
_COM_SMARTPTR_TYPEDEF(IProgressDialogFactory, __uuidof(IProgressDialogFactory));
