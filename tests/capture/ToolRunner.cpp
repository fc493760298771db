#include "ToolRunner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "CaptureTestSupport.h"

extern char** environ;

namespace zarvik::capture::testing {

namespace {

std::atomic<int> g_outputs{0};

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<char*> Argv(const std::vector<std::string>& argv) {
    std::vector<char*> out;
    for (const auto& a : argv) out.push_back(const_cast<char*>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

// Spawns with stdout to `outFd` (or the file `outPath`) and stderr to the file `errPath`.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& outPath, int outFd, const std::string& errPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, outFd);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // The stop signals as a tool gets them from a terminal, even when this
    // test runs where they are ignored (a background job's SIGINT, nohup).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    auto args = Argv(argv);
    const int r = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(r));
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string NextOutput(const char* what) { return TempPath(std::to_string(++g_outputs) + "." + what); }

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    for (const auto& dir : Split(path != nullptr ? path : "/usr/bin:/bin", ':'))
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    return false;
}

}  // namespace

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> out(1);
    for (const char c : text) {
        if (c == separator)
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    for (auto& line : Split(text, '\n'))
        if (!line.empty()) out.push_back(line);
    return out;
}

Finished Run(const std::vector<std::string>& argv) {
    const std::string out = NextOutput("out"), err = NextOutput("err");
    Finished f;
    f.code = Wait(Spawn(argv, out, -1, err));
    f.out = ReadText(out);
    f.err = ReadText(err);
    return f;
}

Started::Started(const std::vector<std::string>& argv) : outPath_(NextOutput("out")), errPath_(NextOutput("err")) {
    pid_ = Spawn(argv, outPath_, -1, errPath_);
}

Started::~Started() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        Wait(pid_);
    }
}

std::string Started::Out() const { return ReadText(outPath_); }

bool Started::WaitFor(const std::string& text) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Out().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

Finished Started::Finish() {
    Finished f;
    f.code = Wait(pid_);
    pid_ = -1;
    f.out = ReadText(outPath_);
    f.err = ReadText(errPath_);
    return f;
}

Background::Background(const std::vector<std::string>& argv) : errPath_(NextOutput("err")) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    try {
        pid_ = Spawn(argv, "", fds[1], errPath_);
    } catch (...) {
        close(fds[0]);
        close(fds[1]);
        throw;
    }
    close(fds[1]);
    out_ = fds[0];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char c = 0;
        if (read(out_, &c, 1) != 1) break;
        if (c == '\n') return;
        firstLine_ += c;
    }
    firstLine_.clear();
}

Background::~Background() { Stop(); }

std::string Background::Stop(int signal) {
    if (pid_ > 0) {
        kill(pid_, signal);
        Wait(pid_);
        pid_ = -1;
    }
    if (out_ >= 0) close(out_);
    out_ = -1;
    return ReadText(errPath_);
}

Tshark::Tshark(std::string dissector) : dissector_(std::move(dissector)) {
    found_ = OnPath("tshark");
    if (!found_) return;
    // The user's own preferences and plugins (an older copy of this
    // dissector, say) stay out of the tests.
    const std::string home = TempPath("home");
    std::filesystem::create_directories(home + "/wireshark");
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    setenv("WIRESHARK_CONFIG_DIR", (home + "/wireshark").c_str(), 1);
    const auto loads = [this] {
        auto cmd = prefix_;
        cmd.insert(cmd.end(), {"tshark", "-G", "protocols", "-X", "lua_script:" + dissector_});
        const Finished f = Run(cmd);
        if (f.out.find("\tzarvik\n") != std::string::npos) return std::string();
        return "tshark -G protocols does not list zarvik (exit " + std::to_string(f.code) + "): " + f.err;
    };
    problem_ = loads();
    if (problem_.empty() || geteuid() != 0 || !OnPath("setpriv")) return;
    // Lua refused for root: run as nobody, in a scratch folder everybody may use.
    for (const auto& p : std::filesystem::recursive_directory_iterator(TempPath(""))) chmod(p.path().c_str(), 0777);
    chmod(TempPath("").c_str(), 0777);
    prefix_ = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    const std::string asRoot = problem_;
    problem_ = loads();
    if (!problem_.empty()) problem_ = "as root: " + asRoot + "; as nobody: " + problem_;
}

std::vector<std::string> Tshark::Command() const {
    auto cmd = prefix_;
    cmd.insert(cmd.end(), {"tshark", "-X", "lua_script:" + dissector_, "-2"});
    return cmd;
}

std::string Tshark::Read(const std::string& capture, const std::vector<std::string>& args) const {
    if (!prefix_.empty()) chmod(capture.c_str(), 0644);
    auto cmd = Command();
    cmd.insert(cmd.end(), {"-r", capture});
    cmd.insert(cmd.end(), args.begin(), args.end());
    const Finished f = Run(cmd);
    EXPECT_EQ(f.code, 0) << f.err;
    EXPECT_EQ(f.err.find("Lua"), std::string::npos) << f.err;
    return f.out;
}

std::vector<std::vector<std::string>> Tshark::Fields(const std::string& capture, const std::vector<std::string>& fields,
                                                     const std::string& filter) const {
    std::vector<std::string> args{"-T", "fields", "-E", "occurrence=f", "-E", "separator=/t"};
    for (const auto& field : fields) args.insert(args.end(), {"-e", field});
    // A Lua error while dissecting shows only in the frame's tree.
    args.insert(args.end(), {"-e", "_ws.lua.error"});
    if (!filter.empty()) args.insert(args.end(), {"-Y", filter});
    std::vector<std::vector<std::string>> rows;
    for (const auto& line : Lines(Read(capture, args))) {
        auto row = Split(line, '\t');
        EXPECT_EQ(row.size(), fields.size() + 1) << line;
        if (row.size() != fields.size() + 1) continue;
        EXPECT_EQ(row.back(), "") << "Lua error in " << capture;
        row.pop_back();
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace zarvik::capture::testing
