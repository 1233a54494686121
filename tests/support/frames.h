// Replies built by hand, check bytes filled, as a board sends them.
#pragma once

#include "protocol/frames.h"

#include <initializer_list>

// A reply of board `address`: `code`, then `payload` from byte 4 on.
inline Frame SealedReply(uint8_t code, std::initializer_list<uint8_t> payload = {}, uint8_t address = 1)
{
    Frame f{wire::kReplyHeader, address, code};
    std::copy(payload.begin(), payload.end(), f.begin() + 4);
    SealFrame(f);
    return f;
}
