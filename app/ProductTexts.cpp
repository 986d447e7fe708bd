#include "app/ProductTexts.h"

const char kErrorCaption[] = "错误";
const char kStartProgramFailedText[] = "启动程序失败！";
