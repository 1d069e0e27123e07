#include "serial/telnet_codec.h"

void TelnetDecoder::EndSubnegotiation(std::size_t dataBefore,
                                      std::vector<TelnetCommand>& commands) {
  m_sub.dataBefore = dataBefore;
  commands.push_back(std::move(m_sub));
  m_sub = {};
  m_state = State::kData;
}

void TelnetDecoder::Feed(const std::uint8_t* bytes, std::size_t length,
                         std::vector<std::uint8_t>& data, std::vector<TelnetCommand>& commands) {
  const std::size_t start = data.size();
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint8_t b = bytes[i];
    switch (m_state) {
      case State::kData:
        if (b == telnet::kIac) {
          m_state = State::kIac;
        } else {
          data.push_back(b);
        }
        break;
      case State::kIac:
        if (b == telnet::kIac) {
          data.push_back(b);
          m_state = State::kData;
        } else if (b >= telnet::kWill) {
          m_verb = b;
          m_state = State::kNegotiation;
        } else if (b == telnet::kSb) {
          m_state = State::kSubOption;
        } else {
          m_state = State::kData;
        }
        break;
      case State::kNegotiation:
        commands.push_back({.verb = m_verb, .option = b, .dataBefore = data.size() - start});
        m_state = State::kData;
        break;
      case State::kSubOption:
        m_sub = {.verb = telnet::kSb, .option = b};
        m_state = State::kSubData;
        break;
      case State::kSubData:
        if (b == telnet::kIac) {
          m_state = State::kSubIac;
        } else if (m_sub.payload.size() < kMaxSubnegotiation) {
          m_sub.payload.push_back(b);
        } else {
          m_sub.truncated = true;
        }
        break;
      case State::kSubIac:
        if (b == telnet::kIac) {
          if (m_sub.payload.size() < kMaxSubnegotiation) {
            m_sub.payload.push_back(b);
          } else {
            m_sub.truncated = true;
          }
          m_state = State::kSubData;
        } else {
          EndSubnegotiation(data.size() - start, commands);
        }
        break;
    }
  }
}

void AppendEscaped(std::vector<std::uint8_t>& out, const std::uint8_t* data, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    out.push_back(data[i]);
    if (data[i] == telnet::kIac) out.push_back(telnet::kIac);
  }
}

void AppendNegotiation(std::vector<std::uint8_t>& out, std::uint8_t verb, std::uint8_t option) {
  out.insert(out.end(), {telnet::kIac, verb, option});
}

void AppendSubnegotiation(std::vector<std::uint8_t>& out, std::uint8_t option,
                          const std::vector<std::uint8_t>& payload) {
  out.insert(out.end(), {telnet::kIac, telnet::kSb, option});
  AppendEscaped(out, payload.data(), payload.size());
  out.insert(out.end(), {telnet::kIac, telnet::kSe});
}
