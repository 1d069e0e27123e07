#include "tools/zlm_read/mqtt_publisher.h"

#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

constexpr int kLoopTimeoutMs = 100;  // how soon a new message is seen
constexpr int kKeepAliveS = 30;
constexpr std::size_t kWindow = 32;  // messages awaiting their acknowledgement at once
constexpr auto kConnectLimit = seconds(15);
constexpr auto kDrainLimit = seconds(5);
constexpr auto kOfflineLimit = seconds(2);
constexpr auto kFirstRetry = seconds(1);
constexpr auto kLastRetry = seconds(60);

std::string ErrorText(int rc) {
  return rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
}

}  // namespace

MqttPublisher::MqttPublisher(MqttSession session, std::FILE* log)
    : m_session(std::move(session)), m_log(log), m_queue(m_session.queueLimit) {
  mosquitto_lib_init();
  m_thread = std::thread([this] { Run(); });
}

MqttPublisher::~MqttPublisher() {
  Stop();
  mosquitto_lib_cleanup();
}

void MqttPublisher::Publish(MqttMessage message) {
  std::lock_guard lock(m_mutex);
  const std::optional<Pending> dropped = m_queue.Push({std::move(message)});
  if (!dropped) return;
  if (dropped->mid != 0) --m_handedOver;
  if (!m_dropNoted) {
    Log("queue full (%zu messages): dropping the oldest", m_session.queueLimit);
    m_dropNoted = true;
  }
}

void MqttPublisher::Stop() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_all();
  if (!m_thread.joinable()) return;
  m_thread.join();
  std::lock_guard lock(m_mutex);
  ReportDropped();
  if (!m_queue.Empty()) Log("%zu messages not delivered", m_queue.Size());
}

bool MqttPublisher::Stopping() {
  std::lock_guard lock(m_mutex);
  return m_stopping;
}

void MqttPublisher::Log(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::fputs("mqtt: ", m_log);
  std::vfprintf(m_log, format, args);
  std::fputc('\n', m_log);
  std::fflush(m_log);
  va_end(args);
}

void MqttPublisher::ReportDropped() {
  const std::uint64_t dropped = m_queue.Dropped();
  if (dropped == m_droppedLogged) return;
  Log("%llu messages dropped from the full queue (%llu in all)",
      static_cast<unsigned long long>(dropped - m_droppedLogged),
      static_cast<unsigned long long>(dropped));
  m_droppedLogged = dropped;
  m_dropNoted = false;
}

void MqttPublisher::Run() {
  auto retry = kFirstRetry;
  while (!Stopping()) {
    const bool established = Connection();
    if (established) retry = kFirstRetry;
    std::unique_lock lock(m_mutex);
    if (m_stopping) break;
    Log("next attempt in %lld s", static_cast<long long>(retry.count()));
    m_wake.wait_for(lock, retry, [this] { return m_stopping; });
    if (!established) retry = std::min(retry * 2, kLastRetry);
  }
}

mosquitto* MqttPublisher::NewClient() {
  mosquitto* mosq = mosquitto_new(m_session.clientId.c_str(), true, this);
  if (!mosq) return nullptr;
  mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_connect_callback_set(mosq, OnConnect);
  mosquitto_disconnect_callback_set(mosq, OnDisconnect);
  mosquitto_publish_callback_set(mosq, OnPublish);
  const MqttUrl& url = m_session.url;
  int rc = mosquitto_will_set(mosq, m_session.statusTopic.c_str(), 7, "offline", 1, true);
  if (rc == MOSQ_ERR_SUCCESS && !url.user.empty()) {
    rc = mosquitto_username_pw_set(mosq, url.user.c_str(),
                                   m_session.password ? m_session.password->c_str() : nullptr);
  }
  if (rc == MOSQ_ERR_SUCCESS && url.tls) {
    const bool ownCa = !m_session.cafile.empty();
    rc = mosquitto_tls_set(mosq, ownCa ? m_session.cafile.c_str() : nullptr,
                           ownCa ? nullptr : "/etc/ssl/certs", nullptr, nullptr, nullptr);
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    Log("cannot set up the client: %s", ErrorText(rc).c_str());
    mosquitto_destroy(mosq);
    return nullptr;
  }
  return mosq;
}

bool MqttPublisher::Connection() {
  mosquitto* mosq = NewClient();
  if (!mosq) return false;
  m_connected = false;
  m_refusal.clear();
  m_offlineMid = 0;
  m_offlineAcked = false;
  const MqttUrl& url = m_session.url;
  const std::string where = url.host + ":" + std::to_string(url.port);
  int rc = mosquitto_connect_async(mosq, url.host.c_str(), url.port, kKeepAliveS);
  bool established = false;
  const auto connectBy = Clock::now() + kConnectLimit;
  std::optional<Clock::time_point> drainBy;
  while (rc == MOSQ_ERR_SUCCESS) {
    rc = mosquitto_loop(mosq, kLoopTimeoutMs, 1);
    if (rc != MOSQ_ERR_SUCCESS) break;
    if (!m_connected) {
      if (established) break;  // the broker ended the connection
      if (!m_refusal.empty()) {
        Log("%s refused the connection: %s", where.c_str(), m_refusal.c_str());
        break;
      }
      // A connection under way at the end may still deliver what is queued.
      if (Stopping() && !drainBy) drainBy = Clock::now() + kDrainLimit;
      if (drainBy && Clock::now() > *drainBy) break;
      if (Clock::now() > connectBy) {
        Log("no answer from %s", where.c_str());
        break;
      }
      continue;
    }
    if (!established) Log("connected to %s", where.c_str());
    established = true;
    if (!HandOver(mosq)) break;
    if (!Stopping()) continue;

    const auto now = Clock::now();
    if (!drainBy) drainBy = now + kDrainLimit;
    bool drained;
    {
      std::lock_guard lock(m_mutex);
      drained = m_queue.Empty();
    }
    if (m_offlineMid == 0 && (drained || now > *drainBy)) {
      if (!Send(mosq, {m_session.statusTopic, "offline", true}, &m_offlineMid)) break;
    }
    if (m_offlineAcked || now > *drainBy + kOfflineLimit) {
      mosquitto_disconnect(mosq);
      mosquitto_loop(mosq, kLoopTimeoutMs, 1);
      mosquitto_destroy(mosq);
      ForgetHandedOver();
      return true;
    }
  }
  if (established) {
    Log("connection to %s lost%s%s", where.c_str(), rc != MOSQ_ERR_SUCCESS ? ": " : "",
        rc != MOSQ_ERR_SUCCESS ? ErrorText(rc).c_str() : "");
  } else if (rc != MOSQ_ERR_SUCCESS) {
    Log("cannot connect to %s: %s", where.c_str(), ErrorText(rc).c_str());
  }
  mosquitto_destroy(mosq);
  m_connected = false;
  ForgetHandedOver();
  return established;
}

bool MqttPublisher::Send(mosquitto* mosq, const MqttMessage& message, int* mid) {
  const int rc =
      mosquitto_publish(mosq, mid, message.topic.c_str(), static_cast<int>(message.payload.size()),
                        message.payload.data(), 1, message.retain);
  return rc == MOSQ_ERR_SUCCESS;
}

bool MqttPublisher::HandOver(mosquitto* mosq) {
  std::lock_guard lock(m_mutex);
  if (m_queue.Dropped() != m_droppedPublished) {
    const std::string count = std::to_string(m_queue.Dropped());
    if (!Send(mosq, {m_session.droppedTopic, count, true}, nullptr)) return false;
    m_droppedPublished = m_queue.Dropped();
  }
  while (m_handedOver < m_queue.Size() && m_handedOver < kWindow) {
    Pending& next = m_queue[m_handedOver];
    if (!Send(mosq, next.message, &next.mid)) return false;
    ++m_handedOver;
  }
  return true;
}

// On a new connection every message not acknowledged goes out again.
void MqttPublisher::ForgetHandedOver() {
  std::lock_guard lock(m_mutex);
  for (std::size_t i = 0; i < m_handedOver; ++i) {
    m_queue[i].mid = 0;
    m_queue[i].acked = false;
  }
  m_handedOver = 0;
}

void MqttPublisher::OnConnect(mosquitto* mosq, void* self, int rc) {
  auto* publisher = static_cast<MqttPublisher*>(self);
  if (rc != 0) {
    publisher->m_refusal = mosquitto_connack_string(rc);
    return;
  }
  publisher->m_connected = true;
  const MqttSession& session = publisher->m_session;
  publisher->Send(mosq, {session.statusTopic, "online", true}, nullptr);
  for (const MqttMessage& message : session.onConnect) publisher->Send(mosq, message, nullptr);
  std::lock_guard lock(publisher->m_mutex);
  publisher->ReportDropped();
  // Published again on each connection: the broker may have lost it.
  publisher->m_droppedPublished = 0;
}

void MqttPublisher::OnDisconnect(mosquitto*, void* self, int) {
  static_cast<MqttPublisher*>(self)->m_connected = false;
}

void MqttPublisher::OnPublish(mosquitto*, void* self, int mid) {
  auto* publisher = static_cast<MqttPublisher*>(self);
  if (mid == publisher->m_offlineMid) publisher->m_offlineAcked = true;
  std::lock_guard lock(publisher->m_mutex);
  BoundedQueue<Pending>& queue = publisher->m_queue;
  for (std::size_t i = 0; i < publisher->m_handedOver; ++i) {
    if (queue[i].mid == mid) queue[i].acked = true;
  }
  while (publisher->m_handedOver > 0 && queue.Front().acked) {
    queue.PopFront();
    --publisher->m_handedOver;
  }
}
