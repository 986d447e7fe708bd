#include <gtest/gtest.h>

#include <string>

#include "DeflateForTests.h"
#include "TestSupport.h"
#include "net/HttpResponse.h"

namespace {

std::string Body(const std::string& response) { return Text(GetResponseBody(Bytes(response))); }

}  // namespace

TEST(HttpResponse, StatusCodes) {
  EXPECT_EQ(304, GetStatusCode(Bytes("HTTP/1.1 304 Not Modified\r\nServer: x\r\n\r\n")));
  EXPECT_EQ(200, GetStatusCode(Bytes("HTTP/1.1 200 OK\r\n\r\nbody")));
  EXPECT_EQ(200, GetStatusCode(Bytes("HTTP/1.1 200\r\n\r\n")));                     // no reason phrase
  EXPECT_EQ(204, GetStatusCode(Bytes("\r\n\r\nHTTP/1.1 204 No Content\r\n\r\n")));  // empty lines before it
  EXPECT_EQ(-1, GetStatusCode(Bytes("HTTP/1.1 20 OK\r\n\r\n")));
  EXPECT_EQ(-1, GetStatusCode(Bytes("")));
  EXPECT_EQ("\r\n", GetResponseHead(Bytes("no head end")));
  EXPECT_EQ("HTTP/1.1 200 OK\r\nA: b\r\n", GetResponseHead(Bytes("HTTP/1.1 200 OK\r\nA: b\r\n\r\nbody")));
}

TEST(HttpResponse, HeadersKeepOrderAndRepetition) {
  HttpHeaders headers =
      ParseResponseHeaders(Bytes("HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nSet-Cookie:  b=2 \r\nX-Empty:\r\nX-Folded: "
                                 "a\r\n \t b\r\n\r\nbody"));
  ASSERT_EQ(4u, headers.size());
  EXPECT_EQ("a b", *FindHeader(headers, "x-folded"));  // a continuation line joins the value before it
  EXPECT_EQ("Set-Cookie", headers[1].first);
  EXPECT_EQ("b=2 ", headers[1].second);  // leading spaces go, trailing ones stay
  ASSERT_NE(nullptr, FindHeader(headers, "set-cookie"));
  EXPECT_EQ("a=1", *FindHeader(headers, "set-cookie"));
  EXPECT_EQ("", *FindHeader(headers, "x-empty"));
  EXPECT_EQ(nullptr, FindHeader(headers, "Absent"));
}

TEST(HttpResponse, CompleteByContentLengthInAnyLetterCase) {
  const std::string head = "HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\r\n";
  long long length = 0;
  ASSERT_TRUE(GetContentLength(Bytes(head), &length));
  EXPECT_EQ(5, length);
  EXPECT_FALSE(IsResponseComplete(Bytes(head + "1234")));
  EXPECT_TRUE(IsResponseComplete(Bytes(head + "12345")));
  EXPECT_TRUE(IsResponseComplete(Bytes(head + "123456")));
  EXPECT_EQ("12345", Body(head + "123456"));  // bytes beyond the length are dropped
  EXPECT_FALSE(IsResponseComplete(Bytes("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n")));  // head not in yet
  EXPECT_FALSE(IsCloseDelimited(Bytes(head)));
}

TEST(HttpResponse, CompleteByTheLastChunk) {
  const std::string head = "HTTP/1.1 200 OK\r\nTRANSFER-ENCODING: Chunked\r\n\r\n";
  EXPECT_FALSE(IsResponseComplete(Bytes(head + "5\r\nhello\r\n0\r\n")));
  EXPECT_TRUE(IsResponseComplete(Bytes(head + "5\r\nhello\r\n0\r\n\r\n")));
  EXPECT_FALSE(IsResponseComplete(Bytes(head + "5\r\nhel")));
  EXPECT_EQ("hello world", Body(head + "5\r\nhello\r\n 6 \r\n world\r\n0\r\n\r\n"));
  EXPECT_EQ("5\r\nhel", Body(head + "5\r\nhel"));                                        // incomplete: as received
  EXPECT_EQ("123456789\r\nx\r\n0\r\n\r\n", Body(head + "123456789\r\nx\r\n0\r\n\r\n"));  // size too big: as received
}

TEST(HttpResponse, ConnectionCloseWithoutLengthEndsAtTheClose) {
  CByteBuffer response = Bytes("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\npart of the body");
  EXPECT_FALSE(IsResponseComplete(response));  // more may come until the server closes
  EXPECT_TRUE(IsCloseDelimited(response));
  EXPECT_EQ("part of the body", Text(GetResponseBody(response)));
}

TEST(HttpResponse, GzipBodiesAreInflated) {
  std::string text(100000, 'g');
  for (size_t i = 0; i < text.size(); i += 7) text[i] = static_cast<char>('a' + i % 26);
  std::string gzipped = Gzip(text);
  std::string head =
      "HTTP/1.1 200 OK\r\nContent-Encoding: GZIP\r\nContent-Length: " + std::to_string(gzipped.size()) + "\r\n\r\n";
  EXPECT_EQ(text, Body(head + gzipped));

  std::string corrupted = gzipped;
  corrupted[20] ^= 0x5a;
  corrupted[21] ^= 0x5a;
  EXPECT_EQ(corrupted, Body(head + corrupted));  // left as received

  CByteBuffer truncated;
  ASSERT_EQ(CGzipInflater::EResult::kDone,
            CGzipInflater().Inflate(Bytes(gzipped.substr(0, gzipped.size() / 2)), truncated));
  EXPECT_EQ(text.substr(0, truncated.Length()), Text(truncated));
  CByteBuffer empty;
  EXPECT_EQ(CGzipInflater::EResult::kDone, CGzipInflater().Inflate(CByteBuffer(), empty));
  EXPECT_TRUE(empty.IsEmpty());

  std::string chunkedGzip = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Encoding: gzip\r\n\r\n";
  char size[16];
  snprintf(size, sizeof(size), "%x", static_cast<unsigned>(gzipped.size()));
  EXPECT_EQ(text, Body(chunkedGzip + size + "\r\n" + gzipped + "\r\n0\r\n\r\n"));
}

TEST(HttpResponse, Utf8HtmlBecomesTheAnsiCodePage) {
  std::string page = u8"<p>客服</p>";
  EXPECT_EQ("<p>客服</p>", Body("HTTP/1.1 200 OK\r\nContent-Type: text/html; CHARSET=UTF-8\r\n\r\n" + page));
  EXPECT_EQ(page, Body("HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n\r\n" + page));
  EXPECT_EQ(page, Body("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=gbk\r\n\r\n" + page));
  // Converted whole, zero bytes included; what is no UTF-8 after all (a package sent with the
  // wrong type, say) stays exactly as received.
  const struct {
    const char* name;
    std::string sent;
    std::string received;
  } bodies[] = {
      {"zero bytes", std::string(u8"a\0加", 5), std::string("a\0加", 4)},
      {"a stray continuation byte", "ok\x80", "ok\x80"},
      {"a binary body", std::string("PK\x03\x04\0\0\xff\xfe", 8), std::string("PK\x03\x04\0\0\xff\xfe", 8)},
      {"an encoded surrogate", "\xed\xa0\x80", "\xed\xa0\x80"},
      {"a cut sequence", "\xe5\x8a", "\xe5\x8a"},
  };
  for (const auto& c : bodies) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.received, Body("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n" + c.sent));
  }
  EXPECT_EQ("abc", GetResponseText(Bytes(std::string("HTTP/1.1 200 OK\r\n\r\nabc\0def", 26))));
}
