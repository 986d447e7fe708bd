#include <gtest/gtest.h>

#include <string>

#include "net/FormParams.h"
#include "net/Url.h"
#include "net/UrlEncoding.h"

TEST(Url, CracksIntoDecodedComponents) {
  CUrl url;
  ASSERT_TRUE(url.SetUrl("http://config.velmor.example"));
  EXPECT_EQ(CUrl::kSchemeHttp, url.scheme);
  EXPECT_EQ("http", url.schemeName);
  EXPECT_EQ("config.velmor.example", url.hostName);
  EXPECT_EQ(80, url.port);
  EXPECT_EQ("/", url.urlPath);
  EXPECT_EQ("", url.extraInfo);

  ASSERT_TRUE(url.SetUrl("https://user:pw@127.0.0.1:8443/a%20b/loader.db?x=1&y=2#top"));
  EXPECT_EQ(CUrl::kSchemeHttps, url.scheme);
  EXPECT_EQ(8443, url.port);
  EXPECT_EQ("user", url.userName);
  EXPECT_EQ("pw", url.password);
  EXPECT_EQ("/a b/loader.db", url.urlPath);
  EXPECT_EQ("?x=1&y=2#top", url.extraInfo);

  EXPECT_FALSE(url.SetUrl("not a url"));
  EXPECT_FALSE(CUrl().SetUrl(""));
}

TEST(Url, ComposesWithoutThePort) {
  CUrl url("http://127.0.0.1:8080/dir/file.zip?v=2");
  EXPECT_EQ("http://127.0.0.1/dir/file.zip?v=2", url.ToString());
  CUrl tooLong;
  ASSERT_TRUE(tooLong.SetUrl(("http://h/" + std::string(1000, 'p')).c_str()));
  tooLong.extraInfo = "?" + std::string(100, 'q');
  EXPECT_EQ("", tooLong.ToString());  // over 1024 characters
}

TEST(Url, RequestCleanUpDropsTheFragmentAndAppendsParameters) {
  EXPECT_EQ("http://h/p", CleanRequestUrl("http://h/p#frag", ""));
  EXPECT_EQ("http://h/p#", CleanRequestUrl("http://h/p#", ""));
  EXPECT_EQ("http://h/p#a", CleanRequestUrl("http://h/p#a#b", ""));
  EXPECT_EQ("http://h/p?x=1?n=v", CleanRequestUrl("http://h/p?x=1#f", "n=v"));
}

TEST(UrlEncoding, EscapesEverythingButLettersAndDigits) {
  EXPECT_EQ("aZ09%2D%5F%2E%7E%20%26%3D", UrlEncodeUtf8("aZ09-_.~ &="));
  EXPECT_EQ("", UrlEncodeUtf8(""));
  EXPECT_EQ("%E4%B8%AD", UrlEncodeUtf8("中"));  // UTF-8 bytes
  EXPECT_EQ("%D6%D0", UrlEncodeAnsi("中"));     // GBK bytes
  EXPECT_EQ("%0A", UrlEncodeAnsi("\n"));
}

TEST(UrlEncoding, MultipartFieldsBecomeUtf8) {
  EXPECT_EQ(std::string(u8"客服 a&b"), AnsiToUtf8Chars("客服 a&b"));
  EXPECT_EQ("", AnsiToUtf8Chars(""));
}

TEST(FormParams, JoinInBucketOrderNewestFirst) {
  EXPECT_EQ(0u, CFormParams::Hash(""));
  EXPECT_EQ(97u, CFormParams::Hash("a"));
  EXPECT_EQ(97u * 33 + 98, CFormParams::Hash("ab"));

  CFormParams params;
  EXPECT_EQ("", params.Build());
  params.Set("a", "1");    // bucket 97 % 17 = 12
  params.Set("b", 2);      // bucket 98 % 17 = 13
  params.Set("r", "x y");  // bucket 114 % 17 = 12: before "a"
  EXPECT_EQ("r=x%20y&a=1&b=2", params.Build());
  params.Set("a", "one");  // replaces, keeps its place
  EXPECT_EQ("r=x%20y&a=one&b=2", params.Build());
  params.Clear();
  params.Set("k&=", "中");  // names are not encoded
  EXPECT_EQ("k&==%E4%B8%AD", params.Build());
  EXPECT_EQ("k&==%D6%D0", params.Build(true));
}
