#include "app/ProductTexts.h"

const char kErrorCaption[] = "错误";
const char kStartProgramFailedText[] = "启动程序失败！";
const char kReachSiteText[] = "请确保网络可正常访问沐岚星官方网站！\r\n";

std::string LogInToSiteText() { return "\r\n请登录沐岚星官方网站：" + ProductWebAddress() + "\r\n联系官方客服处理！"; }

std::string ContactSiteText() {
  return "如有疑问，请联系官方网站客服处理！\r\n官方网站：" + ProductWebAddress() + "\r\n";
}
