#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "net/HttpResponse.h"
#include "net/IncomingResponse.h"

namespace {

constexpr int kReceiveSize = 1024;

const std::string kChunkedResponse =
    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;name=value\r\nhello\r\n1\r\nx\r\n0\r\nX-Trailer: "
    "1\r\nETag: x\r\n\r\n";

// Fed in pieces of every size, the running answers equal those of a whole-response evaluation. A
// response refused on the way (more than it announced, a malformed chunk) is never complete.
void ExpectSameAnswersAsWholeEvaluation(const std::string& response) {
  for (size_t piece = 1; piece <= 7; ++piece) {
    CIncomingResponse incoming(kReceiveSize);
    bool refused = false;
    for (size_t at = 0; at < response.size() && !refused; at += piece) {
      std::string part = response.substr(at, piece);
      refused = !incoming.Append(reinterpret_cast<const BYTE*>(part.data()), static_cast<int>(part.size()));
      CByteBuffer whole = Bytes(response.substr(0, at + part.size()));
      if (refused) {
        ASSERT_FALSE(IsResponseComplete(whole)) << "piece " << piece << " at " << at;
        ASSERT_FALSE(IsResponseComplete(Bytes(response)));
      } else {
        ASSERT_EQ(IsResponseComplete(whole), incoming.IsComplete()) << "piece " << piece << " at " << at;
        // The final head: interim answers before it do not count.
        ASSERT_TRUE(!incoming.HasHead() || HasHeadEnd(whole));
      }
    }
    if (!refused) {
      // Interim answers before the final one and bytes beyond its length are dropped.
      std::string kept = Text(incoming.Joined());
      EXPECT_NE(std::string::npos, response.find(kept)) << kept;
    }
  }
}

TEST(IncomingResponse, AnswersEqualTheWholeResponseRules) {
  ExpectSameAnswersAsWholeEvaluation("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
  ExpectSameAnswersAsWholeEvaluation("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nhello");  // "lo" dropped
  ExpectSameAnswersAsWholeEvaluation(
      "\r\n\r\nHTTP/1.1 100 Continue\r\n\r\n\r\nHTTP/1.1 200\r\nContent-Length: 2\r\n\r\nok");
  ExpectSameAnswersAsWholeEvaluation("HTTP/1.1 200 OK\r\nX-A: a\rb\r\nContent-Length: 2\r\n\r\nok");        // refused
  ExpectSameAnswersAsWholeEvaluation("HTTP/1.1 200 OK\r\nTransfer-Encoding: x, chunked\r\n\r\n0\r\n\r\n");  // refused
  ExpectSameAnswersAsWholeEvaluation(kChunkedResponse);
  ExpectSameAnswersAsWholeEvaluation("HTTP/1.1 200 OK\r\ntransfer-encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n");
  ExpectSameAnswersAsWholeEvaluation("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nto the close");
}

TEST(IncomingResponse, CloseEndsOnlyCloseDelimitedBodies) {
  CIncomingResponse delimited(kReceiveSize);
  std::string text = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\npartial";
  delimited.Append(reinterpret_cast<const BYTE*>(text.data()), static_cast<int>(text.size()));
  EXPECT_FALSE(delimited.IsComplete());
  EXPECT_TRUE(delimited.IsCompleteAtClose());

  CIncomingResponse shortBody(kReceiveSize);
  text = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc";
  shortBody.Append(reinterpret_cast<const BYTE*>(text.data()), static_cast<int>(text.size()));
  EXPECT_FALSE(shortBody.IsCompleteAtClose());
  EXPECT_EQ(static_cast<long long>(text.size()) + 7, shortBody.ExpectedTotal());

  CIncomingResponse headless(kReceiveSize);
  headless.Append(reinterpret_cast<const BYTE*>("HTTP/1.1 200"), 12);
  EXPECT_FALSE(headless.IsCompleteAtClose());
}

TEST(IncomingResponse, RefusesResponsesPastTheLimit) {
  CIncomingResponse announced(kReceiveSize);
  std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 536870912\r\n\r\n";
  EXPECT_FALSE(announced.Append(reinterpret_cast<const BYTE*>(head.data()), static_cast<int>(head.size())));

  CIncomingResponse fits(kReceiveSize);
  head = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n";
  ASSERT_TRUE(fits.Append(reinterpret_cast<const BYTE*>(head.data()), static_cast<int>(head.size())));
  EXPECT_GE(fits.Body().Capacity(), 1000);  // reserved from the length
}

bool Feed(CIncomingResponse& incoming, const std::string& bytes) {
  return incoming.Append(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<int>(bytes.size()));
}

TEST(IncomingResponse, InterimAndBodilessAnswersEndWithTheirHead) {
  struct Case {
    std::string response;
    int status;
    std::string body;
  };
  const Case cases[] = {
      {"HTTP/1.1 304 Not Modified\r\nContent-Length: 379\r\n\r\n", 304, ""},
      {"HTTP/1.1 204 No Content\r\nContent-Length: 10\r\n\r\n", 204, ""},
      {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", 200, "ok"},
      {"HTTP/1.1 102 Processing\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: x\r\n\r\nHTTP/1.1 200 OK\r\n"
       "Transfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n",
       200, "ok"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.response);
    ExpectSameAnswersAsWholeEvaluation(c.response);
    CIncomingResponse incoming(kReceiveSize);
    ASSERT_TRUE(Feed(incoming, c.response));
    EXPECT_TRUE(incoming.IsComplete()) << c.response;
    EXPECT_EQ(c.status, GetStatusCode(incoming.Head()));
    EXPECT_EQ(c.body, Text(GetResponseBody(incoming.Joined())));
  }
  CIncomingResponse stray(kReceiveSize);  // bytes after a bodiless head are not its body
  ASSERT_TRUE(Feed(stray, "HTTP/1.1 304 Not Modified\r\n\r\nstray"));
  ASSERT_TRUE(Feed(stray, "more"));
  EXPECT_TRUE(stray.IsComplete());
  EXPECT_EQ(0, stray.Body().Length());

  CIncomingResponse kept(kReceiveSize);  // a request waiting for its 100 sees it
  kept.KeepInterimAnswers();
  ASSERT_TRUE(Feed(kept, "HTTP/1.1 100 Continue\r\n\r\n"));
  EXPECT_TRUE(kept.IsComplete());
  EXPECT_EQ(100, GetStatusCode(kept.Head()));
}

TEST(IncomingResponse, HeadsAndReservationsAreCapped) {
  std::string line = "X-Padding: " + std::string(1000, 'a') + "\r\n";
  CIncomingResponse endless(kReceiveSize);
  ASSERT_TRUE(Feed(endless, "HTTP/1.1 200 OK\r\n"));
  int fed = 0;
  while (fed < 2 * CIncomingResponse::kMaxHeadBytes && Feed(endless, line)) fed += static_cast<int>(line.size());
  EXPECT_LE(fed, CIncomingResponse::kMaxHeadBytes);  // refused once it passed the cap

  std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";  // interim answers count towards it
  CIncomingResponse flood(kReceiveSize);
  fed = 0;
  while (fed < 2 * CIncomingResponse::kMaxHeadBytes && Feed(flood, interim)) fed += static_cast<int>(interim.size());
  EXPECT_LE(fed, CIncomingResponse::kMaxHeadBytes);

  // A huge announced length reserves no more than the up-front cap, and a small cap refuses it.
  CIncomingResponse huge(kReceiveSize);
  ASSERT_TRUE(Feed(huge, "HTTP/1.1 200 OK\r\nContent-Length: 500000000\r\n\r\nabc"));
  EXPECT_LE(huge.Body().Capacity(), CIncomingResponse::kMaxUpFrontReserve + kReceiveSize + 4096);  // a page
  CIncomingResponse capped(kReceiveSize, 1000);
  EXPECT_FALSE(Feed(capped, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n"));
  CIncomingResponse unannounced(kReceiveSize, 1000);
  ASSERT_TRUE(Feed(unannounced, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n"));
  EXPECT_FALSE(Feed(unannounced, std::string(1000, 'b')));
}

}  // namespace
