// Runs the tools as processes for the capture tests: zarvik-host and tshark
// to completion, zarvik-sim in the background on its pseudo-terminal.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace zarvik::capture::testing {

struct Finished {
    int code = -1;  // exit code, or -1 when killed by a signal
    std::string out;
    std::string err;
};

// Runs argv[0] (searched on PATH) with its stdout and stderr in files of the scratch folder.
Finished Run(const std::vector<std::string>& argv);

// A tool running with stdout and stderr in files, to be signalled while it
// works: Out() reads what it has printed so far.
class Started {
public:
    explicit Started(const std::vector<std::string>& argv);
    ~Started();
    Started(const Started&) = delete;
    Started& operator=(const Started&) = delete;
    pid_t Pid() const { return pid_; }
    std::string Out() const;
    // Waits for stdout to hold `text` (up to 20 s); false if it never did.
    bool WaitFor(const std::string& text) const;
    Finished Finish();

private:
    pid_t pid_ = -1;
    std::string outPath_, errPath_;
};

// zarvik-sim (or any program that prints a device path as its first line)
// running until the object goes; SIGTERM then.
class Background {
public:
    explicit Background(const std::vector<std::string>& argv);
    ~Background();
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    // The first line of its stdout (waits up to 10 s); empty if none came.
    const std::string& FirstLine() const { return firstLine_; }
    // Stops it with `signal` and returns what it wrote on stderr.
    std::string Stop(int signal = SIGTERM);

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string errPath_;
    std::string firstLine_;
};

// tshark with the dissector, isolated from the user's own Wireshark
// settings and plugins (HOME and WIRESHARK_CONFIG_DIR in the scratch
// folder). Some Wireshark builds run no Lua for root: then it runs under an
// unprivileged user id (setpriv), which works only where the files it reads
// are readable by everyone.
class Tshark {
public:
    explicit Tshark(std::string dissector);
    bool Found() const { return found_; }
    // Empty when the dissector loads; otherwise why it does not.
    const std::string& Problem() const { return problem_; }
    // tshark -X lua_script:<dissector> -2 -r <capture> <args...>; fails the test on a nonzero exit.
    std::string Read(const std::string& capture, const std::vector<std::string>& args) const;
    // One row per frame, one column per field (first occurrence; empty when
    // absent); fails the test for a frame whose dissection raised a Lua error.
    std::vector<std::vector<std::string>> Fields(const std::string& capture, const std::vector<std::string>& fields,
                                                 const std::string& filter = "") const;

private:
    std::vector<std::string> Command() const;
    std::string dissector_;
    std::vector<std::string> prefix_;
    bool found_ = false;
    std::string problem_;
};

std::vector<std::string> Lines(const std::string& text);
std::vector<std::string> Split(const std::string& text, char separator);

}  // namespace zarvik::capture::testing
