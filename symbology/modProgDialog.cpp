// symbology/modProgDialog.cpp: the progress dialog, its step progressor, the cancel tracker and the
// dialog factory, held by the module between ShowProgress and CloseProgress; the dialog itself is
// the platform's one (platform/ui/progress.h), which the converter's runs show too.

#include "symbology/modProgDialog.h"

#include "platform/host/err_object.h"
#include "platform/ui/progress.h"
#include "platform/ui/ui.h"

namespace corvane {
namespace {

IProgressDialogFactoryPtr g_pProgDlgFact;
IProgressDialog2Ptr g_pProgDlg;
IStepProgressorPtr g_pStepProg;
ICancelTrackerPtr g_pTrkCancel;
// True until the user cancels; CloseProgress sets it back so that the next run starts afresh.
bool g_bContinue = true;

// One statement of ShowProgress under its error rule: the error number in a box; true to go on
// with the next statement (error 13), false to end the procedure.
template <class F>
bool statement(F&& body) {
    host::ErrObject err;
    try {
        body();
        return true;
    } catch (...) {
        err = host::currentError("Corvane");
    }
    MessageBoxA(nullptr, std::to_string(err.number).c_str(), "Corvane", MB_OK);
    return err.number == 13;
}

}  // namespace

void ShowProgress(const std::string& message, const std::string& caption, LONG minimum, LONG maximum,
                  LONG /*position*/, LONG hWnd) {
    if (!g_pProgDlg) {
        if (!statement([&] { g_pTrkCancel = ICancelTrackerPtr(kCLSID_CancelTracker); })) return;
        if (!statement([&] { g_pTrkCancel->PutCancelOnClick(VARIANT_TRUE); })) return;
        if (!statement([&] { g_pTrkCancel->PutCancelOnKeyPress(VARIANT_TRUE); })) return;
        if (!statement([&] { g_pProgDlgFact = IProgressDialogFactoryPtr(kCLSID_ProgressDialogFactory); })) return;
        if (!statement([&] { g_pStepProg = g_pProgDlgFact->Create(g_pTrkCancel, hWnd); })) return;
        if (!statement([&] {
                g_pProgDlg = g_pStepProg;
                if (!g_pProgDlg) host::raiseError(13, "Corvane");
            }))
            return;
        if (!statement([&] { g_pProgDlg->PutAnimation(1); })) return;
        if (!statement([&] { g_pProgDlg->PutCancelEnabled(VARIANT_TRUE); })) return;
        if (!statement([&] { g_pProgDlg->PutTitle(caption.c_str()); })) return;
        if (!statement([&] { g_pProgDlg->PutDescription(kProgressDescription); })) return;
        if (!statement([&] { g_pStepProg->PutMaxRange(maximum); })) return;
        if (!statement([&] { g_pStepProg->PutMinRange(minimum); })) return;
        if (!statement([&] { g_pStepProg->PutStepValue(1); })) return;
    }
    if (!statement([&] { g_pStepProg->Step(); })) return;
    if (!statement([&] { g_pStepProg->PutMessage(message.c_str()); })) return;
    statement([&] { g_bContinue = g_pTrkCancel->Continue() != VARIANT_FALSE; });
}

void CloseProgress() {
    if (g_pProgDlg) g_pProgDlg->raw_HideDialog();
    g_pProgDlg = nullptr;
    g_pStepProg = nullptr;
    g_pTrkCancel = nullptr;
    g_pProgDlgFact = nullptr;
    g_bContinue = true;
}

bool ProgressContinue() { return g_bContinue; }

}  // namespace corvane
