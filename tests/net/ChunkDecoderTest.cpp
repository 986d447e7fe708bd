#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "net/ChunkDecoder.h"
#include "net/LowSpeedRule.h"

namespace {

using EState = CChunkDecoder::EState;

struct ChunkCase {
  std::string body;
  EState state;
  std::string data;  // joined, when done
};

// Fed whole and byte by byte, the walk reaches the same state and the same data.
TEST(ChunkDecoder, ReadsTheCodingStrictlyInAnyPieces) {
  const ChunkCase cases[] = {
      {"5\r\nhello\r\n0\r\n\r\n", EState::kDone, "hello"},
      {"5;name=value;x\r\nhello\r\n6 ; q=\"a;b\"\r\n world\r\n0\r\n\r\n", EState::kDone, "hello world"},
      {" 3 \r\nabc\r\n0\r\nETag: x\r\nX-Trailer: y\r\n\r\n", EState::kDone, "abc"},
      {"00000005\r\nhello\r\n000\r\n\r\n", EState::kDone, "hello"},
      {"A\r\n0123456789\r\n0\r\n\r\n", EState::kDone, "0123456789"},
      {"5\r\nhello\r\n0\r\n", EState::kMore, ""},
      {"5\r\nhel", EState::kMore, ""},
      {"5", EState::kMore, ""},
      {"0x5\r\nhello\r\n0\r\n\r\n", EState::kBad, ""},
      {"-5\r\nhello\r\n0\r\n\r\n", EState::kBad, ""},
      {"+5\r\nhello\r\n0\r\n\r\n", EState::kBad, ""},
      {"5 5\r\nhello\r\n0\r\n\r\n", EState::kBad, ""},
      {"\r\nhello\r\n0\r\n\r\n", EState::kBad, ""},
      {"80000000\r\n", EState::kBad, ""},           // past 31 bits
      {"fffffffffffffffff\r\n", EState::kBad, ""},  // would overflow
      {"5\r\nhelloXY0\r\n\r\n", EState::kBad, ""},  // no CRLF after the data
      {"5\nhello\r\n0\r\n\r\n", EState::kBad, ""},  // a bare line feed
      {"5\r\nhello\r\n0\r\n\r\nextra", EState::kBad, ""},
      {std::string(1025, '0') + "\r\n", EState::kBad, ""},
      {"1;" + std::string(1100, 'e'), EState::kBad, ""},
      {"0\r\n" + std::string(1100, 't'), EState::kBad, ""},
  };
  for (const ChunkCase& c : cases) {
    CChunkDecoder whole;
    CByteBuffer data(static_cast<int>(c.body.size()));
    EXPECT_EQ(c.state, whole.Read(reinterpret_cast<const BYTE*>(c.body.data()), static_cast<int>(c.body.size()), &data))
        << c.body.substr(0, 40);
    if (c.state == EState::kDone) {
      EXPECT_EQ(c.data, Text(data)) << c.body;
    }
    CChunkDecoder bytewise;
    EState state = EState::kMore;
    for (size_t length = 1; length <= c.body.size() && state != EState::kBad; ++length) {
      state = bytewise.Read(reinterpret_cast<const BYTE*>(c.body.data()), static_cast<int>(length));
    }
    EXPECT_EQ(c.state, state) << c.body.substr(0, 40);
  }
}

struct Receipt {
  DWORD tick;
  int count;
};

struct LowSpeedCase {
  const char* name;
  DWORD start;
  std::vector<Receipt> receipts;
  DWORD at;
  DWORD timeLeft;
};

// Window 60 s, 1024 bytes.
TEST(LowSpeedRule, BreaksWhenAnyWindowHoldsTooFewBytes) {
  const LowSpeedCase cases[] = {
      {"nothing yet", 0, {}, 10000, 50000},
      {"nothing for a whole window", 0, {}, 60000, 0},
      {"too few, however spread", 0, {{1000, 500}, {30000, 500}}, 59000, 1000},
      {"enough: the window runs from the receive that made it", 0, {{1000, 500}, {30000, 600}}, 59000, 2000},
      {"only the newest receives count", 0, {{1000, 2000}, {50000, 1024}}, 100000, 10000},
      {"a drip feed", 0, {{25000, 1}, {50000, 1}, {75000, 1}}, 75000, 0},
      {"ticks wrap", 0xFFFFF000u, {{0xFFFFF000u, 4096}}, 0x00001000u, 51808},
  };
  for (const LowSpeedCase& c : cases) {
    CLowSpeedRule rule(c.start);
    for (const Receipt& receipt : c.receipts) rule.Received(receipt.tick, receipt.count);
    EXPECT_EQ(c.timeLeft, rule.TimeLeft(c.at)) << c.name;
  }
}

}  // namespace
