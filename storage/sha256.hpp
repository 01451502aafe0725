// SHA-256 of a byte span, as 64 lower-case hex digits.
#pragma once
#include <cstdint>
#include <span>
#include <string>

namespace storage {
std::string sha256_hex(std::span<const uint8_t> data);
}
