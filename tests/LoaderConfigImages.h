// Loader configurations as the configuration server sends them, for the tests of their readers.
#pragma once

#include <string>

#include "base/ByteBuffer.h"

// One record in the JSON form of "data.txt"; `desc` is the text put in place of the description.
std::string Record(const std::string& fileName = "loader.dll", const std::string& packing = "zip",
                   const std::string& bits = "\"32\"", const std::string& desc = ",\"desc\":\"\\u52a0\\u8f7d\\u5668\"");

// This user's highest accepted serial removed, as on a machine where no keyed launcher ran: the
// tests of keyed builds share one registry.
void ForgetAcceptedSerial();

// A container image holding `json` as "data.txt" and, when given, `user` as "user.txt".
CByteBuffer LoaderConfigImage(const std::string& json, const char* password, const char* user = nullptr);
