// Modbus ASCII against pymodbus's serial server (an independent implementation, run with Debian's
// python3) over linked pseudo-terminals.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "host_inbox.h"
#include "pty.h"
#include "quillbox/quillbox.h"

namespace qb::test {
namespace {

TEST(PymodbusPeer, AsciiReadsOfRegistersAndCoils) {
  PtyLink link;
  const std::string command = std::string("/usr/bin/python3 ") + QB_PEERS_DIR +
                              "/pymodbus_ascii_server.py " + link.Peer().Path() + " 1";
  FILE* server = popen(command.c_str(), "r");
  ASSERT_NE(server, nullptr);
  char line[64] = {};
  ASSERT_NE(fgets(line, sizeof line, server), nullptr) << "pymodbus did not start";
  ASSERT_EQ(std::string(line), "ready\n");

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
  std::system(("pkill -f '" + link.Peer().Path() + " 1'").c_str());
  pclose(server);
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
