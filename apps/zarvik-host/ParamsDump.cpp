// params-dump: every table, field description and value of one row, complete
// or not at all.
#include <CLI/CLI.hpp>
#include <iostream>

#include "OnLine.h"
#include "ParamsCommands.h"
#include "ParamsRead.h"
#include "backup/AtomicFile.h"
#include "backup/ParamsDocument.h"
#include "hostkit/Console.h"
#include "hostkit/ExitCodes.h"

namespace zarvik::host {

namespace {

void ParamsDumpOptions(CLI::App& c, Cli& cli) {
    ParamsArgs& a = cli.args.params;
    c.add_option("--address,-a", a.address, "bus address")->check(CLI::Range(1, 255))->capture_default_str();
    c.add_option("--row,-r", a.row, "row")->check(CLI::Range(1, kMaxRow))->capture_default_str();
    c.add_option("--output,-o", a.output,
                 "write the dump to this file (a temporary file beside it, flushed to the disk, renamed when "
                 "complete); default: stdout once complete");
    AddAttempts(c, a);
    c.footer(
        "The dump holds the address, the row, every table and field description (name, type, width, limits), the "
        "row's values and a CRC-32 checksum of its contents. It is complete or not written: each read is tried up "
        "to --attempts times, and a table or field that still cannot be read fails the dump with its name.\n"
        "Exit codes: 0 complete; 1 a read got no reply; 3 a read got no good reply; 4 the file could not be "
        "written.");
}

}  // namespace

int RunParamsDump(Session& s, const ParamsArgs& a) {
    const std::string where = a.output.empty() ? std::string("nothing printed") : "nothing written to " + a.output;
    s.Open();
    ParamsReader reader(s, a.address, a.attempts);
    ParamsDump dump;
    dump.address = a.address;
    dump.row = a.row;
    try {
        dump.tables = reader.Layout();
        reader.ReadValues(dump);
    } catch (const ReadFailure& e) {
        std::cerr << "zarvik-host: params-dump failed: " << ErrorText(e) << "; " << where << '\n';
        return e.exitCode;
    }
    const std::string text = DumpText(dump);
    if (a.output.empty()) {
        std::cout << text << std::flush;
        if (!std::cout) {
            std::cerr << "zarvik-host: params-dump: stdout could not take the dump\n";
            return kExitConfig;
        }
    } else {
        try {
            WriteFileAtomically(a.output, text);
        } catch (const std::exception& e) {
            std::cerr << "zarvik-host: params-dump: " << ErrorText(e) << '\n';
            return kExitConfig;
        }
    }
    std::size_t fields = 0, values = 0;
    for (const DumpTable& t : dump.tables) {
        fields += t.fields.size();
        for (const DumpField& f : t.fields) values += f.value ? 1 : 0;
    }
    std::cerr << "params-dump: address " << dump.address << " row " << dump.row << ": " << dump.tables.size()
              << " table(s), " << fields << " field(s), " << values << " value(s)";
    if (reader.Repeats() > 0) std::cerr << ", " << reader.Repeats() << " request(s) repeated";
    if (!a.output.empty()) std::cerr << ", written to " << a.output;
    std::cerr << '\n';
    return kExitOk;
}

int RunParamsDumpCommand(Session& s, const CommandArgs& a) { return RunParamsDump(s, a.params); }

extern const Command kParamsDumpCommand{"params-dump",
                                        "every table, field and value of a row as JSON, complete or failed",
                                        ParamsDumpOptions,
                                        CheckDevice,
                                        OnSession<RunParamsDumpCommand>,
                                        false,
                                        false};

}  // namespace zarvik::host
