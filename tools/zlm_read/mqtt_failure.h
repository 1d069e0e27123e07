#pragma once

#include <string>

// What a broker said when it refused something: the reason code's text, and
// the broker's own words when it gave a reason string.
// "Not authorized (publishing to site/x is not allowed)".
std::string ReasonText(int reasonCode, const std::string& brokerWords);

// Whether a CONNACK reason code says the broker does not speak MQTT v5 (the
// v5 code, or the 3.1.1 code a broker of that version sends instead).
bool RefusesProtocolVersion(int reasonCode);

// Why a TLS connection to host failed, from the result of the certificate
// check (OpenSSL's X509_V_* code, 0 when it passed or never ran) and
// OpenSSL's error text ("error:0A00010B:SSL routines::wrong version number"):
// an unknown CA, a certificate for another name, one out of its dates, or a
// handshake that failed for another reason.
std::string TlsFailureText(long verifyResult, const std::string& host,
                           const std::string& opensslError);

// Why a topic cannot be published to (not UTF-8, a character topics
// reserve, too long), or empty when it can.
std::string TopicProblem(const std::string& topic);
