// Gzip compression for building test responses (the client only ever inflates).
#pragma once

#include <string>

std::string Gzip(const std::string& data);
