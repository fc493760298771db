#include "sim/SerialEndpoint.h"

namespace zarvik::sim {
SerialEndpoint::SerialEndpoint(Station& station, EndpointOptions options) : station_(station), options_(options) {}
SerialEndpoint::~SerialEndpoint() { Stop(); }
std::string SerialEndpoint::OpenPty() { return path_; }
void SerialEndpoint::OpenDevice(const std::string& path) { path_ = path; }
void SerialEndpoint::Start() {}
void SerialEndpoint::Stop() {}
EndpointStats SerialEndpoint::Stats() const { return {}; }
void SerialEndpoint::Run() {}
bool SerialEndpoint::WaitWake(std::chrono::nanoseconds) { return false; }
bool SerialEndpoint::Send(const Reply&) { return false; }
}  // namespace zarvik::sim
