// Head office's commands, decided: a command is applied only when it parses
// strictly, has not expired and its id was never taken before (the register
// keeps ids until they expire, across restarts). Every command gets exactly
// one reply, applied or refused with the cause.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "telemetry/Messages.h"

namespace zarvik::telemetry {

// Where set-price commands go (zarvikd: its PumpControl). Returns true when
// the price is set now, false when it is held until the nozzle is idle;
// throws with the cause when it cannot be set.
class PriceSetter {
public:
    virtual ~PriceSetter() = default;
    virtual bool SetPrice(int line, int dispenser, int nozzle, double price) = 0;
};

// Takes a command id until it expires: false when it was taken before.
class CommandRegister {
public:
    virtual ~CommandRegister() = default;
    virtual bool Remember(const std::string& id, WallTime expires, WallTime now) = 0;
};

// Applies PAYLOAD's command at NOW and returns its reply (ReplyJson). TOTALS
// publishes the totals for a totals command; it throws with the cause when
// it cannot.
std::string HandleCommand(std::string_view payload, WallTime now, CommandRegister& ids, PriceSetter& prices,
                          const std::function<void()>& totals);

}  // namespace zarvik::telemetry
