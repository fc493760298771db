#include "station/StationFile.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <nlohmann/json.hpp>

#include "protocol/Frame.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace zarvik::host {
namespace {

using nlohmann::json;

// The rates the port service opens a line at.
constexpr int kBauds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
constexpr int kMaxLines = port::SerialPortManager::kLines;
constexpr int kMaxDispensers = 32;
constexpr int kMaxNozzles = 6;

// Walks the document; every check names the key it looks at.
class Checker {
public:
    explicit Checker(const std::string& source) : source_(source) {}

    [[noreturn]] void Fail(const std::string& key, const std::string& problem) const {
        throw StationFileError(source_, key, problem);
    }

    void Object(const json& v, const std::string& key, std::initializer_list<const char*> known) const {
        if (!v.is_object()) Fail(key, "must be an object, not " + Kind(v));
        for (const auto& item : v.items()) {
            // A named reference, not a structured binding: clang 14 cannot capture one in a lambda.
            const std::string& name = item.key();
            if (std::find_if(known.begin(), known.end(), [&](const char* k) { return name == k; }) != known.end())
                continue;
            std::string list;
            for (const char* k : known) list += (list.empty() ? "" : ", ") + std::string(k);
            Fail(key + "." + name, "unknown key (known here: " + list + ")");
        }
    }

    const json& Array(const json& v, const std::string& key, std::size_t low, std::size_t high) const {
        if (!v.is_array()) Fail(key, "must be an array, not " + Kind(v));
        if (v.size() < low || v.size() > high)
            Fail(key, "must hold " + std::to_string(low) + " to " + std::to_string(high) + " entries, holds " +
                          std::to_string(v.size()));
        return v;
    }

    const json& Required(const json& object, const std::string& key, const char* name) const {
        const auto it = object.find(name);
        if (it == object.end()) Fail(key + "." + name, "missing");
        return *it;
    }

    int Integer(const json& v, const std::string& key, int low, int high) const {
        const std::string range = "an integer from " + std::to_string(low) + " to " + std::to_string(high);
        if (!v.is_number_integer()) Fail(key, "must be " + range + ", not " + Kind(v));
        // Non-negative numbers are read as unsigned, negative ones as signed.
        const bool fits = v.is_number_unsigned() ? v.get<std::uint64_t>() <= static_cast<std::uint64_t>(high) &&
                                                       static_cast<std::int64_t>(v.get<std::uint64_t>()) >= low
                                                 : v.get<std::int64_t>() >= low && v.get<std::int64_t>() <= high;
        if (!fits) Fail(key, "must be " + range + ", is " + v.dump());
        return static_cast<int>(v.get<std::int64_t>());
    }

    std::string Text(const json& v, const std::string& key) const {
        if (!v.is_string()) Fail(key, "must be a string, not " + Kind(v));
        const std::string text = v.get<std::string>();
        if (text.empty()) Fail(key, "must not be empty");
        return text;
    }

private:
    static std::string Kind(const json& v) {
        if (v.is_number()) return "the number " + v.dump();
        if (v.is_string()) return "the string " + v.dump();
        return std::string(v.type_name());
    }
    const std::string& source_;
};

std::string At(const std::string& key, std::size_t index) { return key + "[" + std::to_string(index) + "]"; }

std::vector<std::string> NozzleNames(const Checker& c, const json& v, const std::string& key, int nozzles) {
    c.Array(v, key, static_cast<std::size_t>(nozzles), static_cast<std::size_t>(nozzles));
    std::vector<std::string> names;
    for (std::size_t i = 0; i < v.size(); ++i) names.push_back(c.Text(v[i], At(key, i)));
    return names;
}

StationDispenser Dispenser(const Checker& c, const json& v, const std::string& key) {
    c.Object(v, key, {"number", "nozzles", "name", "nozzleNames"});
    StationDispenser d;
    d.number = c.Integer(c.Required(v, key, "number"), key + ".number", 1, kMaxDispensers);
    d.nozzles = c.Integer(c.Required(v, key, "nozzles"), key + ".nozzles", 1, kMaxNozzles);
    if (v.contains("name")) d.name = c.Text(v["name"], key + ".name");
    if (v.contains("nozzleNames")) d.nozzleNames = NozzleNames(c, v["nozzleNames"], key + ".nozzleNames", d.nozzles);
    return d;
}

// Two dispensers share a bus address, and an odd dispenser's sixth nozzle is
// the same nozzle byte as its even neighbour's first: both cannot be there.
void CheckNozzleBytes(const Checker& c, const StationLine& line, const std::string& key) {
    for (std::size_t i = 0; i < line.dispensers.size(); ++i) {
        const StationDispenser& d = line.dispensers[i];
        if (d.number % 2 == 0 || d.nozzles < kMaxNozzles || line.Find(d.number + 1) == nullptr) continue;
        const auto bus = protocol::DispenserAddress(d.number, kMaxNozzles);
        c.Fail(At(key, i) + ".nozzles", "dispenser " + std::to_string(d.number) +
                                            " cannot have 6 nozzles while dispenser " + std::to_string(d.number + 1) +
                                            " is on the line: its nozzle 6 and that one's nozzle 1 are both nozzle "
                                            "byte " +
                                            std::to_string(bus.nozzle) + " of bus address " +
                                            std::to_string(bus.address));
    }
}

std::vector<StationDispenser> Dispensers(const Checker& c, const StationLine& line, const json& v,
                                         const std::string& key) {
    c.Array(v, key, 1, kMaxDispensers);
    std::vector<StationDispenser> out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        StationDispenser d = Dispenser(c, v[i], At(key, i));
        for (std::size_t j = 0; j < out.size(); ++j)
            if (out[j].number == d.number)
                c.Fail(At(key, i) + ".number", "dispenser " + std::to_string(d.number) + " is already at " +
                                                   At(key, j) + " of line " + std::to_string(line.line));
        out.push_back(std::move(d));
    }
    return out;
}

void Timeouts(const Checker& c, const json& v, const std::string& key, port::LineSettings& s) {
    c.Object(v, key, {"responseMs", "interByteMs", "drainQuietMs"});
    if (v.contains("responseMs"))
        s.response = std::chrono::milliseconds(c.Integer(v["responseMs"], key + ".responseMs", 1, 60000));
    if (v.contains("interByteMs"))
        s.interByte = std::chrono::milliseconds(c.Integer(v["interByteMs"], key + ".interByteMs", 1, 10000));
    if (v.contains("drainQuietMs"))
        s.drainQuiet = std::chrono::milliseconds(c.Integer(v["drainQuietMs"], key + ".drainQuietMs", 0, 10000));
}

// One of the names `name(value)` gives, for value in `values`.
template <typename T, std::size_t N>
T OneOf(const Checker& c, const json& v, const std::string& key, const T (&values)[N], const char* (*name)(T)) {
    const std::string text = c.Text(v, key);
    std::string list;
    for (const T value : values) {
        if (text == name(value)) return value;
        list += (list.empty() ? "" : ", ") + std::string(name(value));
    }
    c.Fail(key, "must be one of " + list + ", is " + v.dump());
}

// How replies must answer their requests, and whether the line echoes our own bytes.
void ReplyRules(const Checker& c, const json& v, const std::string& key, port::LineSettings& s) {
    static constexpr port::ReplyMatching kMatchings[] = {port::ReplyMatching::Strict, port::ReplyMatching::Lenient};
    static constexpr port::LocalEcho kEchoes[] = {port::LocalEcho::Auto, port::LocalEcho::On, port::LocalEcho::Off};
    if (v.contains("match")) s.matching = OneOf(c, v["match"], key + ".match", kMatchings, port::ReplyMatchingName);
    if (v.contains("lenientAfter"))
        s.lenientAfter = static_cast<std::uint32_t>(c.Integer(v["lenientAfter"], key + ".lenientAfter", 0, 1000000));
    if (v.contains("localEcho"))
        s.localEcho = OneOf(c, v["localEcho"], key + ".localEcho", kEchoes, port::LocalEchoName);
}

int Baud(const Checker& c, const json& v, const std::string& key) {
    const int baud = c.Integer(v, key, kBauds[0], std::end(kBauds)[-1]);
    if (std::find(std::begin(kBauds), std::end(kBauds), baud) != std::end(kBauds)) return baud;
    std::string list;
    for (const int b : kBauds) list += (list.empty() ? "" : ", ") + std::to_string(b);
    c.Fail(key, "unsupported baud rate " + std::to_string(baud) + " (supported: " + list + ")");
}

StationLine Line(const Checker& c, const json& v, const std::string& key) {
    c.Object(v, key,
             {"line", "device", "name", "baud", "timeouts", "match", "lenientAfter", "localEcho", "dispensers"});
    StationLine line;
    line.line = c.Integer(c.Required(v, key, "line"), key + ".line", 1, kMaxLines);
    line.device = c.Text(c.Required(v, key, "device"), key + ".device");
    if (v.contains("name")) line.name = c.Text(v["name"], key + ".name");
    if (v.contains("baud")) line.settings.baud = Baud(c, v["baud"], key + ".baud");
    if (v.contains("timeouts")) Timeouts(c, v["timeouts"], key + ".timeouts", line.settings);
    ReplyRules(c, v, key, line.settings);
    line.dispensers = Dispensers(c, line, c.Required(v, key, "dispensers"), key + ".dispensers");
    CheckNozzleBytes(c, line, key + ".dispensers");
    return line;
}

// Two names of one device: a /dev/serial/by-id link and its target, or a
// path through ".." or another link, resolve to the same file (device and
// inode). Names that resolve to nothing (yet) are told apart by their text.
// (std::filesystem::equivalent refuses character devices, hence stat.)
bool SameDevice(const std::string& a, const std::string& b) {
#if defined(_WIN32)
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
#else
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
#endif
}

void CheckDistinct(const Checker& c, const std::vector<StationLine>& lines, const StationLine& line,
                   const std::string& key) {
    for (std::size_t j = 0; j < lines.size(); ++j) {
        if (lines[j].line == line.line)
            c.Fail(key + ".line", "line " + std::to_string(line.line) + " is already at " + At("$.lines", j));
        if (lines[j].device == line.device)
            c.Fail(key + ".device", line.device + " already serves line " + std::to_string(lines[j].line) + " (" +
                                        At("$.lines", j) + "): one device serves one line");
        if (SameDevice(lines[j].device, line.device)) {
            std::error_code error;
            const std::string target = std::filesystem::canonical(line.device, error).string();
            c.Fail(key + ".device", line.device + " is " + lines[j].device + " (line " + std::to_string(lines[j].line) +
                                        ", " + At("$.lines", j) + ") under another name: both are " + target +
                                        "; one device serves one line");
        }
    }
}

// Where the parser is: one frame per open object or array.
struct Open {
    bool object = false;
    std::vector<std::string> keys;  // seen in this object
    long index = -1;                // the array's current element
};

std::string PathOf(const std::vector<Open>& stack) {
    std::string path = "$";
    for (std::size_t i = 0; i + 1 < stack.size(); ++i)
        path += stack[i].object ? "." + stack[i].keys.back() : "[" + std::to_string(stack[i].index) + "]";
    return path;
}

// Parses the text, refusing a key given twice in one object (the parser
// would keep the last one silently).
json Parse(std::string_view text, const Checker& c) {
    std::vector<Open> stack;
    const json::parser_callback_t seen = [&](int, json::parse_event_t event, json& parsed) {
        using E = json::parse_event_t;
        const bool starts = event == E::object_start || event == E::array_start;
        if ((starts || event == E::value) && !stack.empty() && !stack.back().object) ++stack.back().index;
        if (starts) stack.push_back({event == E::object_start, {}, -1});
        if (event == E::object_end || event == E::array_end) stack.pop_back();
        if (event == E::key) {
            auto& keys = stack.back().keys;
            const std::string key = parsed.get<std::string>();
            if (std::find(keys.begin(), keys.end(), key) != keys.end())
                c.Fail(PathOf(stack) + "." + key, "given twice in one object");
            keys.push_back(key);
        }
        return true;
    };
    try {
        return json::parse(text.begin(), text.end(), seen);
    } catch (const json::parse_error& e) {
        // "[json.exception.parse_error.101] parse error at line 3, column 5: ..." without the prefix.
        std::string what = e.what();
        const auto end = what.find("] ");
        c.Fail("$", "not JSON: " + (end == std::string::npos ? what : what.substr(end + 2)));
    }
}

}  // namespace

StationFileError::StationFileError(const std::string& source, const std::string& key, const std::string& problem)
    : HostError(kExitConfig, source + ": " + key + ": " + problem), key_(key), problem_(problem) {}

const StationDispenser* StationLine::Find(int dispenser) const {
    for (const auto& d : dispensers)
        if (d.number == dispenser) return &d;
    return nullptr;
}

const StationLine* StationFile::Find(int line) const {
    for (const auto& l : lines)
        if (l.line == line) return &l;
    return nullptr;
}

StationFile ParseStationFile(std::string_view text, const std::string& source) {
    const Checker c(source);
    const json doc = Parse(text, c);
    c.Object(doc, "$", {"name", "lines", "service"});
    StationFile station;
    station.source = source;
    if (doc.contains("name")) station.name = c.Text(doc["name"], "$.name");
    // The station service reads its own section; only its shape is checked here.
    if (doc.contains("service")) {
        if (!doc["service"].is_object())
            c.Fail("$.service", "must be an object, not " + std::string(doc["service"].type_name()));
        station.service = doc["service"].dump();
    }
    const json& lines = c.Array(c.Required(doc, "$", "lines"), "$.lines", 1, kMaxLines);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        StationLine line = Line(c, lines[i], At("$.lines", i));
        CheckDistinct(c, station.lines, line, At("$.lines", i));
        station.lines.push_back(std::move(line));
    }
    return station;
}

StationFile ReadStationFile(const std::string& path) {
    // Opening a FIFO would wait for a writer: only a regular file is read.
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        throw StationFileError(path, "$", "is not a regular file (a FIFO, a device or a folder)");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw StationFileError(path, "$", "cannot be read");
    std::string text;
    text.resize(kStationFileLimit + 1);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) throw StationFileError(path, "$", "cannot be read");
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kStationFileLimit)
        throw StationFileError(path, "$", "larger than " + std::to_string(kStationFileLimit) + " bytes");
    return ParseStationFile(text, path);
}

void ConfigureLine(port::SerialPortManager& port, const StationLine& line) {
    port.SetDevice(line.line, line.device);
    port.SetSettings(line.line, line.settings);
}

}  // namespace zarvik::host
