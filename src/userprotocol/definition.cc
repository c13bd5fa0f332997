// Loading a user protocol definition. The text comes from outside: every count in it only bounds a
// walk that stops at the first missing record, so a wrong count can neither hang the load nor make
// it allocate more than the text itself holds.
#include "userprotocol/definition.h"

#include <atomic>

#include "props/byte_buffer.h"

namespace qb {
namespace {

std::atomic<bool> missingPacketNotShown{true};

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

std::u16string Indexed(std::u16string_view key, size_t index) {
  std::u16string text(key);
  for (char c : std::to_string(index)) text += static_cast<char16_t>(c);
  return text;
}

}  // namespace

UserPacket::UserPacket() {
  SetStr(upkeys::kPaktName, u"");
  SetStr(upkeys::kByteOrder, u"HiFirst");
  SetStr(upkeys::kCommDirection, u"Tx");
  SetStr(upkeys::kEnableCksum, u"0");
  SetStr(upkeys::kCksumStartOrder, u"1");
  SetStr(upkeys::kCksumEndOrder, u"1");
  SetStr(upkeys::kCksumVarName, u"");
  SetStr(upkeys::kCksumMethod, u"PLUS");
}

bool HexTextToBytes(std::u16string_view text, ByteBuffer& bytes) {
  if (text.size() % 2 != 0) return false;
  bytes.Free();
  std::vector<uint8_t> out(text.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    const int high = HexDigit(text[2 * i]);
    const int low = HexDigit(text[2 * i + 1]);
    out[i] = high < 0 ? 0 : static_cast<uint8_t>(low < 0 ? high : high * 16 + low);
  }
  bytes.Append(out.data(), static_cast<int32_t>(out.size()));
  return true;
}

int32_t UserProtocol::Load(std::u16string_view text, Platform& platform) {
  ByteBuffer bytes;
  if (!HexTextToBytes(text, bytes)) return 0;
  name_.clear();
  packets_.clear();
  const CodePage& codePage = platform.GetCodePage();
  PropertyMap root;
  if (!root.LoadStream(bytes, codePage)) return 0;
  const int32_t count = root.GetInt(upkeys::kCnt, 0);
  for (int32_t index = 0; index < count; ++index) {
    ByteBuffer record;
    if (!root.GetBin(Indexed(upkeys::kPakt, static_cast<size_t>(index)), record)) {
      ShowMessageBoxOnce(platform, missingPacketNotShown, u"Error JR38");
      return 0;
    }
    auto packet = std::make_unique<UserPacket>();
    ReadPacket(record, *packet, codePage);
    packets_.push_back(std::move(packet));
  }
  name_ = root.GetStr(upkeys::kPrtclName);
  editorVersion_ = root.GetStr(upkeys::kPrtclEditorVer);
  return 1;
}

void UserProtocol::ReadPacket(const ByteBuffer& record, UserPacket& packet,
                              const CodePage& codePage) {
  PropertyMap map;
  if (!map.LoadStream(record, codePage)) return;
  packet.units.clear();
  const int32_t count = map.GetInt(upkeys::kPkunitCnt, 0);
  for (int32_t index = 0; index < count; ++index) {
    ByteBuffer unitRecord;
    auto unit = std::make_unique<PropertyMap>();
    if (!map.GetBin(Indexed(upkeys::kPkunit, static_cast<size_t>(index)), unitRecord) ||
        !unit->LoadStream(unitRecord, codePage)) {
      return;  // the units read so far stay; the packet keeps its default settings
    }
    packet.units.push_back(std::move(unit));
  }
  ByteBuffer settings;
  if (map.GetBin(upkeys::kPaktGlobal, settings)) packet.LoadStream(settings, codePage);
}

const UserPacket* UserProtocol::FindPacket(std::u16string_view name) const {
  for (const auto& packet : packets_) {
    if (packet->GetStr(upkeys::kPaktName) == name) return packet.get();
  }
  return nullptr;
}

}  // namespace qb
