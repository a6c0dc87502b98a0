// tests/tools/import_terminal_test.cpp: `tarvo import` on a terminal (a pseudo-terminal this test
// drives as a user would): Enter alone answers the closing question No, input typed before the
// question is left for the shell, "y" shows the log in a viewer that reads the user's keys and
// writes to the user's terminal, and Ctrl-C ends the viewer and lets the tool end as it should.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "support/test_data.h"

namespace fs = std::filesystem;

namespace {

// A program on a pseudo-terminal of its own, as its controlling terminal.
class Session {
public:
    // Runs `sh -c script` in `dir` with the environment changes (an empty value unsets).
    Session(const std::string& script, const fs::path& dir, const std::map<std::string, std::string>& env) {
        winsize size{};
        size.ws_row = 24;
        size.ws_col = 100;
        pid_ = forkpty(&master_, nullptr, nullptr, &size);
        if (pid_ == 0) {
            if (chdir(dir.c_str()) != 0) _exit(126);
            for (const auto& [name, value] : env) {
                if (value.empty()) unsetenv(name.c_str());
                else setenv(name.c_str(), value.c_str(), 1);
            }
            execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Session() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) close(master_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool started() const { return pid_ > 0 && master_ >= 0; }
    void send(const std::string& keys) { (void)!write(master_, keys.data(), keys.size()); }
    // Reads until `text` has been shown (true), or the terminal closes or a minute passes (false).
    bool waitFor(const std::string& text) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (seen_.find(text, from_) == std::string::npos) {
            if (!readSome(end)) return false;
        }
        from_ = seen_.find(text, from_) + text.size();
        return true;
    }
    // Reads to the end (every holder of the terminal gone) and gives the exit status, or nullopt
    // when that takes longer than `wait`.
    std::optional<int> finish(std::chrono::seconds wait = std::chrono::seconds(60)) {
        const auto end = std::chrono::steady_clock::now() + wait;
        while (readSome(end)) {
        }
        if (!closed_) return std::nullopt;
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_) return std::nullopt;
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    const std::string& seen() const { return seen_; }

private:
    bool readSome(std::chrono::steady_clock::time_point end) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, int(left.count())) <= 0) return false;
        char buf[4096];
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) {
            closed_ = true;  // EIO: the last holder of the terminal is gone
            return false;
        }
        seen_.append(buf, std::size_t(n));
        return true;
    }

    pid_t pid_ = -1;
    int master_ = -1;
    std::string seen_;
    std::size_t from_ = 0;
    bool closed_ = false;
    bool reaped_ = false;
};

std::string quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

constexpr char kQuestion[] = "Yes or No? [y/n] ";

class TarvoOnTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_DATA();
        char pattern[] = "/tmp/tarvo_terminal_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        fs::create_symlink(testdata::path("s58/AA400001/ENC_ROOT/AA400001.000"), dir / "AA400001.000");
        import = std::string(TARVO_BINARY_DIR) + "/bin/tarvo import AA400001.000 charts.gpkg";
    }
    void TearDown() override {
        std::error_code ec;
        if (!dir.empty()) fs::remove_all(dir, ec);
    }
    fs::path dir;
    std::string import;
};

TEST_F(TarvoOnTerminal, EnterAloneAnswersNo) {
    const std::string marker = (dir / "viewer-ran").string();
    Session s(import, dir, {{"VISUAL", "touch " + quote(marker) + " ||"}, {"EDITOR", ""}, {"TERM", "xterm"}});
    ASSERT_TRUE(s.started());
    ASSERT_TRUE(s.waitFor(kQuestion)) << s.seen();
    s.send("\r");
    EXPECT_EQ(s.finish(), 0) << s.seen();
    EXPECT_NE(s.seen().find("Imported 1 cell"), std::string::npos) << s.seen();
    EXPECT_FALSE(fs::exists(marker)) << "Enter opened the viewer";
    EXPECT_EQ(s.seen().find(kQuestion, s.seen().find(kQuestion) + 1), std::string::npos) << "asked again";
}

TEST_F(TarvoOnTerminal, InputTypedAheadIsLeftForTheShell) {
    // The shell reads what is left after the tool ends.
    Session s(import + "; read line; echo \"shell got [$line]\"", dir, {{"VISUAL", "cat"}, {"TERM", "xterm"}});
    ASSERT_TRUE(s.started());
    s.send("ls -l\r");
    EXPECT_EQ(s.finish(), 0) << s.seen();
    EXPECT_NE(s.seen().find("shell got [ls -l]"), std::string::npos) << s.seen();
    EXPECT_EQ(s.seen().find("Import report for cell"), std::string::npos) << "typed-ahead input opened the viewer";
}

TEST_F(TarvoOnTerminal, YesShowsTheLogOnTheUsersTerminal) {
    // The viewer must read the user's keys and write where the user sees it: its input, output and
    // error are all the user's terminal (a pager takes its keys from any of them).
    const std::string viewer =
        "echo viewer ready; test -t 0 && test -t 1 && test \"$(readlink /proc/$$/fd/2)\" = \"$(tty)\" && "
        "test \"$(readlink /proc/$$/fd/1)\" = \"$(tty)\" && read key && echo \"viewer read [$key]\" && head -2";
    Session s(import, dir, {{"VISUAL", viewer}, {"TERM", "xterm"}});
    ASSERT_TRUE(s.started());
    ASSERT_TRUE(s.waitFor(kQuestion)) << s.seen();
    s.send("y\r");
    ASSERT_TRUE(s.waitFor("viewer ready")) << s.seen();
    s.send("q\r");
    EXPECT_EQ(s.finish(), 0) << s.seen();
    EXPECT_NE(s.seen().find("viewer read [q]"), std::string::npos) << s.seen();
    EXPECT_NE(s.seen().find("Import report for cell  AA400001.000"), std::string::npos) << s.seen();
    EXPECT_NE(s.seen().find("Imported 1 cell"), std::string::npos) << s.seen();
}

TEST_F(TarvoOnTerminal, CtrlCEndsTheViewerAndTheTool) {
    if (std::system("less --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "less is not installed";
    // The tool itself on the terminal (a shell around it would end on Ctrl-C by itself).
    Session s("exec " + import, dir, {{"VISUAL", ""}, {"EDITOR", ""}, {"LESS", ""}, {"TERM", "xterm"}});
    ASSERT_TRUE(s.started());
    ASSERT_TRUE(s.waitFor(kQuestion)) << s.seen();
    s.send("y\r");
    ASSERT_TRUE(s.waitFor("Import report for cell")) << "less shows the log: " << s.seen();
    s.send("\x03");
    std::optional<int> status = s.finish(std::chrono::seconds(10));
    if (!status) {
        // A Ctrl-C typed while the viewer is still setting up the terminal can go with the input it
        // flushes; a user presses it again.
        s.send("\x03");
        status = s.finish();
    }
    ASSERT_TRUE(status.has_value()) << "the viewer or the tool is still running: " << s.seen();
    EXPECT_EQ(*status, 0) << s.seen();
    EXPECT_NE(s.seen().find("Imported 1 cell"), std::string::npos) << s.seen();
}

}  // namespace
