// platform/ui/dialog.h: modal dialogs built from a module's dialog templates, in the three forms of
// platform/ui/ui.h:
//   scripted  the preset actions (set a control's text, check a box, click a button) are played in
//             order until the dialog ends; every text a control is given is recorded. When the
//             actions run out first, the dialog is cancelled.
//   terminal  a small form on standard error: the controls as numbered fields; "ID=TEXT" sets an
//             edit, "ID" clicks a button or toggles a check box; end of input cancels.
//   batch     nothing is shown: doModal gives -1 at once and no handler runs.
// Texts are UTF-8. Nothing here throws out of doModal; a handler that throws cancels the dialog.
#pragma once

#include <map>
#include <span>
#include <string>

#include "platform/ui/gdi.h"
#include "platform/ui/ui.h"

namespace ui {

enum class ControlKind { Button, PictureButton, Edit, Label, Frame, CheckBox };

// Control flags.
inline constexpr unsigned kDefault = 0x1;   // the default push button
inline constexpr unsigned kReadOnly = 0x2;  // an edit the user cannot change
inline constexpr unsigned kDisabled = 0x4;  // a control the user cannot use

struct ControlTemplate {
    int id;  // -1 for static controls (labels, frames)
    ControlKind kind;
    const char* text;
    unsigned flags;
};

struct DialogTemplate {
    int id;
    const char* caption;
    int width;  // dialog units
    int height;
    std::span<const ControlTemplate> controls;
};

class Dialog {
public:
    explicit Dialog(const DialogTemplate& tmpl);
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;
    virtual ~Dialog() = default;

    // Shows the dialog modally (the owner is ignored): the result given to endDialog, IDCANCEL
    // when the user leaves it otherwise, -1 when it cannot be shown.
    int doModal(HWND owner = nullptr);

    const DialogTemplate& dialogTemplate() const { return tmpl_; }

    // For the handlers. An id the template lacks is ignored (text "", unchecked).
    void setItemText(int id, const std::string& text);
    std::string itemText(int id) const;
    // Edits keep at most `chars` characters of what they are given (0: no limit).
    void limitText(int id, std::size_t chars);
    void checkButton(int id, bool checked);
    bool isButtonChecked(int id) const;
    void setButtonImage(int id, HBITMAP image);
    HBITMAP buttonImage(int id) const;
    void setIcon(HICON icon, bool big);
    HICON icon(bool big) const { return big ? bigIcon_ : smallIcon_; }
    void endDialog(int result);

protected:
    virtual void onInitDialog() {}
    // A button click: OK and Cancel end the dialog unless a subclass does otherwise.
    virtual void onCommand(int id);

private:
    struct Control {
        const ControlTemplate* tmpl;
        std::string text;
        std::size_t limit = 0;
        bool checked = false;
        HBITMAP image = nullptr;
    };
    Control* find(int id);
    const Control* find(int id) const;
    void click(int id);
    int runScripted();
    int runTerminal();

    const DialogTemplate& tmpl_;
    std::map<int, Control> controls_;
    HICON bigIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
    bool ended_ = false;
    int result_ = IDCANCEL;
};

namespace scripted {

// What the next dialogs get, in order: set an edit's text, set a check box, click a button.
void pushDialogText(int id, const std::string& text);
void pushDialogCheck(int id, bool checked);
void pushDialogClick(int id);

// Pushes the answers of a file, one a line, for a scripted run of a host program:
//   text ID TEXT       an edit of the next dialog gets TEXT (the rest of the line)
//   check ID 0|1       a check box is cleared or checked
//   click ID           a button is clicked
//   file PATH          the open-file dialog answers PATH (the rest of the line)
//   file-cancel        the open-file dialog is cancelled
//   choice N           the list dialog picks entry N (0 first; -1 cancels)
//   answer yes|no|ok|cancel   a message box's button
// Blank lines and lines starting with '#' are skipped. False, with the line and why in *error, for a
// file that cannot be read or a line it does not understand; nothing is pushed then.
bool loadAnswers(const std::string& path, std::string* error);

}  // namespace scripted

}  // namespace ui
