#include "serial/rfc2217_session.h"

namespace {

// The options we perform and accept the server performing.
bool WeOffer(std::uint8_t option) {
  return option == telnet::kOptionBinary || option == telnet::kOptionSuppressGoAhead ||
         option == telnet::kOptionComPort;
}
bool WeAccept(std::uint8_t option) {
  return option == telnet::kOptionBinary || option == telnet::kOptionSuppressGoAhead;
}

const char* OptionName(std::uint8_t option) {
  switch (option) {
    case telnet::kOptionBinary:
      return "BINARY";
    case telnet::kOptionComPort:
      return "COM-PORT-OPTION";
    default:
      return "SUPPRESS-GO-AHEAD";
  }
}

const char* SettingName(std::uint8_t command) {
  switch (command) {
    case rfc2217::kSetBaudRate:
      return "baud rate";
    case rfc2217::kSetDataSize:
      return "data size";
    case rfc2217::kSetParity:
      return "parity";
    default:
      return "stop size";
  }
}

std::vector<std::uint8_t> BaudPayload(std::uint32_t rate) {
  return {rfc2217::kSetBaudRate, static_cast<std::uint8_t>(rate >> 24),
          static_cast<std::uint8_t>(rate >> 16), static_cast<std::uint8_t>(rate >> 8),
          static_cast<std::uint8_t>(rate)};
}

}  // namespace

void Rfc2217Session::Start(std::vector<std::uint8_t>& out) {
  for (const std::uint8_t option : {telnet::kOptionBinary, telnet::kOptionSuppressGoAhead}) {
    AppendNegotiation(out, telnet::kWill, option);
    m_us[option] = Side::kWantYes;
    AppendNegotiation(out, telnet::kDo, option);
    m_him[option] = Side::kWantYes;
  }
  AppendNegotiation(out, telnet::kWill, telnet::kOptionComPort);
  m_us[telnet::kOptionComPort] = Side::kWantYes;
}

void Rfc2217Session::Receive(const std::uint8_t* bytes, std::size_t length,
                             std::vector<std::uint8_t>& data, std::vector<std::uint8_t>& out) {
  const std::size_t start = data.size();
  std::vector<TelnetCommand> commands;
  m_decoder.Feed(bytes, length, data, commands);
  std::size_t dropped = 0;
  for (const TelnetCommand& command : commands) {
    if (!OnCommand(command, out)) {
      const auto end =
          data.begin() + static_cast<std::ptrdiff_t>(start + command.dataBefore - dropped);
      data.erase(data.begin() + static_cast<std::ptrdiff_t>(start), end);
      dropped = command.dataBefore;
    }
  }
}

bool Rfc2217Session::OnCommand(const TelnetCommand& command, std::vector<std::uint8_t>& out) {
  const std::uint8_t option = command.option;
  if (command.verb == telnet::kSb && option == telnet::kOptionComPort && m_purgeAwaited &&
      command.payload.size() == 2 &&
      command.payload[0] == rfc2217::kPurgeData + rfc2217::kServerOffset &&
      command.payload[1] == rfc2217::kPurgeReceive) {
    m_purgeAwaited = false;
    m_purgeConfirmed = true;
    return false;
  }
  switch (command.verb) {
    case telnet::kDo:
      if (m_us[option] == Side::kWantYes) {
        m_us[option] = Side::kYes;
      } else if (m_us[option] != Side::kYes) {
        const bool offer = WeOffer(option);
        m_us[option] = offer ? Side::kYes : Side::kNo;
        AppendNegotiation(out, offer ? telnet::kWill : telnet::kWont, option);
      }
      break;
    case telnet::kDont:
      if (m_us[option] == Side::kWantYes) {
        m_us[option] = Side::kRefused;
      } else if (m_us[option] == Side::kYes) {
        m_us[option] = Side::kRefused;
        AppendNegotiation(out, telnet::kWont, option);
      }
      break;
    case telnet::kWill:
      if (m_him[option] == Side::kWantYes) {
        m_him[option] = Side::kYes;
      } else if (m_him[option] != Side::kYes) {
        const bool accept = WeAccept(option);
        m_him[option] = accept ? Side::kYes : Side::kNo;
        AppendNegotiation(out, accept ? telnet::kDo : telnet::kDont, option);
      }
      break;
    case telnet::kWont:
      if (m_him[option] == Side::kWantYes) {
        m_him[option] = Side::kRefused;
      } else if (m_him[option] == Side::kYes) {
        m_him[option] = Side::kRefused;
        AppendNegotiation(out, telnet::kDont, option);
      }
      break;
    case telnet::kSb:
      if (option == telnet::kOptionComPort) OnComPortReply(command);
      break;
    default:
      break;
  }
  return true;
}

NegotiationState Rfc2217Session::Negotiation() const {
  if (!RefusedOption().empty()) return NegotiationState::kRefused;
  const bool done = m_us[telnet::kOptionComPort] == Side::kYes &&
                    m_us[telnet::kOptionBinary] == Side::kYes &&
                    m_him[telnet::kOptionBinary] == Side::kYes;
  return done ? NegotiationState::kDone : NegotiationState::kPending;
}

std::string Rfc2217Session::RefusedOption() const {
  for (const std::uint8_t option : {telnet::kOptionComPort, telnet::kOptionBinary}) {
    if (m_us[option] == Side::kRefused || m_him[option] == Side::kRefused) {
      return OptionName(option);
    }
  }
  return {};
}

void Rfc2217Session::Await(std::uint8_t command, std::uint32_t value) {
  m_awaited[command] = 1;
  m_awaitedValue[command] = value;
}

void Rfc2217Session::RequestSettings(const Rfc2217Settings& want, std::vector<std::uint8_t>& out) {
  m_awaited = {};
  m_mismatchCommand = 0;
  m_mismatch.clear();
  const std::optional<Rfc2217Settings> had = m_confirmed;
  m_confirmed.reset();
  m_asked = want;
  const auto changed = [&](auto member) { return !had || (*had).*member != want.*member; };
  const auto setOne = [&](std::uint8_t command, std::uint8_t value) {
    AppendSubnegotiation(out, telnet::kOptionComPort, {command, value});
    Await(command, value);
  };
  if (changed(&Rfc2217Settings::baudRate)) {
    AppendSubnegotiation(out, telnet::kOptionComPort, BaudPayload(want.baudRate));
    Await(rfc2217::kSetBaudRate, want.baudRate);
  }
  if (changed(&Rfc2217Settings::dataSize)) setOne(rfc2217::kSetDataSize, want.dataSize);
  if (changed(&Rfc2217Settings::parity)) setOne(rfc2217::kSetParity, want.parity);
  if (changed(&Rfc2217Settings::stopSize)) setOne(rfc2217::kSetStopSize, want.stopSize);

  const auto control = [&](std::uint8_t value) {
    AppendSubnegotiation(out, telnet::kOptionComPort, {rfc2217::kSetControl, value});
  };
  if (!had) control(rfc2217::kControlNoFlowControl);
  if (changed(&Rfc2217Settings::dtr)) {
    control(want.dtr ? rfc2217::kControlDtrOn : rfc2217::kControlDtrOff);
  }
  if (changed(&Rfc2217Settings::rts)) {
    control(want.rts ? rfc2217::kControlRtsOn : rfc2217::kControlRtsOff);
  }
  if (SettingsConfirmation() == Confirmation::kConfirmed) m_confirmed = want;
}

void Rfc2217Session::OnComPortReply(const TelnetCommand& reply) {
  if (reply.payload.empty() || reply.truncated) return;
  const int command = reply.payload[0] - rfc2217::kServerOffset;
  if (command < rfc2217::kSetBaudRate || command > rfc2217::kSetStopSize) return;
  const std::size_t size = command == rfc2217::kSetBaudRate ? 4 : 1;
  if (reply.payload.size() != size + 1) return;
  std::uint32_t value = 0;
  for (std::size_t i = 1; i <= size; ++i) value = (value << 8) | reply.payload[i];
  if (command == rfc2217::kSetBaudRate && m_baudQueried && !m_reportedBaud) {
    m_reportedBaud = value;
  }
  if (m_awaited[command] == 0) return;

  m_awaited[command] = 0;
  if (value != m_awaitedValue[command]) {
    if (m_mismatch.empty()) {
      m_mismatchCommand = static_cast<std::uint8_t>(command);
      m_mismatch = std::string(SettingName(static_cast<std::uint8_t>(command))) + " " +
                   std::to_string(m_awaitedValue[command]) + " asked, " + std::to_string(value) +
                   " confirmed";
    }
    return;
  }
  if (SettingsConfirmation() == Confirmation::kConfirmed) m_confirmed = m_asked;
}

Confirmation Rfc2217Session::SettingsConfirmation() const {
  if (!m_mismatch.empty()) return Confirmation::kDiffers;
  for (const std::uint8_t awaited : m_awaited) {
    if (awaited != 0) return Confirmation::kWaiting;
  }
  return Confirmation::kConfirmed;
}

void Rfc2217Session::QueryBaudRate(std::vector<std::uint8_t>& out) {
  AppendSubnegotiation(out, telnet::kOptionComPort, BaudPayload(0));
  m_baudQueried = true;
}

void Rfc2217Session::RequestPurge(std::vector<std::uint8_t>& out) {
  AppendSubnegotiation(out, telnet::kOptionComPort, {rfc2217::kPurgeData, rfc2217::kPurgeReceive});
  m_purgeAwaited = true;
}

void Rfc2217Session::EncodeData(const std::uint8_t* data, std::size_t length,
                                std::vector<std::uint8_t>& out) {
  AppendEscaped(out, data, length);
}
