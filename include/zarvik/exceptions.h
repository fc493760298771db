// Errors the driver raises into the host's call.
//
// `Exception` is the library's standard exception class: range, argument and
// conversion errors. `ESerialIO` is raised by a command whose exchange failed;
// it adds nothing but its kind. Messages are UTF-8 Russian texts.
#pragma once

#include <stdexcept>
#include <string>

namespace zarvik {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    explicit Exception(const char* message) : std::runtime_error(message) {}
};

class ESerialIO : public Exception {
public:
    using Exception::Exception;
};

}  // namespace zarvik
