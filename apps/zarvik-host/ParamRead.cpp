// param-read: one parameter by its code 1TTRRFF.
#include <CLI/CLI.hpp>
#include <iostream>

#include "OnLine.h"
#include "Output.h"
#include "loader/DriverSlots.h"

namespace zarvik::host {
namespace {

void ParamReadOptions(CLI::App& c, Cli& cli) {
    AddressOptions(c, cli);
    c.add_option("--code,-c", cli.args.code, "parameter code 1TTRRFF")->required();
}

}  // namespace

int RunParamRead(Session& s, const CommandArgs& a) {
    s.Open();
    const std::int32_t value = slots::ReadParameter(s.Driver(), s.Line(), a.address, a.code);
    const bool good = s.LineResult() == 1;
    if (a.json)
        return EmitJson(s, a,
                        {{"address", a.address}, {"code", a.code}, {"value", good ? json(value) : json(nullptr)}});
    if (good) std::cout << "value: " << value << '\n';
    return PrintResult(s);
}

extern const Command kParamReadCommand{
    "param-read", "read one parameter", ParamReadOptions, CheckDevice, OnSession<RunParamRead>, true, false};

}  // namespace zarvik::host
