// A thin hold on one libmosquitto client: TLS and credentials from the
// settings, "offline" as the retained last will on the status topic, its own
// network thread that reconnects with a delay growing to 30 s. The events
// come on that thread and must not block.
#pragma once

#include <mosquitto.h>

#include <functional>
#include <string>

#include "telemetry/Settings.h"

namespace zarvik::telemetry {

struct MqttEvents {
    std::function<void(bool connected, const std::string& cause)> connection;
    std::function<void(int mid)> published;  // the broker took a QoS 1 message
    std::function<void(const std::string& topic, const std::string& payload)> message;
};

class MqttClient {
public:
    // Throws std::runtime_error with the cause when the client cannot be set up.
    MqttClient(const TelemetrySettings& settings, const std::string& willTopic, MqttEvents events);
    ~MqttClient();
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Starts connecting and, once under way, the network thread that keeps
    // the connection (reconnecting by itself). False with the cause when the
    // connection could not even be started (a broker that refuses at once):
    // the caller tries again later.
    bool Start(std::string& cause);
    bool Started() const { return started_; }
    // mosquitto's result (MOSQ_ERR_SUCCESS when queued); MID gets the message id.
    int Publish(const std::string& topic, const std::string& payload, int qos, bool retain, int* mid = nullptr);
    int Subscribe(const std::string& topic, int qos);
    void Stop();  // disconnects after what is queued and ends the thread; idempotent

private:
    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnDisconnect(mosquitto*, void* self, int rc);
    static void OnPublish(mosquitto*, void* self, int mid);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);

    TelemetrySettings settings_;
    MqttEvents events_;
    mosquitto* mosq_ = nullptr;
    bool started_ = false;
};

}  // namespace zarvik::telemetry
