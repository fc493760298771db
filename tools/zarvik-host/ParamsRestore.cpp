// params-restore: a params-dump file compared with the dispenser; --apply
// writes the differences and reads each back.
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "DriverSlots.h"
#include "ParamsCommands.h"
#include "ParamsRead.h"
#include "protocol/ParameterCode.h"

namespace zarvik::host {

using nlohmann::json;

int RunParamsRestore(Session& s, const CommandArgs& a) {
    std::ifstream in(a.file);
    if (!in) throw std::runtime_error("cannot read " + a.file);
    json doc;
    try {
        doc = json::parse(in);
    } catch (const json::exception& e) {
        throw std::runtime_error(a.file + ": not a parameter dump: " + e.what());
    }
    if (!doc.is_object() || !doc.contains("tables") || !doc["tables"].is_array())
        throw std::runtime_error(a.file + ": no \"tables\" array");
    s.Open();
    int differences = 0, failures = 0;
    for (const json& jt : doc["tables"]) {
        const int t = jt.value("number", 0);
        if (!jt.contains("fields") || !jt["fields"].is_array()) continue;
        for (const json& jf : jt["fields"]) {
            if (!jf.contains("value") || !jf["value"].is_number_integer()) continue;
            const int f = jf.value("number", 0);
            const auto wanted = jf["value"].get<std::int64_t>();
            if (t < 1 || t > 99 || f < 1 || f > 99 || wanted < INT32_MIN || wanted > UINT32_MAX) {
                std::cout << "table " << t << " field " << f << ": skipped, out of range\n";
                continue;
            }
            const auto value = static_cast<std::int32_t>(wanted);
            const auto current = ReadValue(s, a.address, t, a.row, f);
            if (current && *current == value) continue;
            ++differences;
            std::cout << "table " << t << " field " << f << " (" << jf.value("name", "") << "): dispenser "
                      << (current ? std::to_string(*current) : std::string("unreadable")) << ", file " << value;
            if (!a.apply) {
                std::cout << '\n';
                continue;
            }
            slots::WriteParameter(s.Driver(), s.Line(), a.address, protocol::PackParameterCode(t, a.row, f), value);
            const bool written = s.LineResult() == 1;
            const auto back = ReadValue(s, a.address, t, a.row, f);
            if (written && back && *back == value) {
                std::cout << " -> written, verified\n";
            } else {
                ++failures;
                std::cout << " -> " << (written ? "read back " : "refused, read back ")
                          << (back ? std::to_string(*back) : std::string("unreadable")) << '\n';
            }
        }
    }
    std::cout << differences << " difference(s)";
    if (a.apply) std::cout << ", " << failures << " not written";
    std::cout << (a.apply || differences == 0 ? "" : " (use --apply to write them)") << '\n';
    s.PrintLineResult(std::cout);
    return failures == 0 ? 0 : 1;
}

}  // namespace zarvik::host
