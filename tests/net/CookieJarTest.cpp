#include <gtest/gtest.h>

#include <algorithm>

#include <string>

#include "net/CookieJar.h"

TEST(CookieJar, FilesUnderTheDomainWithoutItsDot) {
  CCookieJar jar;
  EXPECT_TRUE(jar.SetCookieText("sid=abc; Domain=.velmor.example; Path=/; HttpOnly"));
  EXPECT_EQ("sid=abc", jar.GetCookieHeader("http://config.velmor.example/loader.db"));
  EXPECT_EQ("sid=abc", jar.GetCookieHeader("http://velmor.example/"));
  EXPECT_EQ("", jar.GetCookieHeader("http://other.example/"));
  std::string value;
  EXPECT_TRUE(jar.GetCookie("http://a.velmor.example/", "sid", value));
  EXPECT_EQ("abc", value);
  EXPECT_FALSE(jar.GetCookie("http://a.velmor.example/", "SID", value));
  EXPECT_EQ("", value);
}

TEST(CookieJar, RefusesWhatItCannotFile) {
  CCookieJar jar;
  EXPECT_FALSE(jar.SetCookieText("sid=abc; Path=/"));                         // no Domain
  EXPECT_FALSE(jar.SetCookieText("sid=abc; Domain=velmor.example; Secure"));  // a flag other than HttpOnly
  EXPECT_FALSE(jar.SetCookieText("sid=abc; Domain=a.example; Domain=b.example"));
  EXPECT_FALSE(jar.SetCookieText("sid=abc; Domain="));
  EXPECT_FALSE(jar.SetCookieText("a=1; b=2; Domain=velmor.example"));  // two name=value parts
  EXPECT_FALSE(jar.SetCookieText("sid=abc; Domain=velmor.example; Path=/; Path=/x"));
  EXPECT_FALSE(jar.SetCookieText("sid=abc; Domain=velmor.example; Expires=08 Dec 2030 10:00:00 GMT"));  // no weekday
  EXPECT_FALSE(jar.SetCookieText("sid=abc; Domain=velmor.example; Expires=Tue, someday"));
  EXPECT_EQ("", jar.GetCookieHeader("http://velmor.example/"));
}

TEST(CookieJar, ReadsExpiryDatesWithEnglishMonthNames) {
  CCookieJar jar;
  EXPECT_TRUE(jar.SetCookieText("sid=abc; Domain=velmor.example; Expires=Sun, 08-Dec-2030 10:00:00 GMT; Max-Age=60"));
  EXPECT_EQ("sid=abc", jar.GetCookieHeader("http://velmor.example/"));
  CCookie cookie;
  ASSERT_TRUE(ParseCookieText("sid=abc; expires=Sun, 08 Dec 2030 10:00:00 GMT", cookie));
  EXPECT_EQ(2030, cookie.expiry.wYear);
  EXPECT_EQ(12, cookie.expiry.wMonth);
  EXPECT_EQ(10, cookie.expiry.wHour);
  ASSERT_TRUE(ParseCookieText("plain=1; ", cookie));
  EXPECT_EQ(0, cookie.expiry.wYear);
}

TEST(CookieJar, ReplacesByNameAndListsFromTheTopLevelDown) {
  CCookieJar jar;
  EXPECT_TRUE(jar.SetCookie("http://example", "t1=1"));
  EXPECT_TRUE(jar.SetCookie("http://example", "t2=2"));
  EXPECT_TRUE(jar.SetCookie("http://www.velmor.example", "host=h"));
  EXPECT_TRUE(jar.SetCookie("http://velmor.example", "mid=m"));
  EXPECT_TRUE(jar.SetCookie("http://example", "t1=one"));    // replaced
  EXPECT_TRUE(jar.SetCookie("http://example", "T1=upper"));  // another name
  EXPECT_EQ("t1=one; t2=2; T1=upper; mid=m; host=h", jar.GetCookieHeader("http://www.velmor.example/path"));
  EXPECT_FALSE(jar.SetCookie("not a url", "a=1"));
  jar.Clear();
  EXPECT_EQ("", jar.GetCookieHeader("http://www.velmor.example/"));
}

TEST(CookieJar, TakesEverySetCookieLineOfAHead) {
  CCookieJar jar;
  EXPECT_EQ(1, jar.TakeSetCookies("HTTP/1.1 200 OK\r\nset-cookie: bad=1; Secure; Domain=velmor.example\r\n"
                                  "Set-Cookie:  good=2; Domain=velmor.example\r\nServer: x\r\n\r\n"));
  EXPECT_EQ("good=2", jar.GetCookieHeader("http://velmor.example/"));
}

TEST(CookieJar, IgnoresCookiesPastItsBounds) {
  CCookieJar jar;
  std::string head = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 60; ++i) head += "Set-Cookie: n" + std::to_string(i) + "=v; Domain=a.velmor.test\r\n";
  head += "Set-Cookie: big=" + std::string(CCookieJar::kMaxCookieBytes, 'x') + "; Domain=b.velmor.test\r\n\r\n";
  jar.TakeSetCookies(head);
  std::string sent = jar.GetCookieHeader("http://a.velmor.test/");
  EXPECT_EQ(CCookieJar::kMaxCookiesPerDomain, static_cast<size_t>(std::count(sent.begin(), sent.end(), '=')));
  EXPECT_TRUE(jar.SetCookieText("n0=new; Domain=a.velmor.test"));  // a held cookie still takes a new value
  EXPECT_EQ(0u, jar.GetCookieHeader("http://a.velmor.test/").find("n0=new; n1=v"));
  EXPECT_EQ("", jar.GetCookieHeader("http://b.velmor.test/"));  // too long

  CCookieJar full;
  int taken = 0;
  for (int i = 0; i < CCookieJar::kMaxCookies + 10; ++i) {
    taken += full.SetCookieText("c=1; Domain=host" + std::to_string(i) + ".velmor.test") ? 1 : 0;
  }
  EXPECT_EQ(CCookieJar::kMaxCookies, taken);
  full.Clear();
  EXPECT_TRUE(full.SetCookieText("c=1; Domain=again.velmor.test"));
}
