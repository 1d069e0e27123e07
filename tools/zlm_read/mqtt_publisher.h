#pragma once

#include <atomic>
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
#include "tools/zlm_read/reading_sink.h"

struct mosquitto;
struct mqtt5__property;
using mosquitto_property = mqtt5__property;

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

// Publishes messages (QoS 1) from a thread of its own with libmosquitto,
// speaking MQTT v5 (3.1.1 to a broker that knows no better), so that what
// the broker refuses arrives with its reason code and its own words.
// Messages wait in a bounded queue until the broker has acknowledged them,
// so none is lost while the broker is away and they go out in order; when
// the queue is full the oldest are dropped, counted, logged and the count is
// published. A message the broker denies is counted and not sent again. A
// lost connection is tried again after 1 s, then twice as long after each
// failed attempt, up to 60 s; a problem is logged when it first appears, not
// at every attempt. Each connection is a new client: messages not yet
// acknowledged are sent again on the next one, by us alone.
class MqttPublisher {
 public:
  MqttPublisher(MqttSession session, std::FILE* log);
  ~MqttPublisher();
  MqttPublisher(const MqttPublisher&) = delete;
  MqttPublisher& operator=(const MqttPublisher&) = delete;

  void Publish(MqttMessage message);
  // While connected, or while a connection is under way, delivers what is
  // queued (for up to 5 s), publishes "offline" and disconnects; while
  // waiting to try again, tries once more at once when messages wait. Then
  // ends the thread. Idempotent.
  void Stop();
  // After Stop: the messages that never reached the broker (left in the
  // queue, dropped from it, denied by the broker, refused by libmosquitto).
  std::uint64_t Undelivered();
  // The connection's state and the queue's, from any thread.
  DeliveryStats Stats();

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
  int Send(mosquitto* mosq, const MqttMessage& message, int* mid);
  void ForgetHandedOver();
  void ReportDropped();
  bool Stopping();
  void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Logs a problem unless it is the one logged last; true when logged.
  bool Problem(const std::string& text);
  // Why the connection under way failed when libmosquitto does not say.
  std::string SocketFailure(mosquitto* mosq) const;

  static void OnConnect(mosquitto* mosq, void* self, int rc, int flags,
                        const mosquitto_property* properties);
  static void OnDisconnect(mosquitto* mosq, void* self, int rc,
                           const mosquitto_property* properties);
  static void OnPublish(mosquitto* mosq, void* self, int mid, int rc,
                        const mosquitto_property* properties);
  static void OnLog(mosquitto* mosq, void* self, int level, const char* text);

  const MqttSession m_session;
  std::FILE* const m_log;

  // Shared with the thread that publishes. Recursive: libmosquitto may call
  // back from within a call made under the lock.
  std::recursive_mutex m_mutex;
  std::condition_variable_any m_wake;
  BoundedQueue<Pending> m_queue;
  std::size_t m_handedOver = 0;  // the first items of m_queue, handed to libmosquitto
  std::uint64_t m_droppedLogged = 0;
  std::uint64_t m_denied = 0;  // denied by the broker or refused by libmosquitto
  bool m_dropNoted = false;    // "queue full" logged since the last connection
  bool m_stopping = false;

  // The publishing thread's own.
  std::atomic<bool> m_connected = false;  // read by Stats
  bool m_oldProtocol = false;             // the broker knows no MQTT v5
  std::string m_refusal;
  std::string m_endReason;  // why the broker ended the connection
  std::string m_problem;    // the problem logged last; empty once connected
  std::string m_denial;     // the denial logged last
  long m_tlsVerify = 0;     // the certificate check's result, when TLS failed
  std::string m_tlsError;   // OpenSSL's first error on the connection
  std::uint64_t m_droppedPublished = 0;
  int m_offlineMid = 0;
  bool m_offlineAcked = false;

  std::thread m_thread;
};
