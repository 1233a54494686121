// Frames on the line in words, both directions, for the frame log and
// kelmora-cli's --trace. Pure: bytes in, words out; the request and reply
// layouts come from frames.h and replies.h.
#pragma once

#include "protocol/frames.h"

#include <QString>

#include <bitset>
#include <cstdint>
#include <optional>

enum class FrameDirection : uint8_t { Sent, Received };
// What a frame is about, for the log's kind filter.
enum class FrameKind : uint8_t { Status, Relay, Write, Read, Clock, Other };

struct FrameWords {
    FrameKind kind = FrameKind::Other;
    QString text;
    bool fault = false; // damaged or not understood
};

// `relaysBefore`: the relay states (bit 0 = channel 1) the board last reported;
// when known, a relay command is told by what it changes ("吸合 第3路 (其余保持)").
FrameWords DescribeFrame(const Frame &f, FrameDirection direction, std::optional<uint16_t> relaysBefore = {});

// Both check bytes are what bytes 0..19 make them.
bool ChecksAreRight(const Frame &f);

// How a frame's check bytes stand: right; 00 00 where bytes 0..19 make others,
// which is how a board that does not fill them sends every reply; or wrong.
enum class CheckBytes : uint8_t { Right, Unfilled, Wrong };
CheckBytes CheckBytesOf(const Frame &f);

// Whether a reply may be taken as data. A reply whose check bytes are wrong
// was damaged on the line and never is. 00 00 is how a board that leaves them
// unfilled sends a kind of reply, so it is taken, until that board (address)
// has once sent that kind (code) with right check bytes: it fills them, and
// 00 00 from it is damage too. Any other pair is damage whatever came before,
// so a fresh link believes no damaged reply.
class ReplyTrust {
public:
    bool take(const Frame &reply);
    void forget() { m_filled.reset(); }

private:
    std::bitset<256 * 256> m_filled; // address * 256 + code
};
// `reply` is the board's answer to `request`: right header and checks (unless
// `checks` is false), the matching code, and for a read the slot asked for.
bool Answers(const Frame &request, const Frame &reply, bool checks = true);
// `b` asks what `a` asked (a clock set at a later second included): sent after
// `a` went unanswered, it is a re-send.
bool SameRequest(const Frame &a, const Frame &b);

QString StrayWords(int count);      // "多余字节 5 个，不成帧"
// `damaged`: the last answer came back with wrong check bytes, not at all otherwise.
QString ResendWords(int resend, bool damaged = false);    // "无应答（第2次重发）", "校验错误，重发（第2次）"
QString GivenUpWords(int attempts, bool damaged = false); // "无应答（共发4次）", "校验错误（共发4次）"
