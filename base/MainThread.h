// Which thread is the main one: recorded once by the application object, asked by the window
// layer before it shows a message box.
#pragma once

void RecordMainThread();
bool IsMainThread();
