// platform/ui/dialog.cpp: modal dialogs over templates, scripted, on the terminal, or refused in
// batch. Handlers run inside doModal; what they throw ends the dialog as cancelled.
#include "platform/ui/dialog.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <vector>

#include "platform/ui/ui_detail.h"

namespace ui {

namespace {

struct Action {
    enum Kind { Text, Check, Click } kind;
    int id;
    std::string text;
    bool checked = false;
};

std::deque<Action>& actions() {
    static std::deque<Action> queue;
    return queue;
}

// Cuts a UTF-8 text to at most `chars` characters.
std::string limited(const std::string& text, std::size_t chars) {
    if (chars == 0) return text;
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && count++ == chars) return text.substr(0, i);
    }
    return text;
}

}  // namespace

Dialog::Dialog(const DialogTemplate& tmpl) : tmpl_(tmpl) {
    for (const ControlTemplate& c : tmpl.controls)
        if (c.id >= 0) controls_[c.id] = Control{&c, c.text ? c.text : ""};
}

Dialog::Control* Dialog::find(int id) {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
}

const Dialog::Control* Dialog::find(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
}

void Dialog::setItemText(int id, const std::string& text) {
    Control* c = find(id);
    if (!c) return;
    c->text = limited(text, c->limit);
    Event e{Event::Kind::DialogText, tmpl_.caption, c->text};
    e.value = id;
    detail::record(std::move(e));
}

std::string Dialog::itemText(int id) const {
    const Control* c = find(id);
    return c ? c->text : std::string();
}

void Dialog::limitText(int id, std::size_t chars) {
    if (Control* c = find(id)) c->limit = chars;
}

void Dialog::checkButton(int id, bool checked) {
    Control* c = find(id);
    if (!c) return;
    c->checked = checked;
    Event e{Event::Kind::DialogCheck, tmpl_.caption};
    e.value = id;
    e.answer = checked ? 1 : 0;
    detail::record(std::move(e));
}

bool Dialog::isButtonChecked(int id) const {
    const Control* c = find(id);
    return c && c->checked;
}

void Dialog::setButtonImage(int id, HBITMAP image) {
    if (Control* c = find(id)) c->image = image;
}

HBITMAP Dialog::buttonImage(int id) const {
    const Control* c = find(id);
    return c ? c->image : nullptr;
}

void Dialog::setIcon(HICON icon, bool big) { (big ? bigIcon_ : smallIcon_) = icon; }

void Dialog::endDialog(int result) {
    ended_ = true;
    result_ = result;
}

void Dialog::onCommand(int id) {
    if (id == IDOK || id == IDCANCEL) endDialog(id);
}

void Dialog::click(int id) {
    const Control* c = find(id);
    if (!c || (c->tmpl->flags & kDisabled)) return;
    if (c->tmpl->kind == ControlKind::CheckBox) checkButton(id, !c->checked);
    onCommand(id);
}

int Dialog::runScripted() {
    auto& queue = actions();
    while (!ended_ && !queue.empty()) {
        const Action a = queue.front();
        queue.pop_front();
        Control* c = find(a.id);
        switch (a.kind) {
        case Action::Text:
            if (c && c->tmpl->kind == ControlKind::Edit && !(c->tmpl->flags & (kReadOnly | kDisabled)))
                setItemText(a.id, a.text);
            break;
        case Action::Check:
            if (c && c->tmpl->kind == ControlKind::CheckBox && !(c->tmpl->flags & kDisabled))
                checkButton(a.id, a.checked);
            break;
        case Action::Click: {
            Event e{Event::Kind::DialogClick, tmpl_.caption};
            e.value = a.id;
            detail::record(std::move(e));
            click(a.id);
            break;
        }
        }
    }
    return ended_ ? result_ : IDCANCEL;
}

int Dialog::runTerminal() {
    while (!ended_) {
        std::string out = "\n" + std::string(tmpl_.caption) + "\n";
        for (const ControlTemplate& t : tmpl_.controls) {
            const Control* c = t.id >= 0 ? find(t.id) : nullptr;
            switch (t.kind) {
            case ControlKind::Label: out += "  " + std::string(t.text) + "\n"; break;
            case ControlKind::Edit:
                out += "  [" + std::to_string(t.id) + "] " + (c ? c->text : "") +
                       ((t.flags & kReadOnly) ? "  (read-only)" : "") + "\n";
                break;
            case ControlKind::CheckBox:
                out += "  [" + std::to_string(t.id) + "] " + (c && c->checked ? "[x] " : "[ ] ") + t.text + "\n";
                break;
            default: break;
            }
        }
        out += " ";
        for (const ControlTemplate& t : tmpl_.controls) {
            if (t.kind != ControlKind::Button && t.kind != ControlKind::PictureButton) continue;
            if (t.flags & kDisabled) continue;
            const std::string name = (t.text && *t.text) ? t.text : "browse";
            out += " " + std::to_string(t.id) + ")" + name;
        }
        detail::terminalWrite(out + "\nID=TEXT sets a field, ID clicks or toggles: ");
        std::string line;
        if (!detail::readTerminalLine(line)) return IDCANCEL;
        const std::size_t eq = line.find('=');
        char* end = nullptr;
        const std::string idText = line.substr(0, eq);
        errno = 0;
        const long id = std::strtol(idText.c_str(), &end, 10);
        if (idText.empty() || !end || *end != '\0' || errno == ERANGE || id < INT_MIN || id > INT_MAX) continue;
        Control* c = find(int(id));
        if (!c) continue;
        if (eq != std::string::npos) {
            if (c->tmpl->kind == ControlKind::Edit && !(c->tmpl->flags & (kReadOnly | kDisabled)))
                setItemText(int(id), line.substr(eq + 1));
        } else {
            click(int(id));
        }
    }
    return result_;
}

int Dialog::doModal(HWND) {
    if (form() == Form::Batch) {
        detail::terminalWrite(std::string(tmpl_.caption) + ": a dialog cannot be shown (batch)\n");
        return -1;
    }
    ended_ = false;
    result_ = IDCANCEL;
    detail::record(Event{Event::Kind::DialogOpen, tmpl_.caption});
    int result = IDCANCEL;
    try {
        onInitDialog();
        result = form() == Form::Scripted ? runScripted() : runTerminal();
    } catch (...) {
        result = IDCANCEL;
    }
    Event e{Event::Kind::DialogEnd, tmpl_.caption};
    e.answer = result;
    detail::record(std::move(e));
    return result;
}

namespace scripted {

void pushDialogText(int id, const std::string& text) { actions().push_back({Action::Text, id, text}); }
void pushDialogCheck(int id, bool checked) { actions().push_back({Action::Check, id, {}, checked}); }
void pushDialogClick(int id) { actions().push_back({Action::Click, id, {}}); }

namespace {

// A control id or choice: decimal, within an int (a wider one would wrap onto another control).
bool number(const std::string& text, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && end && *end == '\0' && errno != ERANGE && value >= INT_MIN && value <= INT_MAX;
}

}  // namespace

bool loadAnswers(const std::string& path, std::string* error) {
    std::ifstream in(path);
    if (!in) {
        if (error) *error = path + ": cannot be read";
        return false;
    }
    // Parsed whole first, so that a bad line pushes nothing.
    std::vector<std::function<void()>> pushes;
    std::string line;
    for (int lineNo = 1; std::getline(in, line); ++lineNo) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        const std::size_t wordEnd = line.find_first_of(" \t", start);
        const std::string word = line.substr(start, wordEnd == std::string::npos ? std::string::npos : wordEnd - start);
        std::string rest;
        if (wordEnd != std::string::npos) {
            const std::size_t restStart = line.find_first_not_of(" \t", wordEnd);
            if (restStart != std::string::npos) rest = line.substr(restStart);
        }
        const std::size_t idEnd = rest.find_first_of(" \t");
        const std::string first = rest.substr(0, idEnd);
        std::string after;
        if (idEnd != std::string::npos) {
            const std::size_t a = rest.find_first_not_of(" \t", idEnd);
            if (a != std::string::npos) after = rest.substr(a);
        }
        long n = 0;
        bool ok = true;
        if (word == "text" && number(first, n)) {
            pushes.push_back([n, after] { pushDialogText(int(n), after); });
        } else if (word == "check" && number(first, n) && (after == "0" || after == "1")) {
            const bool on = after == "1";
            pushes.push_back([n, on] { pushDialogCheck(int(n), on); });
        } else if (word == "click" && number(rest, n)) {
            pushes.push_back([n] { pushDialogClick(int(n)); });
        } else if (word == "file" && !rest.empty()) {
            pushes.push_back([rest] { pushFile(rest); });
        } else if (word == "file-cancel" && rest.empty()) {
            pushes.push_back([] { pushFileCancel(); });
        } else if (word == "choice" && number(rest, n)) {
            pushes.push_back([n] { pushChoice(int(n)); });
        } else if (word == "answer" && (rest == "yes" || rest == "no" || rest == "ok" || rest == "cancel")) {
            const int id = rest == "yes" ? IDYES : rest == "no" ? IDNO : rest == "ok" ? IDOK : IDCANCEL;
            pushes.push_back([id] { pushAnswer(id); });
        } else {
            ok = false;
        }
        if (!ok) {
            if (error) *error = path + " line " + std::to_string(lineNo) + ": not understood: " + line;
            return false;
        }
    }
    for (const auto& push : pushes) push();
    return true;
}

}  // namespace scripted

namespace detail {
void resetDialogScript() { actions().clear(); }
}  // namespace detail

}  // namespace ui
