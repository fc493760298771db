#include "ComPort.h"

#include "protocol/HostText.h"

namespace zarvik {

void RaiseSerialIO(std::string_view text) { throw ESerialIO(protocol::ToHostText(text)); }

void RaiseError(std::string_view text) { throw Exception(protocol::ToHostText(text)); }

}  // namespace zarvik
