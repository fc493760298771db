#include "ErrorText.h"

#include "protocol/HostText.h"
#include "zarvik/exceptions.h"

namespace zarvik {

std::string ErrorText(const std::exception& error) {
    if (dynamic_cast<const Exception*>(&error) != nullptr) return protocol::HostTextToUtf8(error.what());
    return error.what();
}

void RaiseWindowError(std::string_view text) { throw Exception(protocol::ToHostText(text)); }

}  // namespace zarvik
