// Mutated responses through the whole response path, in process: from a few valid responses,
// generated variants (bit flips, truncations, inserted and repeated bytes, swapped and duplicated
// header lines, absurd numbers) go to the completeness check fed in pieces and whole, the header
// parser, the chunk decoder, the inflater and the cookie jar. Nothing may crash or loop, nothing
// may pass its cap, and the piecewise and whole answers and bodies must agree.
// VELMOR_MUTATION_VARIANTS sets a longer run; the seed is fixed and printed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "DeflateForTests.h"
#include "TestSupport.h"
#include "net/ChunkDecoder.h"
#include "net/CookieJar.h"
#include "net/HttpResponse.h"
#include "net/IncomingResponse.h"

namespace {

constexpr unsigned kSeed = 20261209;
constexpr int kDefaultVariants = 10000;
constexpr int kCap = 1024 * 1024;  // response and inflation cap of this run
constexpr int kReceiveSize = 4096;

std::vector<std::string> Seeds() {
  std::string text = "Velmor response body, compressible text compressible text compressible text.";
  std::string packed = Gzip(text);
  std::string bomb = Gzip(std::string(2 * kCap, 'z'));
  return {
      "HTTP/1.1 200 OK\r\nContent-Length: 11\r\nContent-Type: text/plain\r\n\r\nhello world",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;x=y\r\nhello\r\n6\r\n world\r\n0\r\nETag: x\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " + std::to_string(packed.size()) + "\r\n\r\n" +
          packed,
      "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n" +
          [&] {
            char size[16];
            snprintf(size, sizeof(size), "%x", static_cast<unsigned>(bomb.size()));
            return std::string(size) + "\r\n" + bomb + "\r\n0\r\n\r\n";
          }(),
      "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; Domain=.velmor.test; Path=/\r\nSet-Cookie: b=2; Domain=velmor.test; "
      "Expires=Wed, 09 Jun 2027 10:18:14 GMT\r\nContent-Length: 2\r\n\r\nok",
      "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 304 Not Modified\r\nContent-Length: 379\r\nETag: \"AB\"\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\n\r\n<p>ok</p>",
  };
}

class CMutator {
public:
  explicit CMutator(unsigned seed) : m_random(seed) {}

  std::string Mutate(std::string text) {
    int rounds = 1 + Below(3);
    for (int i = 0; i < rounds && !text.empty(); ++i) text = MutateOnce(text);
    return text;
  }

private:
  int Below(int n) { return static_cast<int>(m_random() % static_cast<unsigned>(n)); }
  size_t At(const std::string& text) { return static_cast<size_t>(Below(static_cast<int>(text.size()) + 1)); }

  std::string MutateOnce(std::string text) {
    static const char* const kTokens[] = {"\r\n",
                                          "\r\n\r\n",
                                          ";",
                                          "0",
                                          "ffffffff",
                                          "-1",
                                          "\n",
                                          "\r",
                                          "Transfer-Encoding: gzip, chunked\r\n",
                                          " ",
                                          "Content-Length: 99999999999\r\n",
                                          "Transfer-Encoding: chunked\r\n",
                                          "HTTP/1.1 100 Continue\r\n\r\n",
                                          "Set-Cookie: x=y; Domain=velmor.test\r\n"};
    static const char* const kNumbers[] = {"0", "4294967296", "99999999999999999999", "-5", "7fffffff", "1"};
    switch (Below(7)) {
      case 0:  // bit flips
        for (int flips = 1 + Below(4); flips > 0; --flips) text[At(text) % text.size()] ^= 1 << Below(8);
        return text;
      case 1:  // truncation
        return text.substr(0, At(text));
      case 2: {  // random bytes
        std::string bytes(1 + Below(8), '\0');
        for (char& c : bytes) c = static_cast<char>(Below(256));
        return text.insert(At(text), bytes);
      }
      case 3:  // a token of the protocol where it does not belong
        return text.insert(At(text), kTokens[Below(sizeof(kTokens) / sizeof(kTokens[0]))]);
      case 4: {  // a repeated slice
        size_t from = At(text), to = At(text);
        if (from > to) std::swap(from, to);
        return text.insert(to, text.substr(from, to - from));
      }
      case 5: return ShuffleHeaderLines(text);
      default: {  // an absurd number in place of the first digits after a random point
        size_t digit = text.find_first_of("0123456789abcdef", At(text));
        if (digit == std::string::npos) return text;
        size_t end = text.find_first_not_of("0123456789abcdef", digit);
        return text.replace(digit, (end == std::string::npos ? text.size() : end) - digit,
                            kNumbers[Below(sizeof(kNumbers) / sizeof(kNumbers[0]))]);
      }
    }
  }

  // Swaps two header lines or repeats one.
  std::string ShuffleHeaderLines(const std::string& text) {
    size_t headEnd = text.find("\r\n\r\n");
    if (headEnd == std::string::npos) return text;
    std::vector<std::string> lines;
    for (size_t start = 0; start <= headEnd;) {
      size_t end = text.find("\r\n", start);
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    if (lines.size() < 3) return text;
    size_t a = 1 + Below(static_cast<int>(lines.size()) - 1), b = 1 + Below(static_cast<int>(lines.size()) - 1);
    if (Below(2)) {
      std::swap(lines[a], lines[b]);
    } else {
      lines.insert(lines.begin() + b, lines[a]);
    }
    std::string head;
    for (const std::string& line : lines) head += line + "\r\n";
    return head + text.substr(headEnd + 2);
  }

  std::mt19937 m_random;
};

// HTTP/1.1's grammar of a head, written independently of the parser: a complete response must
// have a final head that follows it.
bool FollowsHeadGrammar(const std::string& head) {
  static const std::regex kHead(
      "HTTP/[0-9][.][0-9] [0-9]{3}( [^\r\n\\x00]*)?\r\n"
      "([-!#$%&'*+.^_`|~0-9A-Za-z]+:[^\r\n\\x00]*\r\n([ \t][^\r\n\\x00]*\r\n)*)*\r\n");
  return std::regex_match(head, kHead);
}

int VariantCount() {
  const char* wanted = getenv("VELMOR_MUTATION_VARIANTS");
  int count = wanted ? atoi(wanted) : 0;
  return count > 0 ? count : kDefaultVariants;
}

// Piecewise, as the receive loop sees it. Returns whether every piece was taken.
bool FeedInPieces(const std::string& text, std::mt19937& random, CIncomingResponse& incoming, size_t* refusedAt) {
  for (size_t at = 0; at < text.size();) {
    size_t piece = 1 + random() % 97;
    if (piece > text.size() - at) piece = text.size() - at;
    if (!incoming.Append(reinterpret_cast<const BYTE*>(text.data() + at), static_cast<int>(piece))) {
      *refusedAt = at + piece;
      return false;
    }
    at += piece;
  }
  return true;
}

void CheckVariant(const std::string& text, std::mt19937& random) {
  CByteBuffer whole = Bytes(text);
  bool complete = IsResponseComplete(whole);
  HttpHeaders headers = ParseResponseHeaders(whole);
  ASSERT_LE(headers.size(), text.size());
  GetStatusCode(whole);

  CIncomingResponse incoming(kReceiveSize, kCap);
  size_t refusedAt = 0;
  if (!FeedInPieces(text, random, incoming, &refusedAt)) {
    // A refused prefix is never complete, and nor is anything built on it.
    ASSERT_FALSE(IsResponseComplete(Bytes(text.substr(0, refusedAt))));
    ASSERT_FALSE(complete);
    return;
  }
  ASSERT_EQ(complete, incoming.IsComplete());
  ASSERT_LE(incoming.ReceivedLength(), kCap);

  CByteBuffer body;
  ASSERT_TRUE(DecodeResponseBody(incoming.Head(), incoming.Body(), kCap, body));
  ASSERT_LE(body.Length(), kCap);
  if (complete) {
    ASSERT_TRUE(FollowsHeadGrammar(Text(incoming.Head())));
    ASSERT_TRUE(Text(body) == Text(GetResponseBody(whole, nullptr, kCap)));  // both ways, one body
    ResponseFraming framing = ReadFraming(incoming.Head());
    if (!framing.noBody && framing.hasLength) {
      ASSERT_EQ(framing.length, incoming.Body().Length());
    }
    if (!framing.noBody && !framing.hasLength && framing.chunked) {
      ASSERT_EQ(CChunkDecoder::EState::kDone, CChunkDecoder().Read(incoming.Body().Data(), incoming.Body().Length()));
    }
  }

  CByteBuffer joined(incoming.Body().Length());
  CChunkDecoder().Read(incoming.Body().Data(), incoming.Body().Length(), &joined);
  ASSERT_LE(joined.Length(), incoming.Body().Length());
  CByteBuffer inflated;
  CGzipInflater(kCap).Inflate(incoming.Body(), inflated);
  ASSERT_LE(inflated.Length(), kCap);

  CCookieJar jar;
  jar.TakeSetCookies(GetResponseHead(whole));
  ASSERT_LE(jar.GetCookieHeader("http://a.velmor.test/").size(), text.size());
}

TEST(ResponseMutation, VariantsStayBoundedAndAgree) {
  int variants = VariantCount();
  std::vector<std::string> seeds = Seeds();
  CMutator mutator(kSeed);
  std::mt19937 pieces(kSeed + 1);
  DWORD started = GetTickCount();
  for (int i = 0; i < variants; ++i) {
    std::string variant = mutator.Mutate(seeds[i % seeds.size()]);
    SCOPED_TRACE("variant " + std::to_string(i));
    CheckVariant(variant, pieces);
    if (HasFatalFailure()) return;
  }
  printf("response mutation: %d variants from %u seeds, seed %u, %lu ms\n", variants,
         static_cast<unsigned>(seeds.size()), kSeed, GetTickCount() - started);
}

}  // namespace
