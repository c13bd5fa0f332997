// A simulated controller of one of the ASCII link protocols: finds its requests in the received
// bytes and answers each one from the device memory, with the protocol's own refusal (NAK) for
// what a real controller refuses. One object per line; used by the simulator's thread only (the
// memory it serves is locked on its own).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sim/plc_memory.h"

namespace qb::sim {

enum class PlcOutcome {
  kReply,           // served: the reply is an acknowledgement with data, or of a write
  kRefused,         // answered with the protocol's NAK
  kNotAddressed,    // a good frame for a station that is not simulated: no reply
  kAcknowledged,    // the master's acknowledgement of a reply (MBFX): no reply
  kUnacknowledged,  // a request that came while the controller waited for an acknowledgement:
                    // the wait ends, the request is not served
  kChecksumError,   // a complete frame with a wrong check sum: no reply
  kMalformed,       // a complete frame that is no request of the protocol: no reply
};

struct PlcAnswer {
  PlcOutcome outcome = PlcOutcome::kMalformed;
  std::vector<uint8_t> reply;  // the whole frame on the wire; empty: nothing is sent
  int waitMs = 0;              // the request's own wait before the reply (MBFX)
  std::string note;            // for the simulator's log: what was asked, or why it was refused
};

class PlcSlave {
 public:
  virtual ~PlcSlave() = default;
  // The length of the frame that begins at bytes[0]: 0 while more bytes are needed, -1 when
  // bytes[0] begins no frame (the caller drops it).
  virtual int FrameLength(std::span<const uint8_t> bytes) const = 0;
  virtual PlcAnswer Handle(std::span<const uint8_t> frame) = 0;
  // Damages the check sum of a reply made by Handle; false when the reply has none.
  virtual bool Corrupt(std::vector<uint8_t>* reply) const = 0;
  // The last reply did not go out (the drop fault): a controller waiting for its acknowledgement
  // would wait forever.
  virtual void ReplyLost() {}
};

std::unique_ptr<PlcSlave> MakeLsmkSlave(PlcModel* model);
std::unique_ptr<PlcSlave> MakeMkldSlave(PlcModel* model);
std::unique_ptr<PlcSlave> MakeMbfxSlave(PlcModel* model);
std::unique_ptr<PlcSlave> MakePlcSlave(PlcModel* model);  // by the model's protocol

}  // namespace qb::sim
