// platform/ui/ui.cpp: message boxes, the open-file and list dialogs and the log viewer in their
// three forms (scripted, terminal, batch), and the scripted record. Nothing here throws out: a
// failure to allocate or to talk to the terminal gives the safe answer.

#include "platform/ui/ui.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>

#include "platform/ui/ui_detail.h"

extern char** environ;

namespace ui {
namespace {

// All state of the user interface; one program, one user.
struct State {
    std::optional<Form> form;            // chosen on first use
    std::deque<int> answers;             // scripted message-box answers
    std::deque<std::optional<std::string>> files;  // scripted open-file answers (nullopt cancels)
    std::deque<int> choices;             // scripted list answers
    std::vector<Event> events;           // scripted record
    int cancelAt = 0;                    // scripted: Continue number that cancels; 0 never
    int continues = 0;                   // Continue calls seen since reset
    bool barShown = false;               // a bar line is on the output
    int output = -1;                     // where the terminal and batch forms write; -1 standard error
};

State& state() {
    static State s;
    return s;
}

int safeAnswer(UINT buttons) {
    switch (buttons) {
    case MB_YESNO: return IDNO;
    case MB_OKCANCEL:
    case MB_YESNOCANCEL: return IDCANCEL;
    default: return IDOK;
    }
}

// Buttons we show; anything else is shown as a plain OK box.
UINT buttonsOf(UINT type) {
    const UINT b = type & MB_TYPEMASK;
    return (b == MB_OKCANCEL || b == MB_YESNO || b == MB_YESNOCANCEL) ? b : MB_OK;
}

bool validAnswer(UINT buttons, int answer) {
    switch (buttons) {
    case MB_YESNO: return answer == IDYES || answer == IDNO;
    case MB_OKCANCEL: return answer == IDOK || answer == IDCANCEL;
    case MB_YESNOCANCEL: return answer == IDYES || answer == IDNO || answer == IDCANCEL;
    default: return answer == IDOK;
    }
}

const char* answerName(int id) {
    switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDYES: return "Yes";
    case IDNO: return "No";
    default: return "?";
    }
}

const char* buttonsName(UINT buttons) {
    switch (buttons) {
    case MB_OKCANCEL: return "OK/Cancel";
    case MB_YESNO: return "Yes/No";
    case MB_YESNOCANCEL: return "Yes/No/Cancel";
    default: return "OK";
    }
}

const char* iconName(UINT type) {
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND: return "error";
    case MB_ICONQUESTION: return "question";
    case MB_ICONEXCLAMATION: return "warning";
    case MB_ICONASTERISK: return "information";
    default: return nullptr;
    }
}

void errWrite(std::string_view s) {
    detail::clearBar();
    detail::writeOut(s);
}

// Whether input is waiting on a terminal's standard input (typed before it was asked for).
bool inputWaiting() {
    if (!isatty(STDIN_FILENO)) return false;
    pollfd p{STDIN_FILENO, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

// One line from the terminal without its line end; false at end of input.
bool readLine(std::string& line) {
    line.clear();
    char buf[512];
    bool any = false;
    while (std::fgets(buf, sizeof buf, stdin)) {
        any = true;
        line += buf;
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return true;
        }
    }
    return any;
}

std::string lower(std::string s) {
    for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

int terminalBox(const std::string& text, const std::string& caption, UINT type, UINT buttons) {
    std::string out = "\n";
    out += caption.empty() ? std::string("Message") : caption;
    if (const char* icon = iconName(type)) out += std::string(" (") + icon + ")";
    out += "\n" + text + "\n";
    errWrite(out);
    // Input typed while the program worked was meant for whatever comes after it: a question
    // does not take it for its answer.
    if (buttons != MB_OK && inputWaiting()) {
        const int answer = safeAnswer(buttons);
        errWrite(std::string("[") + answerName(answer) + ": input typed before the question is left unread]\n");
        return answer;
    }
    for (;;) {
        switch (buttons) {
        case MB_YESNO: errWrite("Yes or No? [y/n] "); break;
        case MB_OKCANCEL: errWrite("OK or Cancel? [o/c] "); break;
        case MB_YESNOCANCEL: errWrite("Yes, No or Cancel? [y/n/c] "); break;
        default: errWrite("Press Enter to continue. "); break;
        }
        std::string line;
        if (!readLine(line)) {
            errWrite("\n");
            return safeAnswer(buttons);
        }
        const std::string a = lower(trim(line));
        if (buttons == MB_OK) return IDOK;
        if (a.empty()) return safeAnswer(buttons);  // Enter alone: the safe answer
        if ((buttons == MB_YESNO || buttons == MB_YESNOCANCEL) && (a == "y" || a == "yes")) return IDYES;
        if ((buttons == MB_YESNO || buttons == MB_YESNOCANCEL) && (a == "n" || a == "no")) return IDNO;
        if (buttons == MB_OKCANCEL && (a == "o" || a == "ok")) return IDOK;
        if ((buttons == MB_OKCANCEL || buttons == MB_YESNOCANCEL) && (a == "c" || a == "cancel"))
            return IDCANCEL;
    }
}

int messageBox(const std::string& text, const std::string& caption, UINT type) {
    const UINT buttons = buttonsOf(type);
    State& st = state();
    switch (form()) {
    case Form::Scripted: {
        int answer = safeAnswer(buttons);
        if (!st.answers.empty()) {
            answer = st.answers.front();
            st.answers.pop_front();
            if (!validAnswer(buttons, answer)) answer = safeAnswer(buttons);
        }
        Event e{Event::Kind::Message, caption, text};
        e.type = type;
        e.answer = answer;
        detail::record(std::move(e));
        return answer;
    }
    case Form::Terminal:
        return terminalBox(text, caption, type, buttons);
    case Form::Batch:
    default: {
        const int answer = safeAnswer(buttons);
        std::string out = caption.empty() ? text : caption + ": " + text;
        if (buttons != MB_OK) out += std::string(" [") + answerName(answer) + "]";
        errWrite(out + "\n");
        return answer;
    }
    }
}

std::string filtersText(const std::vector<FileFilter>& filters) {
    std::string s;
    for (const auto& f : filters) {
        if (!s.empty()) s += ", ";
        s += f.name + " (" + f.pattern + ")";
    }
    return s;
}

std::string escaped(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (c == '\a') out += "\\a";
        else out += c;
    }
    return out;
}

}  // namespace

void setOutput(int fd) {
    detail::clearBar();
    state().output = fd;
}

int output() {
    const int fd = state().output;
    return fd >= 0 ? fd : STDERR_FILENO;
}

Form form() {
    State& st = state();
    if (!st.form) st.form = (isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) ? Form::Terminal : Form::Batch;
    return *st.form;
}

void setForm(Form f) {
    detail::clearBar();
    state().form = f;
}

bool chooseOpenFile(const std::string& title, const std::vector<FileFilter>& filters, std::string& path) {
    try {
        State& st = state();
        switch (form()) {
        case Form::Scripted: {
            std::optional<std::string> answer;
            if (!st.files.empty()) {
                answer = st.files.front();
                st.files.pop_front();
            }
            Event e{Event::Kind::OpenFile, title, answer.value_or("")};
            for (const auto& f : filters) e.items.push_back(f.name + "|" + f.pattern);
            e.answer = answer ? IDOK : IDCANCEL;
            detail::record(std::move(e));
            if (answer) path = *answer;
            return answer.has_value();
        }
        case Form::Terminal: {
            std::string out = "\n" + title + "\n";
            if (!filters.empty()) out += "Files: " + filtersText(filters) + "\n";
            errWrite(out + "File name (empty cancels): ");
            std::string line;
            if (!readLine(line) || trim(line).empty()) return false;
            path = trim(line);
            return true;
        }
        case Form::Batch:
        default:
            errWrite(title + ": no file chosen (batch)\n");
            return false;
        }
    } catch (...) {
        return false;
    }
}

int chooseFromList(const std::string& title, const std::vector<std::string>& items) {
    try {
        State& st = state();
        switch (form()) {
        case Form::Scripted: {
            int answer = -1;
            if (!st.choices.empty()) {
                answer = st.choices.front();
                st.choices.pop_front();
            }
            if (answer < 0 || answer >= int(items.size())) answer = -1;
            Event e{Event::Kind::List, title};
            e.items = items;
            e.answer = answer;
            detail::record(std::move(e));
            return answer;
        }
        case Form::Terminal: {
            std::string out = "\n" + title + "\n";
            for (std::size_t i = 0; i < items.size(); ++i)
                out += "  " + std::to_string(i + 1) + ") " + items[i] + "\n";
            errWrite(out);
            for (;;) {
                errWrite("Number (empty cancels): ");
                std::string line;
                if (!readLine(line)) return -1;
                const std::string a = trim(line);
                if (a.empty()) return -1;
                char* end = nullptr;
                const long n = std::strtol(a.c_str(), &end, 10);
                if (end && *end == '\0' && n >= 1 && n <= long(items.size())) return int(n - 1);
            }
        }
        case Form::Batch:
        default:
            errWrite(title + ": nothing chosen (batch)\n");
            return -1;
        }
    } catch (...) {
        return -1;
    }
}

int viewLogFile(const std::string& path) {
    try {
        switch (form()) {
        case Form::Scripted: {
            detail::record(Event{Event::Kind::ViewLog, {}, path});
            return 0;
        }
        case Form::Batch:
            errWrite("Log file: " + path + "\n");
            return 0;
        case Form::Terminal:
        default:
            break;
        }
        detail::clearBar();
        std::fflush(nullptr);
        // The editor variable may carry its own arguments ("code -w"), so the shell splits it; the
        // path goes in as "$1" and is never parsed.
        const char* editor = std::getenv("VISUAL");
        if (!editor || !*editor) editor = std::getenv("EDITOR");
        std::string script;
        std::vector<char*> argv;
        std::string sh = "sh", dash = "--", less = "less", quitOnInterrupt = "-K", p = path, c = "-c";
        if (editor && *editor) {
            script = std::string(editor) + " \"$1\"";
            argv = {sh.data(), c.data(), script.data(), sh.data(), p.data(), nullptr};
        } else {
            argv = {less.data(), quitOnInterrupt.data(), dash.data(), p.data(), nullptr};
        }
        // The viewer writes to the user's terminal whatever this program's standard output and
        // error are meanwhile, and gets the default answer to Ctrl-C, which this program ignores
        // while it waits (as system() does), so that both end cleanly.
        posix_spawn_file_actions_t actions;
        posix_spawnattr_t attributes;
        if (posix_spawn_file_actions_init(&actions) != 0) return -1;
        if (posix_spawnattr_init(&attributes) != 0) {
            posix_spawn_file_actions_destroy(&actions);
            return -1;
        }
        const int out = output();
        if (out != STDOUT_FILENO) posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
        if (out != STDERR_FILENO) posix_spawn_file_actions_adddup2(&actions, out, STDERR_FILENO);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGQUIT);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        struct sigaction ignore {}, oldInt{}, oldQuit{};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGINT, &ignore, &oldInt);
        sigaction(SIGQUIT, &ignore, &oldQuit);
        pid_t pid = 0;
        const char* program = (editor && *editor) ? "/bin/sh" : "less";
        const int spawned = posix_spawnp(&pid, program, &actions, &attributes, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        int status = 0;
        bool waited = spawned == 0;
        while (waited && waitpid(pid, &status, 0) < 0) {
            if (errno != EINTR) waited = false;
        }
        sigaction(SIGINT, &oldInt, nullptr);
        sigaction(SIGQUIT, &oldQuit, nullptr);
        if (!waited) return -1;
        return (WIFEXITED(status) && WEXITSTATUS(status) == 0) ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

std::string renderProgressBar(LONG minRange, LONG maxRange, LONG position, std::string_view message,
                              int width) {
    if (width <= 0) return {};
    long long percent = 100;
    if (maxRange > minRange) {
        const long long lo = minRange, hi = maxRange;
        const long long pos = std::clamp<long long>(position, lo, hi);
        percent = (pos - lo) * 100 / (hi - lo);
    }
    const int cells = std::clamp(width / 3, 10, 30);
    const int filled = int(percent * cells / 100);
    char pct[8];
    std::snprintf(pct, sizeof pct, "%3d%%", int(percent));
    std::string line;
    line.reserve(std::size_t(cells) + 8 + message.size());
    line.push_back('[');
    line.append(std::size_t(filled), '#');
    line.append(std::size_t(cells - filled), '.');
    line.append("] ");
    line.append(pct);
    if (!message.empty()) {
        line += ' ';
        line += message;
    }
    if (line.size() > std::size_t(width)) {
        std::size_t cut = std::size_t(width);
        // Never split a UTF-8 sequence.
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
        line.resize(cut);
    }
    return line;
}

namespace scripted {

void reset() {
    State& st = state();
    st.answers.clear();
    st.files.clear();
    st.choices.clear();
    st.events.clear();
    st.cancelAt = 0;
    st.continues = 0;
    detail::resetDialogScript();
}

void pushAnswer(int buttonId) { state().answers.push_back(buttonId); }
void pushFile(const std::string& path) { state().files.emplace_back(path); }
void pushFileCancel() { state().files.emplace_back(std::nullopt); }
void pushChoice(int index) { state().choices.push_back(index); }

void cancelAtContinue(int n) {
    state().cancelAt = n;
    state().continues = 0;
}

const std::vector<Event>& events() { return state().events; }

std::string transcript() {
    std::string out;
    for (const Event& e : state().events) {
        using K = Event::Kind;
        switch (e.kind) {
        case K::Message: {
            out += "message [" + escaped(e.caption) + "] " + escaped(e.text) + " (" +
                   buttonsName(buttonsOf(e.type));
            if (const char* icon = iconName(e.type)) out += std::string(", ") + icon;
            out += std::string(") -> ") + answerName(e.answer);
            break;
        }
        case K::OpenFile: {
            out += "open-file [" + escaped(e.caption) + "]";
            for (const auto& f : e.items) out += " " + f;
            out += e.answer == IDOK ? " -> " + escaped(e.text) : std::string(" -> Cancel");
            break;
        }
        case K::List: {
            out += "list [" + escaped(e.caption) + "]";
            for (const auto& i : e.items) out += " \"" + escaped(i) + "\"";
            out += " -> " + std::to_string(e.answer);
            break;
        }
        case K::ViewLog: out += "view-log " + escaped(e.text); break;
        case K::ProgressTitle: out += "progress title " + escaped(e.text); break;
        case K::ProgressDescription: out += "progress description " + escaped(e.text); break;
        case K::ProgressMessage: out += "progress message " + escaped(e.text); break;
        case K::ProgressRange:
            out += "progress range " + std::to_string(e.value) + ".." + std::to_string(e.answer);
            break;
        case K::ProgressPosition: out += "progress position " + std::to_string(e.value); break;
        case K::ProgressShow: out += "progress show"; break;
        case K::ProgressHide: out += "progress hide"; break;
        case K::Continue: out += std::string("continue -> ") + (e.answer ? "yes" : "no"); break;
        case K::DialogOpen: out += "dialog [" + escaped(e.caption) + "]"; break;
        case K::DialogText:
            out += "dialog [" + escaped(e.caption) + "] " + std::to_string(e.value) + " = " + escaped(e.text);
            break;
        case K::DialogCheck:
            out += "dialog [" + escaped(e.caption) + "] " + std::to_string(e.value) +
                   (e.answer ? " checked" : " cleared");
            break;
        case K::DialogClick:
            out += "dialog [" + escaped(e.caption) + "] click " + std::to_string(e.value);
            break;
        case K::DialogEnd: out += "dialog [" + escaped(e.caption) + "] -> " + std::to_string(e.answer); break;
        }
        out += '\n';
    }
    return out;
}

}  // namespace scripted

namespace detail {

void record(Event e) {
    if (form() != Form::Scripted) return;
    try {
        state().events.push_back(std::move(e));
    } catch (...) {
        // A test that runs out of memory fails on its own; the caller must not.
    }
}

bool scriptedContinueCancels() {
    State& st = state();
    ++st.continues;
    return st.cancelAt > 0 && st.continues >= st.cancelAt;
}

bool terminalKeyPressed() {
    if (form() != Form::Terminal || !isatty(STDIN_FILENO)) return false;
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0 || !(p.revents & (POLLIN | POLLHUP))) return false;
    // A TTY in line mode reports input once a whole line is there; take it all.
    char buf[256];
    (void)!read(STDIN_FILENO, buf, sizeof buf);
    return true;
}

bool readTerminalLine(std::string& line) { return readLine(line); }

void terminalWrite(const std::string& text) { errWrite(text); }

void writeOut(std::string_view text) {
    std::fflush(stderr);
    const int fd = output();
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // nowhere to show it: the program goes on
        text.remove_prefix(std::size_t(n));
    }
}

bool drawsBar() { return form() == Form::Terminal && isatty(output()); }

void drawBar(const std::string& line) {
    writeOut("\r" + line + "\x1b[K");
    state().barShown = true;
}

void clearBar() {
    State& st = state();
    if (!st.barShown) return;
    writeOut("\r\x1b[K");
    st.barShown = false;
}

int terminalWidth() {
    winsize ws{};
    if (ioctl(output(), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

}  // namespace detail
}  // namespace ui

int MessageBoxA(HWND, const char* text, const char* caption, UINT type) {
    try {
        return ui::messageBox(text ? text : "", caption ? caption : "", type);
    } catch (...) {
        return ui::safeAnswer(ui::buttonsOf(type));
    }
}

int MessageBoxW(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    try {
        return MessageBoxA(owner, toUtf8(text).c_str(), toUtf8(caption).c_str(), type);
    } catch (...) {
        return ui::safeAnswer(ui::buttonsOf(type));
    }
}
