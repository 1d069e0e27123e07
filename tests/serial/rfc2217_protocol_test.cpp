#include <gtest/gtest.h>

#include <vector>

#include "serial/rfc2217_session.h"
#include "serial/telnet_codec.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace telnet;

struct DecodeCase {
  const char* name;
  Bytes input;
  Bytes data;
  std::vector<TelnetCommand> commands;
};

Bytes Long(std::size_t n, std::uint8_t value) { return Bytes(n, value); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

const std::vector<DecodeCase> kDecodeCases = {
    {"plain data", {0x01, 0x7F, 0x00, 0xFE}, {0x01, 0x7F, 0x00, 0xFE}, {}},
    {"doubled 0xFF is one data byte", {0x10, kIac, kIac, 0x20}, {0x10, 0xFF, 0x20}, {}},
    {"negotiation between data",
     {0x41, kIac, kWill, kOptionComPort, 0x42},
     {0x41, 0x42},
     {{.verb = kWill, .option = kOptionComPort}}},
    {"subnegotiation with a doubled 0xFF in its value",
     {kIac, kSb, kOptionComPort, 101, 0x00, 0x00, kIac, kIac, 0x00, kIac, kSe, 0x07},
     {0x07},
     {{.verb = kSb, .option = kOptionComPort, .payload = {101, 0x00, 0x00, 0xFF, 0x00}}}},
    {"NOP and go-ahead dropped", {kIac, kNop, 0x30, kIac, 249, 0x31}, {0x30, 0x31}, {}},
    {"subnegotiation ended by a stray command",
     {kIac, kSb, kOptionComPort, 103, 4, kIac, kNop, 0x55},
     {0x55},
     {{.verb = kSb, .option = kOptionComPort, .payload = {103, 4}}}},
    {"overlong subnegotiation kept to its start, what follows decoded",
     Concat({{kIac, kSb, kOptionComPort}, Long(200, 0x33), {kIac, kSe, 0x09}}),
     {0x09},
     {{.verb = kSb,
       .option = kOptionComPort,
       .payload = Long(TelnetDecoder::kMaxSubnegotiation, 0x33),
       .truncated = true}}},
    {"unfinished subnegotiation gives nothing yet", {kIac, kSb, kOptionComPort, 101, 0, 0}, {}, {}},
};

// Where a command sat among the data depends on how the bytes were cut.
std::vector<TelnetCommand> WithoutPlace(std::vector<TelnetCommand> commands) {
  for (TelnetCommand& c : commands) c.dataBefore = 0;
  return commands;
}

// Every case decodes the same whole, byte by byte, and cut at every point.
TEST(TelnetDecoder, DataAndCommandsWhereverTheBytesAreCut) {
  for (const DecodeCase& c : kDecodeCases) {
    for (std::size_t cut = 0; cut <= c.input.size(); ++cut) {
      TelnetDecoder decoder;
      Bytes data;
      std::vector<TelnetCommand> commands;
      decoder.Feed(c.input.data(), cut, data, commands);
      decoder.Feed(c.input.data() + cut, c.input.size() - cut, data, commands);
      EXPECT_EQ(data, c.data) << c.name << ", cut at " << cut;
      EXPECT_EQ(WithoutPlace(commands), c.commands) << c.name << ", cut at " << cut;
    }
    TelnetDecoder decoder;
    Bytes data;
    std::vector<TelnetCommand> commands;
    for (const std::uint8_t b : c.input) decoder.Feed(&b, 1, data, commands);
    EXPECT_EQ(data, c.data) << c.name << ", byte by byte";
    EXPECT_EQ(WithoutPlace(commands), c.commands) << c.name << ", byte by byte";
  }
}

TEST(TelnetCodec, EscapedDataDecodesToItself) {
  Bytes all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<std::uint8_t>(b));
  Bytes wire;
  AppendEscaped(wire, all.data(), all.size());
  EXPECT_EQ(wire.size(), 257u);
  TelnetDecoder decoder;
  Bytes data;
  std::vector<TelnetCommand> commands;
  decoder.Feed(wire.data(), wire.size(), data, commands);
  EXPECT_EQ(data, all);
  EXPECT_TRUE(commands.empty());
}

// What the server says to the opening, and where the negotiation then stands.
struct NegotiationCase {
  const char* name;
  Bytes server;
  NegotiationState state;
  const char* refused;
  Bytes answer;  // what the client says back
};

const Bytes kAgrees = {kIac,          kDo,  kOptionBinary, kIac,          kWill,
                       kOptionBinary, kIac, kDo,           kOptionComPort};

const std::vector<NegotiationCase> kNegotiationCases = {
    {"agrees", kAgrees, NegotiationState::kDone, "", {}},
    {"agrees and asks about echo and a terminal type",
     Concat({{kIac, kWill, 1, kIac, kDo, 24}, kAgrees}),
     NegotiationState::kDone,
     "",
     {kIac, kDont, 1, kIac, kWont, 24}},
    {"no answer yet to COM-PORT-OPTION",
     {kIac, kDo, kOptionBinary, kIac, kWill, kOptionBinary},
     NegotiationState::kPending,
     "",
     {}},
    {"declines COM-PORT-OPTION",
     {kIac, kDont, kOptionComPort},
     NegotiationState::kRefused,
     "COM-PORT-OPTION",
     {}},
    {"will not send binary",
     Concat({kAgrees, {kIac, kWont, kOptionBinary}}),
     NegotiationState::kRefused,
     "BINARY",
     {kIac, kDont, kOptionBinary}},
    {"declines suppress-go-ahead only",
     Concat({{kIac, kDont, kOptionSuppressGoAhead, kIac, kWont, kOptionSuppressGoAhead}, kAgrees}),
     NegotiationState::kDone,
     "",
     {}},
    // A plain echo server reflects the opening, then the client's answer to it.
    {"echoes the opening back",
     {kIac, kWill, 0, kIac, kDo, 0, kIac, kWill, 3, kIac, kDo, 3, kIac, kWill, 44},
     NegotiationState::kPending,
     "",
     {kIac, kDont, kOptionComPort}},
    {"echoes the opening and the answer back",
     {kIac, kWill, 0, kIac, kDo, 0, kIac, kWill, 3, kIac, kDo, 3, kIac, kWill, 44, kIac, kDont, 44},
     NegotiationState::kRefused,
     "COM-PORT-OPTION",
     {kIac, kDont, kOptionComPort}},
};

TEST(Rfc2217Session, Negotiation) {
  for (const NegotiationCase& c : kNegotiationCases) {
    Rfc2217Session session;
    Bytes opening;
    session.Start(opening);
    EXPECT_EQ(opening,
              (Bytes{kIac, kWill, 0, kIac, kDo, 0, kIac, kWill, 3, kIac, kDo, 3, kIac, kWill, 44}));
    Bytes data;
    Bytes answer;
    session.Receive(c.server.data(), c.server.size(), data, answer);
    EXPECT_EQ(answer, c.answer) << c.name;
    EXPECT_EQ(session.Negotiation(), c.state) << c.name;
    EXPECT_EQ(session.RefusedOption(), c.refused) << c.name;
    EXPECT_TRUE(data.empty()) << c.name;
  }
}

Bytes Sub(Bytes payload) {
  Bytes out;
  AppendSubnegotiation(out, kOptionComPort, payload);
  return out;
}

Rfc2217Settings Mark() {
  return {.baudRate = 9600, .dataSize = 8, .parity = 4, .stopSize = 1, .dtr = true, .rts = true};
}

TEST(Rfc2217Session, FirstRequestAsksForEverythingThenOnlyWhatChanged) {
  Rfc2217Session session;
  Bytes out;
  session.RequestSettings(Mark(), out);
  EXPECT_EQ(out, Concat({Sub({1, 0, 0, 0x25, 0x80}), Sub({2, 8}), Sub({3, 4}), Sub({4, 1}),
                         Sub({5, 1}), Sub({5, 8}), Sub({5, 11})}));
  EXPECT_EQ(session.SettingsConfirmation(), Confirmation::kWaiting);
  const Bytes replies =
      Concat({Sub({101, 0, 0, 0x25, 0x80}), Sub({102, 8}), Sub({103, 4}), Sub({104, 1})});
  Bytes data;
  Bytes answer;
  session.Receive(replies.data(), replies.size(), data, answer);
  EXPECT_EQ(session.SettingsConfirmation(), Confirmation::kConfirmed);

  Rfc2217Settings space = Mark();
  space.parity = 5;
  out.clear();
  session.RequestSettings(space, out);
  EXPECT_EQ(out, Sub({3, 5}));
  EXPECT_TRUE(session.Awaiting(rfc2217::kSetParity));
  const Bytes confirmed = Sub({103, 5});
  session.Receive(confirmed.data(), confirmed.size(), data, answer);
  EXPECT_EQ(session.SettingsConfirmation(), Confirmation::kConfirmed);

  out.clear();
  session.RequestSettings(space, out);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(session.SettingsConfirmation(), Confirmation::kConfirmed);
}

struct ReplyCase {
  const char* name;
  Bytes reply;
  Confirmation confirmation;
  std::uint8_t mismatch;
};

// Replies to a change of parity to space.
const std::vector<ReplyCase> kReplyCases = {
    {"confirmed", Sub({103, 5}), Confirmation::kConfirmed, 0},
    {"server keeps even parity", Sub({103, 3}), Confirmation::kDiffers, rfc2217::kSetParity},
    {"reply too long is no reply", Sub({103, 5, 5}), Confirmation::kWaiting, 0},
    {"reply without a value is no reply", Sub({103}), Confirmation::kWaiting, 0},
    {"an unasked setting's reply changes nothing", Sub({102, 7}), Confirmation::kWaiting, 0},
    {"a notification is no reply", Sub({107, 0x30}), Confirmation::kWaiting, 0},
    {"a request echoed back is no reply", Sub({3, 5}), Confirmation::kWaiting, 0},
};

TEST(Rfc2217Session, ParityConfirmation) {
  for (const ReplyCase& c : kReplyCases) {
    Rfc2217Session session;
    Bytes out;
    Rfc2217Settings settings = Mark();
    session.RequestSettings(settings, out);
    const Bytes first =
        Concat({Sub({101, 0, 0, 0x25, 0x80}), Sub({102, 8}), Sub({103, 4}), Sub({104, 1})});
    Bytes data;
    Bytes answer;
    session.Receive(first.data(), first.size(), data, answer);
    ASSERT_EQ(session.SettingsConfirmation(), Confirmation::kConfirmed);
    settings.parity = 5;
    session.RequestSettings(settings, out);
    session.Receive(c.reply.data(), c.reply.size(), data, answer);
    EXPECT_EQ(session.SettingsConfirmation(), c.confirmation) << c.name;
    EXPECT_EQ(session.MismatchCommand(), c.mismatch) << c.name;
    EXPECT_TRUE(data.empty()) << c.name;
  }
}

TEST(Rfc2217Session, BaudRateBytesOf0xFFAreDoubled) {
  Rfc2217Session session;
  Bytes out;
  Rfc2217Settings settings = Mark();
  settings.baudRate = 0x0001FFFF;
  session.RequestSettings(settings, out);
  const Bytes start = {kIac, kSb, kOptionComPort, 1, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, kIac, kSe};
  ASSERT_GE(out.size(), start.size());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(start.size())), start);
  // Confirmed with the same value, written the same way.
  const Bytes reply = {kIac, kSb,  kOptionComPort, 101,  0x00, 0x01,
                       0xFF, 0xFF, 0xFF,           0xFF, kIac, kSe};
  Bytes data;
  Bytes answer;
  session.Receive(reply.data(), reply.size(), data, answer);
  EXPECT_FALSE(session.Awaiting(rfc2217::kSetBaudRate));
  EXPECT_EQ(session.MismatchCommand(), 0);
}

// What the server read before it purged comes before its confirmation and is
// stale; what follows is kept, wherever the stream was cut.
TEST(Rfc2217Session, DataBeforeThePurgeConfirmationIsDropped) {
  const Bytes stream =
      Concat({{0x41, 0x42, kIac, kIac}, Sub({112, 1}), {0x43, kIac, kIac}, Sub({107, 0}), {0x44}});
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    Rfc2217Session session;
    Bytes out;
    session.RequestPurge(out);
    EXPECT_EQ(out, Sub({12, 1}));
    EXPECT_TRUE(session.PurgeAwaited());
    Bytes queued;  // as a reader keeps what arrived
    Bytes answer;
    for (const auto& [from, to] : {std::pair{std::size_t{0}, cut}, std::pair{cut, stream.size()}}) {
      Bytes data;
      session.Receive(stream.data() + from, to - from, data, answer);
      if (session.TakePurgeConfirmed()) queued.clear();
      queued.insert(queued.end(), data.begin(), data.end());
    }
    EXPECT_FALSE(session.PurgeAwaited());
    EXPECT_EQ(queued, (Bytes{0x43, 0xFF, 0x44})) << "cut at " << cut;
  }
}

TEST(Rfc2217Session, ForgottenSettingsAreAskedForAgainWhole) {
  Rfc2217Session session;
  Bytes out;
  session.RequestSettings(Mark(), out);
  const Bytes all = out;
  const Bytes replies =
      Concat({Sub({101, 0, 0, 0x25, 0x80}), Sub({102, 8}), Sub({103, 4}), Sub({104, 1})});
  Bytes data;
  Bytes answer;
  session.Receive(replies.data(), replies.size(), data, answer);
  ASSERT_EQ(session.SettingsConfirmation(), Confirmation::kConfirmed);
  session.ForgetSettings();
  out.clear();
  session.RequestSettings(Mark(), out);
  EXPECT_EQ(out, all);
}

}  // namespace
