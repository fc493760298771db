// Private to the server: the listening sockets it opens itself (so a
// failure names its cause, and the Unix socket gets its mode).
#pragma once

#include <string>

namespace zarvik::http {

// A TCP socket bound to HOST:PORT and listening. Throws HostError
// (configuration): "cannot listen on LISTEN: CAUSE".
int ListenTcp(const std::string& listen);
// The port a bound socket got.
int BoundPort(int socket);
// A Unix stream socket at PATH, mode 0660, listening. A stale socket file is
// replaced; anything else at PATH is left alone and refused.
int ListenUnix(const std::string& path);
// Removes PATH when it is still a socket.
void RemoveUnixSocket(const std::string& path);

}  // namespace zarvik::http
