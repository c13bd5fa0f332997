// Modbus ASCII against pymodbus's serial server (an independent implementation, run with Debian's
// python3) over linked pseudo-terminals.
#include <gtest/gtest.h>

#include "quillbox/quillbox.h"
#include "support/host_inbox.h"
#include "support/process.h"
#include "support/pty.h"

namespace qb::test {
namespace {

TEST(PymodbusPeer, AsciiReadsOfRegistersAndCoils) {
  const std::string missing = MissingPeer("pymodbus");
  if (!missing.empty()) GTEST_SKIP() << missing;
  PtyLink link;
  Process server(
      {"/usr/bin/python3", QB_PEERS_DIR "/pymodbus_ascii_server.py", link.Peer().Path(), "1"});
  ASSERT_EQ(server.ReadLine(10000), "ready") << "pymodbus did not start";

  qbSetPortDevice(2, link.Library().WidePath().c_str());
  qbSetAsciiMode();
  ASSERT_EQ(qbOpenSerial(2, 9600), 1);
  HostInbox::Get().Attach();
  qbSetTimeOut(500);
  qbAutoWordRead(1, 1, 0, 2);
  qbAutoBitRead(2, 1, 0, 10);
  qbStart();  // the first queries may time out while the server still starts
  auto& inbox = HostInbox::Get();
  const bool replied = inbox.WaitUntil(
      [](const std::vector<HostEvent>& events) {
        bool words = false, bits = false;
        for (const auto& e : events) {
          words = words || (e.code == 2 && e.itemId == 1);
          bits = bits || (e.code == 2 && e.itemId == 2);
        }
        return words && bits;
      },
      std::chrono::seconds(30));
  qbStop();
  qbCloseSerial();
  ASSERT_TRUE(replied);
  for (const auto& e : inbox.Events()) {
    if (e.code != 2) continue;
    if (e.itemId == 1) {
      EXPECT_EQ(e.words, (std::vector<int32_t>{1000, 1001}));
      EXPECT_EQ(e.frame.front(), ':');
    } else {
      EXPECT_EQ(e.words, (std::vector<int32_t>{0, 1, 0, 1, 0, 1, 0, 1, 0, 1}));
    }
  }
}

}  // namespace
}  // namespace qb::test
