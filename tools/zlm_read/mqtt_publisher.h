#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/zlm_read/bounded_queue.h"
#include "tools/zlm_read/mqtt_messages.h"
#include "tools/zlm_read/mqtt_url.h"

struct mosquitto;

// How to reach the broker and what to say on every connection.
struct MqttSession {
  MqttUrl url;
  std::optional<std::string> password;
  std::string cafile;  // mqtts: the CA certificates; empty: the system's (/etc/ssl/certs)
  std::string clientId;
  std::string statusTopic;             // "online" on connecting, "offline" as the will and on Stop
  std::string droppedTopic;            // the count of dropped messages, once there are any
  std::vector<MqttMessage> onConnect;  // retained messages sent on every connection
  std::size_t queueLimit = 10000;
};

// Publishes messages (QoS 1) from a thread of its own with libmosquitto.
// Messages wait in a bounded queue until the broker has acknowledged them,
// so none is lost while the broker is away and they go out in order; when
// the queue is full the oldest are dropped, counted, logged and the count is
// published. A lost connection is tried again after 1 s, then twice as long
// after each failed attempt, up to 60 s. Each connection is a new client:
// messages not yet acknowledged are sent again on the next one, by us alone.
class MqttPublisher {
 public:
  MqttPublisher(MqttSession session, std::FILE* log);
  ~MqttPublisher();
  MqttPublisher(const MqttPublisher&) = delete;
  MqttPublisher& operator=(const MqttPublisher&) = delete;

  void Publish(MqttMessage message);
  // While connected, or while a connection is under way, delivers what is
  // queued (for up to 5 s), publishes "offline" and disconnects; then ends
  // the thread. Idempotent.
  void Stop();

 private:
  struct Pending {
    MqttMessage message;
    int mid = 0;  // libmosquitto's message id once handed over on this connection
    bool acked = false;
  };

  void Run();
  // One connection from connecting to its end; true when it was established.
  bool Connection();
  mosquitto* NewClient();
  bool HandOver(mosquitto* mosq);
  bool Send(mosquitto* mosq, const MqttMessage& message, int* mid);
  void ForgetHandedOver();
  void ReportDropped();
  bool Stopping();
  void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));

  static void OnConnect(mosquitto* mosq, void* self, int rc);
  static void OnDisconnect(mosquitto* mosq, void* self, int rc);
  static void OnPublish(mosquitto* mosq, void* self, int mid);

  const MqttSession m_session;
  std::FILE* const m_log;

  // Shared with the thread that publishes. Recursive: libmosquitto may call
  // back from within a call made under the lock.
  std::recursive_mutex m_mutex;
  std::condition_variable_any m_wake;
  BoundedQueue<Pending> m_queue;
  std::size_t m_handedOver = 0;  // the first items of m_queue, handed to libmosquitto
  std::uint64_t m_droppedLogged = 0;
  bool m_dropNoted = false;  // "queue full" logged since the last connection
  bool m_stopping = false;

  // The publishing thread's own.
  bool m_connected = false;
  std::string m_refusal;
  std::uint64_t m_droppedPublished = 0;
  int m_offlineMid = 0;
  bool m_offlineAcked = false;

  std::thread m_thread;
};
