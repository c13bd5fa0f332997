// The Modbus side of the engine: builds the one outstanding request in RTU or ASCII framing,
// remembers what its reply must look like (slave, function code, length), gathers the reply bytes
// as they arrive and hands a complete, checked reply to OnPacket. Modbus frames are built directly
// here, never through Styles.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "props/byte_buffer.h"

namespace qb {

class ModbusMaster {
 public:
  static constexpr int32_t kReplyBufferSize = 512;

  explicit ModbusMaster(Platform& platform) : platform_(platform) {}
  virtual ~ModbusMaster() = default;
  ModbusMaster(const ModbusMaster&) = delete;
  ModbusMaster& operator=(const ModbusMaster&) = delete;

  // Codes 1 to 6 and 22. Each build replaces the outstanding request: received 0, remaining = the
  // expected reply length, function code and slave recorded. The frame stays valid until the next
  // build. An unsupported code, or an expected reply longer than the reply buffer, gives an empty
  // frame and leaves the outstanding request as it was.
  std::span<const uint8_t> Build(int32_t code, int32_t slave, int32_t start, int32_t quantity,
                                 int32_t coilValue, int32_t registerValue, int32_t andMask,
                                 int32_t orMask);
  // Codes 15 and 16; empty when data holds fewer bytes than the byte count.
  std::span<const uint8_t> BuildMultipleWrite(int32_t code, int32_t slave, int32_t start,
                                              int32_t quantity, std::span<const uint8_t> data);
  // Code 23; empty when data holds fewer than 2 x writeQuantity bytes.
  std::span<const uint8_t> BuildReadWrite(int32_t slave, int32_t readAddress, int32_t readQuantity,
                                          int32_t writeAddress, int32_t writeQuantity,
                                          std::span<const uint8_t> data);
  // A host-made frame goes out as it stands: only the reply length is set (received 0); function
  // code and slave keep the values of the previous request.
  void PrepareRawFrameReply(int32_t responseLength);

  // Gathers reply bytes (the trim and user-mode options are always off); 1 taken, 0 rejected.
  int32_t Accumulate(const uint8_t* bytes, int32_t count);

  // Why a reply was refused, as OnRejected reports it (the header's QB_REJECT_... numbers).
  enum class RejectReason : int32_t {
    kChecksum = 1,
    kSlave = 2,
    kFunction = 3,
    kFraming = 4,
    kUnexpected = 5,  // more bytes than the outstanding request awaits (or none awaited)
  };
  // Detailed mode (off by default, where exception replies and refused replies go unreported):
  // an exception reply of the awaited slave to the awaited function ends the request at once
  // through OnException, and every refused reply or piece is also given to OnRejected.
  void SetDetailed(bool on) { detailed_ = on; }
  bool Detailed() const { return detailed_; }

  void SetRtu(bool rtu) { rtu_ = rtu ? 1 : 0; }
  bool IsRtu() const { return rtu_ == 1; }
  int32_t Remaining() const { return remaining_; }
  int32_t Received() const { return received_; }
  // The fewest bytes still to come before the reply in progress can be complete: the awaited
  // rest, or less where an exception reply, which detailed mode takes, may be ending sooner.
  // 0 when nothing is awaited.
  int32_t BytesBeforeReplyCanEnd() const;
  int32_t FunctionCode() const { return functionCode_; }
  int32_t SlaveAddress() const { return slave_; }

 protected:
  // A complete reply whose slave, function code and checksum matched the request.
  virtual void OnPacket(const uint8_t* bytes, int32_t count) = 0;
  // Detailed mode only: an exception reply (slave, function code | 0x80, exception code, checksum)
  // to the outstanding request, which is over; and a reply or a piece that was refused.
  virtual void OnException(const uint8_t* /*bytes*/, int32_t /*count*/) {}
  virtual void OnRejected(const uint8_t* /*bytes*/, int32_t /*count*/, RejectReason /*reason*/) {}
  // A line for the trace file; the engine routes it there.
  virtual void TraceLine(std::u16string_view /*line*/) {}

  Platform& platform_;

 private:
  // The length of the exception reply at the head of the reply buffer, or 0 when it holds none.
  int32_t ExceptionLength() const;
  std::span<const uint8_t> Finish(std::vector<uint8_t>& pdu, int32_t code, int32_t slave,
                                  int32_t rtuReplyLength);

  ByteBuffer frame_;
  uint8_t reply_[kReplyBufferSize] = {};
  int32_t remaining_ = 0;
  int32_t received_ = 0;
  int32_t functionCode_ = 0;
  int32_t rtu_ = 0;
  int32_t slave_ = 0;
  bool detailed_ = false;
};

// Expected reply length of a request (RTU bytes or ASCII characters); -1 for an unknown code.
int32_t ExpectedReplyLength(int32_t code, int32_t quantity, bool rtu);

// Decodes the data of a delivered frame into the words of the last-event record: codes 1 and 2 as
// bits (one entry per bit, least significant first, at most requestedBits entries), codes 3 and 4
// as 16-bit words. words is emptied first; dataType becomes kModbusBits or kModbusWords. Never
// reads beyond frame.
enum ModbusDataKind : int32_t { kModbusWords = 0, kModbusBits = 1 };
void DecodeModbusData(std::span<const uint8_t> frame, bool rtu, int32_t requestedBits,
                      std::vector<uint16_t>& words, int32_t& dataType);

// The least wait between a reply and the next request in RTU mode, in ms: 10 for baud 0,
// otherwise 1 + trunc(38400 / baud).
int32_t RtuTimeGap(uint32_t baud);

}  // namespace qb
