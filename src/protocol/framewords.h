// Frames on the line in words, both directions, for the frame log and
// kelmora-cli's --trace. Pure: bytes in, words out; the request and reply
// layouts come from frames.h and replies.h.
#pragma once

#include "protocol/frames.h"

#include <QString>

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
// `reply` is the board's answer to `request`: right header and checks (unless
// `checks` is false), the matching code, and for a read the slot asked for.
bool Answers(const Frame &request, const Frame &reply, bool checks = true);
// `b` asks what `a` asked (a clock set at a later second included): sent after
// `a` went unanswered, it is a re-send.
bool SameRequest(const Frame &a, const Frame &b);

QString StrayWords(int count);      // "多余字节 5 个，不成帧"
QString ResendWords(int resend);    // "无应答（第2次重发）"
QString GivenUpWords(int attempts); // "无应答（共发4次）"
