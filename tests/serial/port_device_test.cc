// Port numbers to device paths: the host's mapping, then QUILLBOX_COM<n>, then /dev/ttyS<n-1>.
#include "serial/port_device.h"

#include <gtest/gtest.h>

#include <vector>

namespace qb {
namespace {

TEST(PortDeviceTest, MappingThenEnvironmentThenTtyS) {
  std::vector<std::string> asked;
  const EnvLookup env = [&](const std::string& name) -> std::optional<std::string> {
    asked.push_back(name);
    if (name == "QUILLBOX_COM3") return "/dev/ttyUSB0";
    if (name == "QUILLBOX_COM4") return "";  // set but empty: not used
    return std::nullopt;
  };
  PortDeviceMap map;
  EXPECT_EQ(ResolvePortDevice(1, map, env), "/dev/ttyS0");
  EXPECT_EQ(ResolvePortDevice(10, map, env), "/dev/ttyS9");
  EXPECT_EQ(ResolvePortDevice(3, map, env), "/dev/ttyUSB0");
  EXPECT_EQ(ResolvePortDevice(4, map, env), "/dev/ttyS3");
  EXPECT_EQ(asked, (std::vector<std::string>{"QUILLBOX_COM1", "QUILLBOX_COM10", "QUILLBOX_COM3",
                                             "QUILLBOX_COM4"}));
  asked.clear();
  ASSERT_TRUE(map.Set(3, u"/dev/serial/by-id/\u00e9"));
  EXPECT_EQ(ResolvePortDevice(3, map, env), "/dev/serial/by-id/\xC3\xA9");  // UTF-8
  EXPECT_TRUE(asked.empty());
  ASSERT_TRUE(map.Set(3, u""));  // removes the mapping
  EXPECT_EQ(ResolvePortDevice(3, map, env), "/dev/ttyUSB0");
  EXPECT_EQ(ResolvePortDevice(0, map, env), "");
  EXPECT_EQ(ResolvePortDevice(-2, map, env), "");
}

TEST(PortDeviceTest, UnusableMappingsAreRefused) {
  PortDeviceMap map;
  ASSERT_TRUE(map.Set(1, u"/dev/ttyUSB0"));
  EXPECT_FALSE(map.Set(0, u"/dev/ttyUSB1"));
  EXPECT_FALSE(map.Set(1, std::u16string(PortDeviceMap::kMaxPathBytes + 1, u'a')));
  EXPECT_FALSE(map.Set(1, std::u16string_view(u"/dev/tty\0X", 10)));
  EXPECT_EQ(*map.Find(1), "/dev/ttyUSB0");
  EXPECT_TRUE(map.Set(2, std::u16string(PortDeviceMap::kMaxPathBytes, u'a')));
}

}  // namespace
}  // namespace qb
