#include "protocols/protocol_capabilities.h"

namespace qb {

bool ProtocolHasDeviceName(std::u16string_view protocol) {
  return protocol == u"LSMK" || protocol == u"MKLD" || protocol == u"MBFX";
}

bool ProtocolHasBitPosition(std::u16string_view protocol) {
  return protocol == u"LSMK" || protocol == u"MKLD";
}

bool ProtocolSupportsContinuousAddress(std::u16string_view protocol) {
  return protocol == u"MODBUS" || protocol == u"MBFX";
}

}  // namespace qb
