#include "tools/zlm_read/mqtt_failure.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <openssl/x509_vfy.h>

std::string ReasonText(int reasonCode, const std::string& brokerWords) {
  std::string text = mosquitto_reason_string(reasonCode);
  if (!brokerWords.empty()) text += " (" + brokerWords + ")";
  return text;
}

bool RefusesProtocolVersion(int reasonCode) {
  return reasonCode == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION ||
         reasonCode == CONNACK_REFUSED_PROTOCOL_VERSION;
}

std::string TlsFailureText(long verifyResult, const std::string& host,
                           const std::string& opensslError) {
  switch (verifyResult) {
    case X509_V_OK:
      break;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return "name mismatch: the broker's certificate is not made out to " + host;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
      return std::string("unknown CA: no trusted CA vouches for the broker's certificate (") +
             X509_verify_cert_error_string(verifyResult) + ")";
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return "the broker's certificate has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return "the broker's certificate is not valid yet";
    default:
      return std::string("the broker's certificate was refused: ") +
             X509_verify_cert_error_string(verifyResult);
  }
  // OpenSSL's text ends with the reason after the library's name.
  const std::size_t at = opensslError.rfind(':');
  const std::string reason = at == std::string::npos ? opensslError : opensslError.substr(at + 1);
  return "TLS handshake failed" + (reason.empty() ? std::string() : ": " + reason);
}

std::string TopicProblem(const std::string& topic) {
  if (topic.size() > 65535) {
    return "a topic is " + std::to_string(topic.size()) + " bytes long; MQTT allows at most 65535";
  }
  if (mosquitto_validate_utf8(topic.data(), static_cast<int>(topic.size())) != MOSQ_ERR_SUCCESS) {
    return "a topic is not valid UTF-8 (or holds control characters)";
  }
  if (mosquitto_pub_topic_check2(topic.data(), topic.size()) != MOSQ_ERR_SUCCESS) {
    return "a topic may not hold '+' or '#'";
  }
  return {};
}
