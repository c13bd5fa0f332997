// The Modbus sending path: turns the item at the head of the queue into one request and writes it
// to the library's port (direct mode) or hands it to the host in event 1 (indirect mode), and keeps
// the retry copy of what was sent.
#include "engine/item_keys.h"
#include "engine/query_engine.h"
#include "engine/text_format.h"
#include "quillbox/quillbox.h"

namespace qb {

void QueryEngine::SendModbusQuery(const QueryItem& item) {
  const int32_t code = item.Int(keys::kFncCode);
  const bool hostMadeFrame = item.Int(keys::kIsUsrModFrm) != 0;

  ByteBuffer hostFrame;
  std::span<const uint8_t> frame;
  if (hostMadeFrame) {
    if (item.GetBin(keys::kSendingUsrModFrm, hostFrame)) {
      frame = hostFrame.Bytes();
      modbus_.PrepareRawFrameReply(item.Int(keys::kUsrModFrmResponseLength));
    }
  } else {
    const int32_t slave = item.Int(keys::kSlvAddr);
    const int32_t start = item.Int(keys::kSttAddr);
    const int32_t length = item.Int(keys::kLength);
    ByteBuffer data;
    item.GetBin(keys::kRawData, data);
    switch (code) {
      case 1:
      case 2:
      case 3:
      case 4:
        frame = modbus_.Build(code, slave, start, length, 0, 0, 0, 0);
        break;
      case 5:
        frame = modbus_.Build(code, slave, start, 0, item.Int(keys::kWritingBit), 0, 0, 0);
        break;
      case 6:
        frame = modbus_.Build(code, slave, start, 0, 0, item.Int(keys::kWritingWord), 0, 0);
        break;
      case 15:
      case 16:
        frame = modbus_.BuildMultipleWrite(code, slave, start, length, data.Bytes());
        break;
      case 22:
        frame = modbus_.Build(code, slave, start, 0, 0, 0, item.Int(keys::kAndMask),
                              item.Int(keys::kOrMask));
        break;
      case 23:
        frame = modbus_.BuildReadWrite(
            slave, item.Int(keys::kReadRefAddress), item.Int(keys::kReadLength),
            item.Int(keys::kWriteRefAddress), item.Int(keys::kWriteLength), data.Bytes());
        break;
      default:
        break;
    }
  }
  // No frame: nothing is sent and the engine keeps naming the item handed out before, so the
  // time-out that follows is reported under that earlier id, as hosts of this library expect.
  if (frame.empty()) return;

  currentItemId_ = item.Id();
  currentItemIsAuto_ = item.Int(keys::kIsAuto);
  const std::u16string prefix = hostMadeFrame ? u"(UserProtocol)" : u"";
  if (directSerial_ != 0) {
    if (port_ != nullptr && port_->IsOpen()) {
      port_->Write(frame.data(), frame.size());
      ++requestsSent_;
      if (log_.LoggingOn()) {
        LogTraffic(u"sent item " + DecimalText(currentItemId_) + u":", frame.data(), frame.size());
      }
      retryCopy_ = item;
      if (NotesWanted()) {
        NoteWithBytes(
            prefix + u"DIRECT QUERY THRU COM" + DecimalText(port_->PortNumber()) + u" SUCCESS : ",
            frame.data(), frame.size());
      }
    } else {
      Note(prefix + u"DIRECT RS-232 QUERY FAILED !! (PORT NOT OPEN) : ");
    }
  } else {
    // The event's block is a copy: the host may build the next request from its handler.
    const std::vector<uint8_t> copy(frame.begin(), frame.end());
    DeliverEvent(copy.data(), static_cast<int32_t>(copy.size()), QB_EVENT_SEND_REQUEST);
    retryCopy_ = item;
    NoteWithBytes(prefix + u"INDIRECT QUERY THROUGH YOUR METHOD (Sending Msg) : ", copy.data(),
                  copy.size());
  }
}

}  // namespace qb
