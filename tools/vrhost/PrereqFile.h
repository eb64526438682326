// The demo prerequisite configuration file as init installs it: the data file's text in UTF-8
// with its byte-order mark, followed by a fresh "CONFIG FILE CRC:" line holding the CRC-32 of
// every byte before it (eight upper-case hex digits, no line end after it).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace vrhost {

// The standard CRC-32 (reflected polynomial 0xEDB88320), as zip and PNG use it.
uint32_t Crc32(std::string_view bytes);

// The installed file for the data file's bytes: a byte-order mark and an old CRC line of the
// source are dropped first, and a missing last line end is added.
std::string WithCrcLine(std::string_view source);

}  // namespace vrhost
