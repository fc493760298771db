// open: open the line.
#include <iostream>

#include "OnLine.h"
#include "Output.h"

namespace zarvik::host {

int RunOpen(Session& s, const CommandArgs&) {
    s.Open();
    std::cout << "line " << s.Line() << " open on " << s.Device() << '\n';
    return PrintResult(s);
}

extern const Command kOpenCommand{"open", "open the line", nullptr, CheckDevice, OnSession<RunOpen>, false, false};

}  // namespace zarvik::host
