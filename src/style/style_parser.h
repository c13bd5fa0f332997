// Recognising a received frame with a compiled Style: the bytes at the front of a buffer are walked
// unit by unit, fixed bytes checked, fields cut (by length, by a length read earlier in the frame,
// or by the fixed byte that follows), repeated groups run, checksums verified through the owner,
// and every field stored in a FrameValues table.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "style/frame_values.h"
#include "style/style.h"
#include "style/style_owner.h"

namespace qb {

inline constexpr int kParseMatched = 1;
inline constexpr int kParseNoMatch = 0;
inline constexpr int kParseNeedMore = -1;

// Parses the front of bytes. 1: a frame matched and consumed holds its length; 0: no match (the
// owner's error text says why); -1: the bytes end before the frame could be decided, and
// *shortfall (when given) holds the fewest bytes that must still come before it can be: what the
// Style needs at the least from where the bytes ended, with the lengths and repeat counts read so
// far. Values stored before a failure stay in out.
int ParseFrameAt(const Style& style, std::span<const uint8_t> bytes, FrameValues& out,
                 StyleOwner& owner, size_t& consumed, size_t* shortfall = nullptr);

// The same on a receive buffer: on 1 the frame's bytes are removed from its front; on 0 and -1 the
// buffer is unchanged.
int ParseFrame(const Style& style, std::vector<uint8_t>& buffer, FrameValues& out,
               StyleOwner& owner);

}  // namespace qb
