// The separators of HTTP/1.1 heads, for the code that writes requests and reads answers.
#pragma once

inline constexpr char kLineEnd[] = "\r\n";
inline constexpr int kLineEndLength = 2;
inline constexpr char kHeadEnd[] = "\r\n\r\n";  // the empty line that ends a head
inline constexpr int kHeadEndLength = 4;
