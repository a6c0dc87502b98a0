// platform/ui/progress.cpp: the cancel tracker, the progress dialog with its step progressor, and
// the factory that makes the dialog. Every method runs in comGuard; a null out pointer is
// E_POINTER. The texts go to the scripted record, to the bar on a terminal, or to standard error
// as lines (batch, or a terminal form whose standard error is not a TTY).

#include "platform/ui/progress.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/com/out_param.h"
#include "platform/ui/ui.h"
#include "platform/ui/ui_detail.h"

namespace {

using ui::Event;

BSTR allocUtf8(const std::string& s) { return SysAllocString(fromUtf8(s).c_str()); }

std::string textOf(BSTR s) { return s ? toUtf8(std::wstring_view(s, SysStringLen(s))) : std::string(); }

void recordText(Event::Kind kind, const std::string& text) {
    Event e{kind};
    e.text = text;
    ui::detail::record(std::move(e));
}

void recordValue(Event::Kind kind, LONG value, int second = 0) {
    Event e{kind};
    e.value = value;
    e.answer = second;
    ui::detail::record(std::move(e));
}

class CancelTracker : public ComObject<ICancelTracker> {
public:
    HRESULT raw_Continue(VARIANT_BOOL* goOn) override {
        return comGuard([&] {
            if (!goOn) return E_POINTER;
            if (ui::form() == ui::Form::Scripted) {
                // The scripted user "clicks" only where clicks or keys are allowed to cancel.
                if (ui::detail::scriptedContinueCancels() && (onClick_ || onKey_)) cancelled_ = true;
                recordValue(Event::Kind::Continue, 0, cancelled_ ? 0 : 1);
            } else if (!cancelled_ && (onClick_ || onKey_) && ui::detail::terminalKeyPressed()) {
                cancelled_ = true;
            }
            *goOn = cancelled_ ? VARIANT_FALSE : VARIANT_TRUE;
            return S_OK;
        });
    }
    HRESULT raw_Cancel() override {
        cancelled_ = true;
        return S_OK;
    }
    HRESULT raw_Reset() override {
        cancelled_ = false;
        return S_OK;
    }
    HRESULT put_CancelOnClick(VARIANT_BOOL on) override { return keepValue(onClick_, on != VARIANT_FALSE); }
    HRESULT get_CancelOnClick(VARIANT_BOOL* on) override { return giveValue(onClick_ ? VARIANT_TRUE : VARIANT_FALSE, on); }
    HRESULT put_CancelOnKeyPress(VARIANT_BOOL on) override { return keepValue(onKey_, on != VARIANT_FALSE); }
    HRESULT get_CancelOnKeyPress(VARIANT_BOOL* on) override { return giveValue(onKey_ ? VARIANT_TRUE : VARIANT_FALSE, on); }

private:
    bool cancelled_ = false;
    bool onClick_ = false;
    bool onKey_ = false;
};

// One object is both the dialog and its step progressor, as the factory hands it out.
class ProgressDialog : public ComObject<IStepProgressor, IProgressDialog2> {
public:
    ~ProgressDialog() override {
        if (open_ && ui::detail::drawsBar()) ui::detail::clearBar();
    }

    // IProgressor
    HRESULT put_Message(BSTR message) override {
        return comGuard([&] {
            message_ = textOf(message);
            recordText(Event::Kind::ProgressMessage, message_);
            if (ui::detail::drawsBar()) touched();  // the message is drawn inside the bar
            else showLine(message_);
            return S_OK;
        });
    }
    HRESULT get_Message(BSTR* out) override { return getText(message_, out); }
    HRESULT raw_Show() override { return setVisible(true); }
    HRESULT raw_Hide() override { return setVisible(false); }
    HRESULT raw_Step() override {
        return comGuard([&] {
            // Long arithmetic: a step never wraps past the top of the range.
            const long long next = static_cast<long long>(position_) + step_;
            position_ = static_cast<LONG>(std::min<long long>(next, std::max(max_, position_)));
            recordValue(Event::Kind::ProgressPosition, position_);
            touched();
            return S_OK;
        });
    }

    // IStepProgressor
    HRESULT put_MinRange(LONG v) override { return setRange(v, max_); }
    HRESULT get_MinRange(LONG* v) override { return giveValue(min_, v); }
    HRESULT put_MaxRange(LONG v) override { return setRange(min_, v); }
    HRESULT get_MaxRange(LONG* v) override { return giveValue(max_, v); }
    HRESULT put_Position(LONG v) override {
        return comGuard([&] {
            position_ = v;
            recordValue(Event::Kind::ProgressPosition, v);
            touched();
            return S_OK;
        });
    }
    HRESULT get_Position(LONG* v) override { return giveValue(position_, v); }
    HRESULT put_StepValue(LONG v) override { return keepValue(step_, v); }
    HRESULT get_StepValue(LONG* v) override { return giveValue(step_, v); }

    // IProgressDialog2
    HRESULT put_Title(BSTR t) override { return setLine(title_, t, Event::Kind::ProgressTitle); }
    HRESULT get_Title(BSTR* out) override { return getText(title_, out); }
    HRESULT put_Description(BSTR t) override { return setLine(description_, t, Event::Kind::ProgressDescription); }
    HRESULT get_Description(BSTR* out) override { return getText(description_, out); }
    HRESULT put_Animation(LONG kind) override { return keepValue(animation_, kind); }
    HRESULT get_Animation(LONG* kind) override { return giveValue(animation_, kind); }
    HRESULT put_CancelEnabled(VARIANT_BOOL on) override { return keepValue(cancelEnabled_, on != VARIANT_FALSE); }
    HRESULT get_CancelEnabled(VARIANT_BOOL* on) override { return giveValue(cancelEnabled_ ? VARIANT_TRUE : VARIANT_FALSE, on); }
    HRESULT raw_ShowDialog() override { return setVisible(true); }
    HRESULT raw_HideDialog() override { return setVisible(false); }

private:
    static HRESULT getText(const std::string& v, BSTR* out) {
        return comGuard([&] {
            if (!out) return E_POINTER;
            *out = allocUtf8(v);
            return *out ? S_OK : E_OUTOFMEMORY;
        });
    }
    // A title or description line: kept, recorded and shown.
    HRESULT setLine(std::string& line, BSTR t, Event::Kind kind) {
        return comGuard([&] {
            line = textOf(t);
            recordText(kind, line);
            showLine(line);
            return S_OK;
        });
    }
    HRESULT setRange(LONG lo, LONG hi) {
        return comGuard([&] {
            min_ = lo;
            max_ = hi;
            recordValue(Event::Kind::ProgressRange, lo, hi);
            touched();
            return S_OK;
        });
    }
    HRESULT setVisible(bool on) {
        return comGuard([&] {
            // Show and ShowDialog both show the one window; record each call as made.
            recordValue(on ? Event::Kind::ProgressShow : Event::Kind::ProgressHide, 0);
            hiddenByCaller_ = !on;
            if (on) open();
            else close();
            return S_OK;
        });
    }
    // The dialog appears by itself with its first update, as the host's did, unless the caller
    // hid it; on a terminal it is the title and description lines with the bar below them.
    void open() {
        if (!open_) {
            open_ = true;
            if (ui::detail::drawsBar()) {
                ui::detail::clearBar();
                if (!title_.empty()) ui::detail::writeOut(title_ + "\n");
                if (!description_.empty()) ui::detail::writeOut(description_ + "\n");
            }
        }
        redraw();
    }
    void close() {
        open_ = false;
        if (ui::detail::drawsBar()) ui::detail::clearBar();
    }
    void touched() {
        if (!hiddenByCaller_) open();
    }
    // A title or description line: above the bar on a terminal, a plain line otherwise.
    void showLine(const std::string& text) {
        if (ui::form() == ui::Form::Scripted || text.empty()) return;
        if (ui::detail::drawsBar()) {
            if (open_) {
                ui::detail::clearBar();
                ui::detail::writeOut(text + "\n");
                redraw();
            } else {
                touched();  // prints the title and description as it opens
            }
            return;
        }
        ui::detail::writeOut(text + "\n");
    }
    void redraw() {
        if (!open_ || !ui::detail::drawsBar()) return;
        ui::detail::drawBar(
            ui::renderProgressBar(min_, max_, position_, message_, ui::detail::terminalWidth() - 1));
    }

    LONG min_ = 0;
    LONG max_ = 100;
    LONG position_ = 0;
    LONG step_ = 1;
    LONG animation_ = 0;
    bool cancelEnabled_ = false;
    bool open_ = false;            // shown (on a terminal: drawn)
    bool hiddenByCaller_ = false;  // Hide was the last call of the two
    std::string message_, title_, description_;
};

class ProgressDialogFactory : public ComObject<IProgressDialogFactory> {
public:
    HRESULT raw_Create(ICancelTracker*, LONG, IStepProgressor** out) override {
        return comGuard([&] {
            if (!out) return E_POINTER;
            *out = nullptr;
            return createComInstance<ProgressDialog>(IStepProgressor::iid, reinterpret_cast<void**>(out));
        });
    }
};

const ComClassRegistrar registerTracker(kCLSID_CancelTracker, "Ui.CancelTracker.1",
                                        &createComInstance<CancelTracker>);
const ComClassRegistrar registerFactory(kCLSID_ProgressDialogFactory, "Ui.ProgressDialogFactory.1",
                                        &createComInstance<ProgressDialogFactory>);

}  // namespace
