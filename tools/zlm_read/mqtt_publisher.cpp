#include "tools/zlm_read/mqtt_publisher.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "tools/zlm_read/mqtt_failure.h"

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

// The reason string a broker may add to a CONNACK, PUBACK or DISCONNECT.
std::string BrokerWords(const mosquitto_property* properties) {
  char* value = nullptr;
  if (!mosquitto_property_read_string(properties, MQTT_PROP_REASON_STRING, &value, false)) {
    return {};
  }
  std::string words = value ? value : "";
  std::free(value);
  return words;
}

// Failures that sending the message again cannot mend.
bool Unsendable(int rc) {
  return rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_MALFORMED_UTF8 || rc == MOSQ_ERR_PAYLOAD_SIZE ||
         rc == MOSQ_ERR_OVERSIZE_PACKET || rc == MOSQ_ERR_QOS_NOT_SUPPORTED;
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
  if (m_denied > 0) {
    Log("%llu messages refused (not delivered)", static_cast<unsigned long long>(m_denied));
  }
}

std::uint64_t MqttPublisher::Undelivered() {
  std::lock_guard lock(m_mutex);
  return m_queue.Size() + m_queue.Dropped() + m_denied;
}

DeliveryStats MqttPublisher::Stats() {
  std::lock_guard lock(m_mutex);
  return {m_connected.load(), m_queue.Size(), m_queue.Dropped(), m_denied};
}

bool MqttPublisher::Problem(const std::string& text) {
  if (text == m_problem) return false;
  m_problem = text;
  Log("%s", text.c_str());
  return true;
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
  for (;;) {
    const bool established = Connection();
    if (established) retry = kFirstRetry;
    std::unique_lock lock(m_mutex);
    if (m_stopping) break;  // the connection saw it and delivered what it could
    m_wake.wait_for(lock, retry, [this] { return m_stopping; });
    if (m_stopping) {
      // Stopped while waiting to try again (the broker may be back by
      // now): one last attempt, within the drain limit, for what waits.
      if (m_queue.Empty()) break;
      lock.unlock();
      Connection();
      break;
    }
    if (!established) retry = std::min(retry * 2, kLastRetry);
  }
}

mosquitto* MqttPublisher::NewClient() {
  mosquitto* mosq = mosquitto_new(m_session.clientId.c_str(), true, this);
  if (!mosq) {
    Problem(std::string("cannot set up the client: ") + std::strerror(errno));
    return nullptr;
  }
  mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION,
                       m_oldProtocol ? MQTT_PROTOCOL_V311 : MQTT_PROTOCOL_V5);
  mosquitto_connect_v5_callback_set(mosq, OnConnect);
  mosquitto_disconnect_v5_callback_set(mosq, OnDisconnect);
  mosquitto_publish_v5_callback_set(mosq, OnPublish);
  mosquitto_log_callback_set(mosq, OnLog);
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
    Problem("cannot set up the client: " + ErrorText(rc));
    mosquitto_destroy(mosq);
    return nullptr;
  }
  return mosq;
}

// A TLS connection whose TCP connection fails is retried by libmosquitto at
// once and for ever without a word; the socket tells: a connection refused
// or reset is hung up.
std::string MqttPublisher::SocketFailure(mosquitto* mosq) const {
  const int fd = mosquitto_socket(mosq);
  if (fd < 0) return {};
  pollfd watched{fd, POLLOUT, 0};
  if (::poll(&watched, 1, 0) != 1 || (watched.revents & (POLLHUP | POLLERR)) == 0) return {};
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error != 0) {
    return std::strerror(error);
  }
  return "the connection was refused or closed";
}

bool MqttPublisher::Connection() {
  mosquitto* mosq = NewClient();
  if (!mosq) return false;
  m_connected = false;
  m_refusal.clear();
  m_endReason.clear();
  m_tlsVerify = 0;
  m_tlsError.clear();
  m_offlineMid = 0;
  m_offlineAcked = false;
  const MqttUrl& url = m_session.url;
  const std::string where = url.host + ":" + std::to_string(url.port);
  int rc = mosquitto_connect_async(mosq, url.host.c_str(), url.port, kKeepAliveS);
  bool established = false;
  std::string failure;
  const auto connectBy = Clock::now() + kConnectLimit;
  std::optional<Clock::time_point> drainBy;
  while (rc == MOSQ_ERR_SUCCESS) {
    rc = mosquitto_loop(mosq, kLoopTimeoutMs, 1);
    if (rc != MOSQ_ERR_SUCCESS) break;
    if (!m_connected) {
      if (established) break;  // the broker ended the connection
      if (!m_refusal.empty()) break;
      if (failure = SocketFailure(mosq); !failure.empty()) {
        failure = "cannot connect to " + where + ": " + failure;
        break;
      }
      // A connection under way at the end may still deliver what is queued.
      if (Stopping() && !drainBy) drainBy = Clock::now() + kDrainLimit;
      if (drainBy && Clock::now() > *drainBy) break;
      if (Clock::now() > connectBy) {
        failure = "no answer from " + where;
        break;
      }
      continue;
    }
    if (!established) {
      Log("connected to %s%s", where.c_str(), m_oldProtocol ? " (MQTT 3.1.1)" : "");
      m_problem.clear();
    }
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
      if (Send(mosq, {m_session.statusTopic, "offline", true}, &m_offlineMid) != MOSQ_ERR_SUCCESS) {
        break;
      }
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
    std::string why = m_endReason;
    if (why.empty() && rc != MOSQ_ERR_SUCCESS) why = ErrorText(rc);
    Problem("connection to " + where + " lost" + (why.empty() ? "" : ": " + why));
  } else if (!m_refusal.empty()) {
    // libmosquitto's own error for a refusal says less than the broker.
    Problem(where + " refused the connection: " + m_refusal);
  } else if (rc == MOSQ_ERR_TLS) {
    Problem("TLS with " + where + " failed: " + TlsFailureText(m_tlsVerify, url.host, m_tlsError));
  } else if (rc != MOSQ_ERR_SUCCESS) {
    Problem("cannot connect to " + where + ": " + ErrorText(rc));
  } else if (!failure.empty()) {
    Problem(failure);
  }
  mosquitto_destroy(mosq);
  m_connected = false;
  ForgetHandedOver();
  return established;
}

int MqttPublisher::Send(mosquitto* mosq, const MqttMessage& message, int* mid) {
  return mosquitto_publish(mosq, mid, message.topic.c_str(),
                           static_cast<int>(message.payload.size()), message.payload.data(), 1,
                           message.retain);
}

bool MqttPublisher::HandOver(mosquitto* mosq) {
  std::lock_guard lock(m_mutex);
  if (m_queue.Dropped() != m_droppedPublished) {
    const std::string count = std::to_string(m_queue.Dropped());
    if (Send(mosq, {m_session.droppedTopic, count, true}, nullptr) != MOSQ_ERR_SUCCESS) {
      return false;
    }
    m_droppedPublished = m_queue.Dropped();
  }
  while (m_handedOver < m_queue.Size() && m_handedOver < kWindow) {
    Pending& next = m_queue[m_handedOver];
    const int rc = Send(mosq, next.message, &next.mid);
    if (rc == MOSQ_ERR_SUCCESS) {
      ++m_handedOver;
      continue;
    }
    if (!Unsendable(rc)) return false;
    // Kept, it would hold up every message after it.
    const std::string denial = ErrorText(rc);
    if (denial != m_denial) {
      Log("cannot publish (the first to %s): %s", next.message.topic.c_str(), denial.c_str());
    }
    m_denial = denial;
    ++m_denied;
    m_queue.Erase(m_handedOver);
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

void MqttPublisher::OnConnect(mosquitto* mosq, void* self, int rc, int,
                              const mosquitto_property* properties) {
  auto* publisher = static_cast<MqttPublisher*>(self);
  if (rc != 0) {
    if (!publisher->m_oldProtocol && RefusesProtocolVersion(rc)) {
      publisher->m_oldProtocol = true;
      publisher->m_refusal = "it speaks no MQTT v5; trying 3.1.1";
      return;
    }
    publisher->m_refusal = publisher->m_oldProtocol ? mosquitto_connack_string(rc)
                                                    : ReasonText(rc, BrokerWords(properties));
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

void MqttPublisher::OnDisconnect(mosquitto*, void* self, int rc,
                                 const mosquitto_property* properties) {
  auto* publisher = static_cast<MqttPublisher*>(self);
  publisher->m_connected = false;
  // Reason codes from the broker's DISCONNECT start at 0x80; below are
  // libmosquitto's own errors, said when the loop returns.
  if (rc >= 0x80) publisher->m_endReason = ReasonText(rc, BrokerWords(properties));
}

void MqttPublisher::OnPublish(mosquitto*, void* self, int mid, int rc,
                              const mosquitto_property* properties) {
  auto* publisher = static_cast<MqttPublisher*>(self);
  if (mid == publisher->m_offlineMid) publisher->m_offlineAcked = true;
  std::lock_guard lock(publisher->m_mutex);
  BoundedQueue<Pending>& queue = publisher->m_queue;
  for (std::size_t i = 0; i < publisher->m_handedOver; ++i) {
    if (queue[i].mid != mid) continue;
    queue[i].acked = true;
    // Acknowledged with a failure: the broker will not take it, now or later.
    if (rc >= 0x80) {
      ++publisher->m_denied;
      const std::string denial = ReasonText(rc, BrokerWords(properties));
      if (denial != publisher->m_denial) {
        publisher->Log("the broker refuses messages (the first to %s): %s",
                       queue[i].message.topic.c_str(), denial.c_str());
      }
      publisher->m_denial = denial;
    }
  }
  while (publisher->m_handedOver > 0 && queue.Front().acked) {
    queue.PopFront();
    --publisher->m_handedOver;
  }
}

// libmosquitto logs OpenSSL's errors while the TLS session still exists:
// the moment to keep them, and the certificate check's result.
void MqttPublisher::OnLog(mosquitto* mosq, void* self, int level, const char* text) {
  auto* publisher = static_cast<MqttPublisher*>(self);
  if (level != MOSQ_LOG_ERR || std::strncmp(text, "OpenSSL Error", 13) != 0) return;
  if (publisher->m_tlsError.empty()) publisher->m_tlsError = text;
  auto* ssl = static_cast<SSL*>(mosquitto_ssl_get(mosq));
  if (!ssl) return;
  long verify = SSL_get_verify_result(ssl);
  // libmosquitto checks the broker's name itself once OpenSSL has accepted
  // the chain, and its refusal reaches OpenSSL without a reason. It checks
  // nothing else here (no OCSP is asked for).
  if (verify == X509_V_ERR_UNSPECIFIED) verify = X509_V_ERR_HOSTNAME_MISMATCH;
  if (verify != X509_V_OK) publisher->m_tlsVerify = verify;
}
