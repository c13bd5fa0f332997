// What the scheduler and the direct query path need of the library's own serial port. The engine
// holds the port through this interface so that it can be driven in tests without a device.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qb {

class SerialLink {
 public:
  virtual ~SerialLink() = default;
  virtual bool IsOpen() const = 0;
  virtual void Write(const uint8_t* bytes, size_t count) = 0;
  virtual int32_t PortNumber() const = 0;
};

}  // namespace qb
