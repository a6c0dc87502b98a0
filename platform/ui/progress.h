// platform/ui/progress.h: the progress dialog, its step progressor and the cancel tracker, as COM
// objects. Create them by class (kCLSID_CancelTracker, kCLSID_ProgressDialogFactory); the factory's
// Create hands out one object that is both the step progressor and its dialog (QueryInterface for
// IProgressDialog2). What they show depends on the program-wide form of platform/ui/ui.h: recorded
// (scripted), a bar on standard error (terminal, when it is a TTY), message lines (batch).
// Raw methods return HRESULTs and never throw; the wrappers throw _com_error on failure.
#pragma once

#include "platform/com/com.h"

// Class ids of the two creatable classes; the progressor is only made by the factory.
inline constexpr CLSID kCLSID_CancelTracker = makeGuid("{EB16E597-B4F7-11D0-865F-0000F8751720}");
inline constexpr CLSID kCLSID_ProgressDialogFactory = makeGuid("{31A6AEB2-F644-11D1-A248-080009B6F22B}");

// What a progressor shows while it is visible: one message line and nothing else.
struct IProgressor : IUnknown {
    static constexpr GUID iid = makeGuid("{DF0C1F7F-FBAB-4FCD-BDD5-65E5855B3D27}");

    virtual HRESULT put_Message(BSTR message) = 0;
    virtual HRESULT get_Message(BSTR* message) = 0;  // caller frees *message
    virtual HRESULT raw_Show() = 0;
    virtual HRESULT raw_Step() = 0;
    virtual HRESULT raw_Hide() = 0;

    void PutMessage(_bstr_t message) { check(put_Message(message.GetBSTR())); }
    _bstr_t GetMessage() {
        BSTR out = nullptr;
        check(get_Message(&out));
        return _bstr_t(out, false);
    }
    void Show() { check(raw_Show()); }
    void Step() { check(raw_Step()); }
    void Hide() { check(raw_Hide()); }

protected:
    ~IProgressor() = default;
};

// A progressor with a range: Step adds StepValue to Position, never past MaxRange.
struct IStepProgressor : IProgressor {
    using base_interface = IProgressor;
    static constexpr GUID iid = makeGuid("{CB78B210-AE60-4969-B61A-4849F687BE86}");

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

protected:
    ~IStepProgressor() = default;
};

// The dialog around a step progressor: title, description line, animation, cancel button.
struct IProgressDialog2 : IUnknown {
    static constexpr GUID iid = makeGuid("{82CBEB3F-5911-4F43-BABF-B5752129B07D}");

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
    _bstr_t GetTitle() { BSTR out = nullptr; check(get_Title(&out)); return _bstr_t(out, false); }
    void PutDescription(_bstr_t t) { check(put_Description(t.GetBSTR())); }
    _bstr_t GetDescription() {
        BSTR out = nullptr;
        check(get_Description(&out));
        return _bstr_t(out, false);
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

protected:
    ~IProgressDialog2() = default;
};

// Whether the user asked to stop. Continue answers VARIANT_FALSE once a cancel was seen (from
// Cancel, or from the user while CancelOnClick or CancelOnKeyPress is on), until Reset. On a
// terminal the user cancels with Enter; scripted, ui::scripted::cancelAtContinue decides.
struct ICancelTracker : IUnknown {
    static constexpr GUID iid = makeGuid("{5F5F69D7-4703-4F31-87C0-F62FBF097384}");

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

protected:
    ~ICancelTracker() = default;
};

// Makes the progressor-and-dialog object for a cancel tracker (may be null) and an owner window
// (ignored: every dialog of ours is top-level).
struct IProgressDialogFactory : IUnknown {
    static constexpr GUID iid = makeGuid("{444A8BCA-CE99-4759-9324-4B86913AB18F}");

    virtual HRESULT raw_Create(ICancelTracker* tracker, LONG hWnd, IStepProgressor** out) = 0;

    _com_ptr_t<IStepProgressor> Create(ICancelTracker* tracker, LONG hWnd) {
        IStepProgressor* out = nullptr;
        check(raw_Create(tracker, hWnd, &out));
        return _com_ptr_t<IStepProgressor>(out, false);
    }

protected:
    ~IProgressDialogFactory() = default;
};

_COM_SMARTPTR_TYPEDEF(IProgressor, __uuidof(IProgressor));
_COM_SMARTPTR_TYPEDEF(IStepProgressor, __uuidof(IStepProgressor));
_COM_SMARTPTR_TYPEDEF(IProgressDialog2, __uuidof(IProgressDialog2));
_COM_SMARTPTR_TYPEDEF(ICancelTracker, __uuidof(ICancelTracker));
_COM_SMARTPTR_TYPEDEF(IProgressDialogFactory, __uuidof(IProgressDialogFactory));
