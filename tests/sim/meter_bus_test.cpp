#include "sim/meter_bus.h"

#include <gtest/gtest.h>

#include <memory>

#include "sim/meter_values.h"

namespace {

constexpr std::uint64_t kT = 5'000'000;  // 5 s after the start

BusMeter Meter(int32_t address) {
  BusMeter meter;
  meter.address = address;
  meter.frozen = true;
  meter.fixed = {{1, 12.3456}};  // N 12345600, P 2
  return meter;
}

// The bus as the pty simulator runs it: meters in service, missed address
// bits recovered.
std::unique_ptr<MeterBus> Bus(const std::vector<BusMeter>& meters, const BusFaults& faults = {},
                              const AnswerFaults& answerFaults = {}) {
  auto bus = std::make_unique<MeterBus>(faults);
  AttachMetersInService(*bus, meters, answerFaults);
  bus->RecoverMissedAddressBits(true);
  return bus;
}

// Sends address (with the given ninth bit), code and checksum; returns all
// the bus sent back.
std::vector<Transmission> Request(MeterBus& bus, BYTE address, BYTE code,
                                  NinthBit addressBit = NinthBit::kOne) {
  std::vector<Transmission> out = bus.Receive(address, addressBit, kT);
  for (const BYTE b : {code, static_cast<BYTE>(address + code)}) {
    for (Transmission& t : bus.Receive(b, NinthBit::kZero, kT)) out.push_back(std::move(t));
  }
  return out;
}

const Transmission* Find(const std::vector<Transmission>& out, const std::string& what) {
  for (const Transmission& t : out) {
    if (t.what.rfind(what, 0) == 0) return &t;
  }
  return nullptr;
}

// R0 own address, R1 code, R2 position, R3..R6 digits, R7 sum.
const std::vector<BYTE> kAnswer = {0x07, 0x01, 0x02, 0x12, 0x34, 0x56, 0x00, 0xA6};

TEST(MeterBusTest, EchoesEveryByteThenAnswers) {
  const auto bus = Bus({Meter(7)});
  const std::vector<Transmission> out = Request(*bus, 0xFF, 0x01);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].bytes, std::vector<BYTE>{0xFF});
  EXPECT_EQ(out[0].bit, NinthBit::kOne);
  EXPECT_EQ(out[1].bytes, std::vector<BYTE>{0x01});
  EXPECT_EQ(out[2].bytes, std::vector<BYTE>{0x00});
  EXPECT_EQ(out[3].bytes, kAnswer);
  EXPECT_EQ(out[3].dueUs, kT);
  EXPECT_EQ(out[3].what, "answer from meter 7");
}

TEST(MeterBusTest, OnlyTheAddressedMeterAnswers) {
  const auto bus = Bus({Meter(7), Meter(8)});
  const std::vector<Transmission> out = Request(*bus, 8, 1);
  const Transmission* answer = Find(out, "answer");
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer->bytes[0], 8);
  EXPECT_EQ(Find(Request(*bus, 9, 1), "answer"), nullptr);
  EXPECT_EQ(Find(Request(*bus, 7, 42), "answer"), nullptr);  // a code the meter does not know
}

struct FaultCase {
  const char* name;
  BusFaults faults;
  AnswerFaults answerFaults;
  size_t transmissions;
  std::vector<BYTE> firstBytes;
  std::vector<BYTE> answer;  // empty: none
  std::uint64_t answerDueUs;
};

TEST(MeterBusTest, FaultsOnDemand) {
  const FaultCase cases[] = {
      {"silent", {.silent = true}, {}, 3, {0x07}, {}, 0},
      {"late", {.late = true}, {}, 4, {0x07}, kAnswer, kT + 30'000},
      {"stray", {.stray = {0x7F, 0x7E}}, {}, 5, {0x7F, 0x7E}, kAnswer, kT},
      {"no echo", {.addressEchoMissing = true}, {}, 3, {0x01}, kAnswer, kT},
      {"bcd",
       {},
       {.invalidBcd = true},
       4,
       {0x07},
       {0x07, 0x01, 0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0xD8},
       kT},
      {"position",
       {},
       {.positionTooLarge = true},
       4,
       {0x07},
       {0x07, 0x01, 0x09, 0x12, 0x34, 0x56, 0x00, 0xAD},
       kT},
  };
  for (const FaultCase& c : cases) {
    const auto bus = Bus({Meter(7)}, c.faults, c.answerFaults);
    const std::vector<Transmission> out = Request(*bus, 0x07, 0x01);
    ASSERT_EQ(out.size(), c.transmissions) << c.name;
    EXPECT_EQ(out[0].bytes, c.firstBytes) << c.name;
    const Transmission* answer = Find(out, "answer");
    if (c.answer.empty()) {
      EXPECT_EQ(answer, nullptr) << c.name;
      continue;
    }
    ASSERT_NE(answer, nullptr) << c.name;
    EXPECT_EQ(answer->bytes, c.answer) << c.name;
    EXPECT_EQ(answer->dueUs, c.answerDueUs) << c.name;
  }
}

// An address byte sampled too late (after the switch to space) is found
// again from the checksum; a correctly framed request is not answered twice.
TEST(MeterBusTest, MissedAddressBitRecoveredFromChecksum) {
  const auto bus = Bus({Meter(7)});
  const std::vector<Transmission> recovered = Request(*bus, 0x07, 0x01, NinthBit::kZero);
  const Transmission* answer = Find(recovered, "answer");
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer->bytes, kAnswer);
  EXPECT_NE(answer->what.find("recovered"), std::string::npos);

  EXPECT_EQ(Find(Request(*bus, 0x05, 0x01, NinthBit::kZero), "answer"), nullptr);  // not ours
  std::vector<Transmission> out = Request(*bus, 0x07, 0x01);
  for (Transmission& t : Request(*bus, 0x07, 0x01)) out.push_back(std::move(t));
  EXPECT_EQ(std::count_if(out.begin(), out.end(),
                          [](const Transmission& t) { return t.what.starts_with("answer"); }),
            2);
}

TEST(MeterBusTest, ReadingsFollowTheClockUnlessFrozen) {
  BusMeter running = Meter(7);
  running.frozen = false;
  running.fixed.clear();
  const auto bus = Bus({running});
  const auto volumeAt = [&bus](std::uint64_t us) {
    bus->Receive(7, NinthBit::kOne, us);
    bus->Receive(1, NinthBit::kZero, us);
    const std::vector<Transmission> out = bus->Receive(8, NinthBit::kZero, us);
    return out.empty() ? std::vector<BYTE>{} : out.back().bytes;
  };
  const std::vector<BYTE> atStart = volumeAt(0);
  ASSERT_EQ(atStart.size(), 8u);
  EXPECT_NE(atStart, volumeAt(60'000'000));

  const auto frozen = Bus({Meter(7)});
  const std::vector<Transmission> out = Request(*frozen, 7, 1);
  ASSERT_NE(Find(out, "answer"), nullptr);
  EXPECT_EQ(Find(out, "answer")->bytes, kAnswer);
}

}  // namespace
