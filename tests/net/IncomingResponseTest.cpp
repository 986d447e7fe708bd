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
        ASSERT_EQ(HasHeadEnd(whole), incoming.HasHead());
      }
    }
    if (!refused) {
      EXPECT_EQ(response, Text(incoming.Joined()));
    }
  }
}

TEST(IncomingResponse, AnswersEqualTheWholeResponseRules) {
  ExpectSameAnswersAsWholeEvaluation("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
  ExpectSameAnswersAsWholeEvaluation("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nhello");  // never complete
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

}  // namespace
