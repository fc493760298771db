// params-restore: a dump checked as a whole before anything is written, the
// differences shown, and with --apply written after a backup, each read back.
#include <CLI/CLI.hpp>
#include <chrono>
#include <ctime>
#include <iostream>
#include <optional>
#include <sstream>

#include "OnLine.h"
#include "ParamsCommands.h"
#include "ParamsRead.h"
#include "ShellWord.h"
#include "backup/AtomicFile.h"
#include "backup/ParamsDocument.h"
#include "backup/ParamsRules.h"
#include "hostkit/Console.h"
#include "hostkit/ExitCodes.h"
#include "hostkit/Interrupt.h"
#include "loader/DriverSlots.h"
#include "protocol/ParameterCode.h"
#include "zarvik/exceptions.h"

namespace zarvik::host {
namespace {

struct Difference {
    int table;
    const DumpField* field;  // the dispenser's description
    std::int64_t current;
    std::int64_t wanted;
};

std::string Stamp() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", std::localtime(&now));
    return text;
}

// The backup of `current`, created where no file is: --backup exactly (an
// existing file there is an error), or beside the dump as
// params-aA-rR-backup-STAMP.json, numbered -2, -3, ... when that name is
// taken (two runs within one second). Throws what CreateFileAtomically throws.
std::filesystem::path SaveBackup(const ParamsArgs& a, const ParamsDump& current) {
    const std::string text = DumpText(current);
    if (!a.backup.empty()) {
        CreateFileAtomically(a.backup, text);
        return a.backup;
    }
    const std::string stem =
        "params-a" + std::to_string(current.address) + "-r" + std::to_string(current.row) + "-backup-" + Stamp();
    const std::filesystem::path folder = std::filesystem::path(a.file).parent_path();
    for (int n = 1;; ++n) {
        const std::filesystem::path path = folder / (stem + (n == 1 ? "" : "-" + std::to_string(n)) + ".json");
        try {
            CreateFileAtomically(path, text);
            return path;
        } catch (const FileExists&) {
            if (n >= 1000) throw;
        }
    }
}

int Refused(const std::string& file, const std::vector<Problem>& problems) {
    std::cerr << "zarvik-host: params-restore: " << file << " cannot be restored, " << problems.size()
              << " problem(s); nothing written:\n";
    for (const Problem& p : problems) std::cerr << "  " << Describe(p) << '\n';
    return kExitConfig;
}

std::string RollBack(Session& s, const std::filesystem::path& backup) {
    std::string command = "zarvik-host --port " + ShellWord(s.Device());
    if (s.Line() != 1) command += " --line " + std::to_string(s.Line());
    return command + " params-restore --apply " + ShellWord(backup.string());
}

// Writes one value and reads it back, up to `attempts` times (a write of the
// same value again is harmless). Empty when verified, otherwise the cause.
std::string WriteVerified(Session& s, ParamsReader& reader, int address, int row, const Difference& d, int attempts) {
    std::string cause;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        std::string reply;
        try {
            slots::WriteParameter(s.Driver(), s.Line(), address,
                                  protocol::PackParameterCode(d.table, row, d.field->number),
                                  static_cast<std::int32_t>(static_cast<std::uint32_t>(d.wanted)));
            reply = s.LineResult() == 1 ? "took the write"
                                        : "did not take the write (line result " + std::to_string(s.LineResult()) + ")";
        } catch (const ESerialIO& e) {
            reply = std::string("did not answer the write (") + ErrorText(e) + ")";
        }
        // Whatever the write's reply said, the value the dispenser holds decides.
        const std::int64_t back = reader.Value(d.table, row, *d.field);
        if (back == d.wanted) return {};
        cause = "after " + std::to_string(attempt) + " attempt(s) the dispenser " + reply + " and holds " +
                std::to_string(back);
    }
    return cause;
}

// The dispenser's layout into `current`. A file with problems of its own is
// reported as such even when the dispenser cannot be reached to compare it
// with. An exit code when the restore ends here.
std::optional<int> ReadLayout(Session& s, ParamsReader& reader, const std::string& file, ParamsDump& current,
                              std::vector<Problem>& problems) {
    try {
        s.Open();
        current.tables = reader.Layout();
        return std::nullopt;
    } catch (const ReadFailure& e) {
        if (!problems.empty()) {
            problems.push_back({"", std::string("the dispenser's layout could not be read: ") + ErrorText(e)});
            return Refused(file, problems);
        }
        std::cerr << "zarvik-host: params-restore: cannot read the dispenser's layout: " << ErrorText(e)
                  << "; nothing written\n";
        return e.exitCode;
    } catch (const std::exception& e) {
        if (problems.empty()) throw;
        problems.push_back({"", std::string("the dispenser could not be reached: ") + ErrorText(e)});
        return Refused(file, problems);
    }
}

// The layouts agree: table i and field j are the same in both.
std::vector<Difference> Differences(const ParamsDump& file, const ParamsDump& current) {
    std::vector<Difference> differences;
    for (std::size_t i = 0; i < file.tables.size(); ++i) {
        for (std::size_t j = 0; j < file.tables[i].fields.size(); ++j) {
            const DumpField& wanted = file.tables[i].fields[j];
            const DumpField& now = current.tables[i].fields[j];
            if (!wanted.value || !now.value || *wanted.value == *now.value) continue;
            differences.push_back({current.tables[i].number, &now, *now.value, *wanted.value});
        }
    }
    return differences;
}

// With a backup of `current` saved first, writes each difference and reads it
// back; stops at the first that does not hold, saying how to roll back.
int Apply(Session& s, ParamsReader& reader, const ParamsArgs& a, const ParamsDump& current,
          const std::vector<Difference>& differences) {
    if (const int signal = InterruptSignal()) {
        std::cerr << "zarvik-host: params-restore interrupted by " << SignalName(signal) << "; nothing written\n";
        return kExitInterrupted;
    }
    std::filesystem::path backup;
    try {
        backup = SaveBackup(a, current);
    } catch (const std::exception& e) {
        std::cerr << "zarvik-host: params-restore: no backup, so nothing written: " << e.what() << '\n';
        return kExitConfig;
    }
    std::cout << "backup of the current values: " << ShellWord(backup.string()) << '\n'
              << "  roll back with: " << RollBack(s, backup) << std::endl;

    std::size_t written = 0;
    for (const Difference& d : differences) {
        if (const int signal = InterruptSignal()) {
            std::cerr << "zarvik-host: params-restore interrupted by " << SignalName(signal)
                      << ": written and read back: " << written << " of " << differences.size()
                      << " value(s); the rest not written\n"
                      << "  backup of the values before: " << ShellWord(backup.string()) << '\n'
                      << "  roll back with: " << RollBack(s, backup) << '\n';
            return kExitInterrupted;
        }
        std::string cause;
        int exitCode = kExitNotGood;
        try {
            cause = WriteVerified(s, reader, current.address, current.row, d, a.attempts);
        } catch (const ReadFailure& e) {
            cause = std::string("cannot read it back: ") + ErrorText(e);
            exitCode = e.exitCode;
        }
        if (cause.empty()) {
            ++written;
            std::cout << "  " << FieldTitle(d.table, *d.field) << ": " << d.current << " -> " << d.wanted
                      << ", written and read back" << std::endl;
            continue;
        }
        std::cerr << "zarvik-host: params-restore stopped at " << FieldTitle(d.table, *d.field) << " (" << d.current
                  << " -> " << d.wanted << "): " << cause << '\n'
                  << "  written and read back before it: " << written << " of " << differences.size()
                  << " value(s); the rest not written\n"
                  << "  roll back with: " << RollBack(s, backup) << '\n';
        return exitCode;
    }
    std::cout << written << " value(s) written and read back\n";
    return kExitOk;
}

void ParamsRestoreOptions(CLI::App& c, Cli& cli) {
    ParamsArgs& a = cli.args.params;
    c.add_option("FILE", a.file, "a params-dump file")->required();
    c.add_option("--address,-a", a.targetAddress, "target bus address (default: the file's)")
        ->check(CLI::Range(1, 255));
    c.add_option("--row,-r", a.targetRow, "target row (default: the file's)")->check(CLI::Range(1, kMaxRow));
    c.add_flag("--other-target", a.otherTarget, "restore to an address or row other than the file's");
    c.add_flag("--apply", a.apply, "write the differences after a backup, reading each back");
    c.add_option("--backup", a.backup,
                 "with --apply: the backup of the current values (default: params-aA-rR-backup-TIME.json beside "
                 "FILE)");
    c.add_flag("--force", a.force, "accept values outside their field's limits (never wider than the field)");
    c.add_flag("--ignore-checksum", a.ignoreChecksum,
               "accept a file without its checksum or with a wrong one (an edited dump); every other check stays");
    AddAttempts(c, a);
    c.footer(
        "Before anything is written the whole file is checked and every problem reported with its JSON path: its "
        "size (at most 8 MiB), checksum, address and row against the target, its tables and fields against the "
        "dispenser's own descriptions, every value's type, width and limits. Without --apply only the differences "
        "are shown. With --apply the current values are saved to a backup first; then each difference is written "
        "and read back, and the first that cannot be verified stops the restore with what was written and how to "
        "roll back.\n"
        "Exit codes: 0 checked (with --apply: written and verified); 1 no reply; 3 a read or write did not "
        "succeed; 4 the file cannot be restored (its problems listed) or the backup could not be written.");
}

}  // namespace

int RunParamsRestore(Session& s, const ParamsArgs& a) {
    ReadOptions options;
    options.ignoreChecksum = a.ignoreChecksum;
    const DumpReading reading = ReadDumpFile(a.file, options);
    if (!reading.dump) return Refused(a.file, reading.problems);
    const ParamsDump& file = *reading.dump;
    std::vector<Problem> problems = reading.problems;

    const int address = a.targetAddress != 0 ? a.targetAddress : file.address;
    const int row = a.targetRow != 0 ? a.targetRow : file.row;
    for (auto& p : CheckTarget(file, address, row, a.otherTarget)) problems.push_back(std::move(p));

    ParamsReader reader(s, address, a.attempts);
    ParamsDump current;
    current.address = address;
    current.row = row;
    if (const auto ended = ReadLayout(s, reader, a.file, current, problems)) return *ended;
    for (auto& p : CompareLayout(file, current.tables, row)) problems.push_back(std::move(p));
    for (auto& p : CheckValues(file, a.force)) problems.push_back(std::move(p));
    if (!problems.empty()) return Refused(a.file, problems);

    try {
        reader.ReadValues(current);
    } catch (const ReadFailure& e) {
        std::cerr << "zarvik-host: params-restore: cannot read the current values: " << ErrorText(e)
                  << "; nothing written\n";
        return e.exitCode;
    }

    const std::vector<Difference> differences = Differences(file, current);
    std::cout << "params-restore: " << a.file << " (address " << file.address << ", row " << file.row
              << ") against address " << address << ", row " << row << ": " << differences.size() << " difference(s)\n";
    for (const Difference& d : differences)
        std::cout << "  " << FieldTitle(d.table, *d.field) << ": dispenser " << d.current << ", file " << d.wanted
                  << '\n';
    if (!a.apply || differences.empty()) {
        if (!differences.empty()) std::cout << "nothing written (--apply writes them)\n";
        return kExitOk;
    }
    return Apply(s, reader, a, current, differences);
}

int RunParamsRestoreCommand(Session& s, const CommandArgs& a) { return RunParamsRestore(s, a.params); }

extern const Command kParamsRestoreCommand{
    "params-restore",
    "check a dump against the dispenser and show the differences; --apply writes them",
    ParamsRestoreOptions,
    CheckDevice,
    OnSession<RunParamsRestoreCommand>,
    false,
    false};

}  // namespace zarvik::host
