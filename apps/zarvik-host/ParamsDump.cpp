// params-dump: every table, field description and value of one row, complete
// or not at all.
#include <iostream>

#include "AtomicFile.h"
#include "Console.h"
#include "ExitCodes.h"
#include "ParamsCommands.h"
#include "ParamsDocument.h"
#include "ParamsRead.h"

namespace zarvik::host {

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

}  // namespace zarvik::host
