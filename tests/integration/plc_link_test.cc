// The library's own port, selected with qbSetProtocol, against the simulated LSMK, MKLD and MBFX
// controllers of tools/sim over a pseudo-terminal: values read are those the controller holds,
// writes land in its memory, and faults on the line cost time-outs but never a wrong value.
#include <gtest/gtest.h>

#include <map>
#include <mutex>

#include "quillbox/quillbox.h"
#include "sim/plc_memory.h"
#include "sim/serial_line.h"
#include "sim/simulator.h"
#include "support/host_inbox.h"

namespace qb::test {
namespace {

using sim::PlcProtocol;

class PlcLink : public ::testing::Test {
 protected:
  void Start(PlcProtocol p, sim::FaultOptions faults = {}) {
    protocol = p;
    mbfx = p == PlcProtocol::kMbfx;
    station = p == PlcProtocol::kMkld ? 0 : 1;
    model = std::make_unique<sim::PlcModel>(p, 1000);
    model->AddStation(station);
    for (const char* v : {"D100=0x1234,0xBEEF", mbfx ? "M10=1,0,1,1" : "M10=0x0020"}) {
      ASSERT_TRUE(sim::ApplyPlcAssignment(*model, v, nullptr));
    }
    std::string error;
    ASSERT_TRUE(pty.Open(&error)) << error;
    sim::SimulatorOptions options;
    options.faults = faults;
    options.log = [this](const std::string& line) {
      std::lock_guard lock(logMutex);
      log += line + "\n";
    };
    simulator = std::make_unique<sim::Simulator>(pty.MasterFd(), sim::MakePlcSlave(model.get()),
                                                 std::move(options));
    ASSERT_TRUE(simulator->Start(&error)) << error;
    const std::u16string path(pty.SlavePath().begin(), pty.SlavePath().end());
    qbSetPortDevice(4, path.c_str());
    ASSERT_EQ(qbOpenSerial(4, 115200), 1);
    inbox.Attach();
    const std::string_view name = sim::PlcProtocolName(p);
    qbSetProtocol(std::u16string(name.begin(), name.end()).c_str());
    qbSetTimeOut(250);
    qbSetQueryInterval(0);
  }
  void TearDown() override {
    qbStop();
    qbCloseSerial();
    if (simulator) simulator->Stop();
  }
  // The word reads of D100 and D101 (one MBFX read of both) and a bit read: M10.5 (on) or, under
  // MBFX, M10 to M13 (1, 0, 1, 1).
  std::map<uint32_t, std::vector<int32_t>> RegisterReads() {
    if (mbfx) {
      qbAutoWordReadEx(1, station, 100, u"D", 2);
      qbAutoBitReadEx(3, station, 10, u"M", -1, 4);
      return {{1, {0x1234, 0xBEEF}}, {3, {1, 0, 1, 1}}};
    }
    qbAutoWordReadEx(1, station, 100, u"D", 1);
    qbAutoWordReadEx(2, station, 101, u"D", 1);
    qbAutoBitReadEx(3, station, 10, u"M", 5, 1);
    return {{1, {0x1234}}, {2, {0xBEEF}}, {3, {1}}};
  }
  // Every reply of an expected item carries its values, and replies came for each of them.
  void ExpectValues(const std::map<uint32_t, std::vector<int32_t>>& expected, size_t each) {
    ASSERT_TRUE(inbox.WaitUntil([&](const std::vector<HostEvent>& events) {
      for (const auto& [id, values] : expected) {
        size_t n = 0;
        for (const auto& e : events) n += e.code == 2 && e.itemId == id ? 1 : 0;
        if (n < each) return false;
      }
      return true;
    })) << log;
    for (const auto& e : inbox.Events()) {
      if (e.code == 2 && expected.contains(e.itemId)) {
        EXPECT_EQ(e.words, expected.at(e.itemId)) << "item " << e.itemId;
      }
    }
  }
  size_t Count(int code, uint32_t id) {
    size_t n = 0;
    for (const auto& e : inbox.Events()) n += e.code == code && e.itemId == id ? 1 : 0;
    return n;
  }

  PlcProtocol protocol = PlcProtocol::kLsmk;
  bool mbfx = false;
  int station = 1;
  std::unique_ptr<sim::PlcModel> model;
  sim::PseudoTerminal pty;
  std::unique_ptr<sim::Simulator> simulator;
  std::mutex logMutex;
  std::string log;
  HostInbox& inbox = HostInbox::Get();
};

class PlcLinkTest : public PlcLink, public ::testing::WithParamInterface<PlcProtocol> {};

TEST_P(PlcLinkTest, ReadsWhatTheControllerHoldsAndWritesReachIt) {
  Start(GetParam());
  const auto expected = RegisterReads();
  qbStart();
  qbManualWordWriteEx(10, station, 200, 4242, u"D");
  qbManualBitWriteEx(11, station, 20, 1, u"M", mbfx ? -1 : 3);
  ExpectValues(expected, 3);
  EXPECT_EQ(model->Word(station, "D", 200), 4242);
  EXPECT_EQ(model->Bit(station, "M", 20, mbfx ? -1 : 3), true);
  // Only an LSMK write acknowledgement reaches the host.
  EXPECT_EQ(Count(2, 10), GetParam() == PlcProtocol::kLsmk ? 1u : 0u);
  EXPECT_EQ(inbox.Count(inbox.Events(), 3), 0u) << log;
  // Every MBFX read reply is acknowledged: 3 cycles of 2 reads, nothing left unserved.
  EXPECT_TRUE(
      simulator->WaitFor([&](const auto& c) { return c.acknowledgements >= (mbfx ? 6u : 0u); },
                         std::chrono::seconds(5)));
  EXPECT_EQ(simulator->Counters().unacknowledged, 0u);
}

struct Fault {
  const char* name;
  sim::FaultOptions options;
  bool costsTimeOuts[3];  // LSMK, MKLD, MBFX
};
// The library does not check the BCC of MKLD replies: a corrupted one is taken as it is.
const Fault kFaults[] = {
    {"drop", {.dropEvery = 5}, {true, true, true}},
    {"corrupt", {.corruptEvery = 5}, {true, false, true}},
    {"noise", {.noiseEvery = 2, .noise = {0x00, 0x06, 0x15, 0x02}}, {false, false, false}},
    {"split", {.splitEvery = 2, .splitGapMs = 30}, {false, false, false}},
};

class PlcFaultTest : public PlcLink,
                     public ::testing::WithParamInterface<std::tuple<PlcProtocol, int>> {};

TEST_P(PlcFaultTest, FaultsCostTimeOutsButNeverAWrongValue) {
  const auto [p, f] = GetParam();
  Start(p, kFaults[f].options);
  const auto expected = RegisterReads();
  qbStart();
  ExpectValues(expected, 4);
  const bool timeOuts = inbox.Count(inbox.Events(), 3) > 0;
  EXPECT_EQ(timeOuts, kFaults[f].costsTimeOuts[static_cast<int>(p)]) << log;
}

const auto kProtocols =
    ::testing::Values(PlcProtocol::kLsmk, PlcProtocol::kMkld, PlcProtocol::kMbfx);

INSTANTIATE_TEST_SUITE_P(Protocols, PlcLinkTest, kProtocols, [](const auto& info) {
  return std::string(sim::PlcProtocolName(info.param));
});
INSTANTIATE_TEST_SUITE_P(Protocols, PlcFaultTest,
                         ::testing::Combine(kProtocols, ::testing::Range(0, 4)),
                         [](const auto& info) {
                           return std::string(sim::PlcProtocolName(std::get<0>(info.param))) + "_" +
                                  kFaults[std::get<1>(info.param)].name;
                         });

}  // namespace
}  // namespace qb::test
