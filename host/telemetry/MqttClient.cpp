#include "MqttClient.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace zarvik::telemetry {
namespace {

constexpr unsigned kFirstReconnectSeconds = 1;
constexpr unsigned kLastReconnectSeconds = 30;

void Check(int rc, const std::string& doing) {
    if (rc != MOSQ_ERR_SUCCESS) throw std::runtime_error("MQTT: " + doing + ": " + mosquitto_strerror(rc));
}

const char* OrNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

}  // namespace

MqttClient::MqttClient(const TelemetrySettings& settings, const std::string& willTopic, MqttEvents events)
    : settings_(settings), events_(std::move(events)) {
    static std::once_flag init;
    std::call_once(init, [] { mosquitto_lib_init(); });
    mosq_ = mosquitto_new(settings_.clientId.c_str(), true, this);
    if (mosq_ == nullptr) throw std::runtime_error("MQTT: cannot create the client");
    static const std::string kOffline = "offline";
    Check(mosquitto_will_set(mosq_, willTopic.c_str(), static_cast<int>(kOffline.size()), kOffline.data(), 1, true),
          "last will");
    if (!settings_.user.empty())
        Check(mosquitto_username_pw_set(mosq_, settings_.user.c_str(), OrNull(settings_.password)), "credentials");
    if (!settings_.ca.empty())
        Check(mosquitto_tls_set(mosq_, settings_.ca.c_str(), nullptr, OrNull(settings_.certificate),
                                OrNull(settings_.key), nullptr),
              "TLS files " + settings_.ca);
    mosquitto_reconnect_delay_set(mosq_, kFirstReconnectSeconds, kLastReconnectSeconds, true);
    mosquitto_connect_callback_set(mosq_, &MqttClient::OnConnect);
    mosquitto_disconnect_callback_set(mosq_, &MqttClient::OnDisconnect);
    mosquitto_publish_callback_set(mosq_, &MqttClient::OnPublish);
    mosquitto_message_callback_set(mosq_, &MqttClient::OnMessage);
}

MqttClient::~MqttClient() {
    Stop();
    mosquitto_destroy(mosq_);
}

bool MqttClient::Start(std::string& cause) {
    // libmosquitto's thread only reconnects a connection once begun: until
    // then the caller tries again.
    const int rc = mosquitto_connect_async(mosq_, settings_.host.c_str(), settings_.port, settings_.keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        cause = rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
        return false;
    }
    Check(mosquitto_loop_start(mosq_), "network thread");
    started_ = true;
    return true;
}

int MqttClient::Publish(const std::string& topic, const std::string& payload, int qos, bool retain, int* mid) {
    return mosquitto_publish(mosq_, mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos, retain);
}

int MqttClient::Subscribe(const std::string& topic, int qos) {
    return mosquitto_subscribe(mosq_, nullptr, topic.c_str(), qos);
}

void MqttClient::Stop() {
    if (!started_) return;
    started_ = false;
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
}

void MqttClient::OnConnect(mosquitto*, void* self, int rc) {
    auto& client = *static_cast<MqttClient*>(self);
    if (client.events_.connection)
        client.events_.connection(rc == 0, rc == 0 ? std::string() : mosquitto_connack_string(rc));
}

void MqttClient::OnDisconnect(mosquitto*, void* self, int rc) {
    auto& client = *static_cast<MqttClient*>(self);
    if (client.events_.connection)
        client.events_.connection(false, rc == 0 ? "disconnected" : std::string("lost: ") + mosquitto_strerror(rc));
}

void MqttClient::OnPublish(mosquitto*, void* self, int mid) {
    auto& client = *static_cast<MqttClient*>(self);
    if (client.events_.published) client.events_.published(mid);
}

void MqttClient::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto& client = *static_cast<MqttClient*>(self);
    if (!client.events_.message || message->topic == nullptr) return;
    client.events_.message(message->topic,
                           std::string(static_cast<const char*>(message->payload),
                                       static_cast<std::size_t>(message->payloadlen > 0 ? message->payloadlen : 0)));
}

}  // namespace zarvik::telemetry
