#include "Station.h"

#include <stdexcept>

#include "zarvik/exports.h"

zarvik_station::zarvik_station(std::int32_t options) : port(std::make_unique<zarvik::port::SerialPortManager>()) {
    port->SetTraceHook([this](const zarvik::port::FrameTraceEvent& event) { replies.Observe(event); });
    driver = GetVM30(options, 0, port.get());
    if (driver == nullptr) throw std::runtime_error("GetVM30 returned no driver object");
}

zarvik_station::~zarvik_station() {
    for (int line = 1; line <= kLines; ++line) {
        try {
            port->CloseLine(line);
        } catch (...) {
            // Its device still goes with the port service below.
        }
    }
    delete driver;
}
