// What the station service's control routes ask of the lines: authorise a
// sale on a nozzle, stop a pump, stop every pump, set a nozzle's price. The
// service runs each as a job on the line's worker (stops as urgent jobs,
// ahead of the next poll); a fake stands in for it in tests.
//
// Every call throws Refused when the dispenser did not accept a command (the
// text is the cause), LineFailure when the line did not answer, JobTimeout
// when the worker did not end the job in time. None reports a command as
// accepted that the dispenser did not accept.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "service/LineWorker.h"

namespace zarvik::service {

class Refused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The sales journal cannot take a new sale (full: disk or size limit, or it
// failed): the sale is refused before anything is sent.
class JournalUnavailable : public std::runtime_error {
public:
    JournalUnavailable(const std::string& cause, bool full) : std::runtime_error(cause), full_(full) {}
    bool Full() const { return full_; }

private:
    bool full_;
};

enum class PresetKind { Litres, Money };

struct Authorisation {
    int line = 0;
    int dispenser = 0;
    int nozzle = 0;
    PresetKind kind = PresetKind::Litres;
    double amount = 0.0;  // litres or money
    double price = 0.0;
};

class PumpControl {
public:
    virtual ~PumpControl() = default;
    // Sets price and dose and starts the nozzle: {"line", "dispenser",
    // "nozzle", "price", "litres"|"money", "accepted": true, "state",
    // "transaction"? (the journal's id of the sale)}.
    virtual json Authorise(const Authorisation& sale) = 0;
    // Stops the nozzle, or every active nozzle of the pump (authorised, lifted,
    // delivering; all of them when its state is not known):
    // {"line", "dispenser", "stopped": [{"line", "dispenser", "nozzle",
    // "result", "cause"?}], "complete"}.
    virtual json Stop(int line, int dispenser, std::optional<int> nozzle) = 0;
    // Every active nozzle of every pump: {"stopped": [...], "complete"}.
    virtual json EmergencyStop() = 0;
    // Sets a nozzle's price, or holds it while the nozzle is not idle:
    // {"line", "dispenser", "nozzle", "price", "pending"}.
    virtual json SetPrice(int line, int dispenser, int nozzle, double price) = 0;
};

// A command the service sends for a sale, as a journal sees it.
struct SaleCommand {
    enum class Kind { Price, Dose, Start, Stop };
    Kind kind = Kind::Start;
    int line = 0;
    int dispenser = 0;
    int nozzle = 0;
    std::optional<Authorisation> sale;  // for price, dose and start
};

// How a command was answered: taken, refused by the dispenser, or not
// answered at all (the dispenser may or may not have taken it).
enum class Answer { Accepted, Refused, NoAnswer };

// Told, on the line's worker, before each command is sent (it may refuse the
// sale by throwing: nothing is sent then), after its answer, and after every
// good poll of a dispenser. The default records nothing.
class SaleRecorder {
public:
    virtual ~SaleRecorder() = default;
    virtual void Sending(LineContext&, const SaleCommand&) {}
    virtual void Answered(LineContext&, const SaleCommand&, Answer, const std::string& /*cause*/) {}
    virtual void Polled(LineContext&, const host::StationDispenser&, const PumpReading&) {}
    // The journal's id of the sale open on the nozzle, if it keeps one.
    virtual std::optional<std::int64_t> OpenSale(int /*line*/, int /*dispenser*/, int /*nozzle*/) {
        return std::nullopt;
    }
};

}  // namespace zarvik::service
