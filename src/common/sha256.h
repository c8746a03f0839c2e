#pragma once
// SHA-256 (FIPS 180-4) of a byte string, as 64 lowercase hexadecimal digits: the digest the
// results file gives of the deck, the same as `sha256sum a/input.txt` prints.
#include <string>
#include <string_view>

namespace kestrel {

std::string sha256_hex(std::string_view bytes);

}  // namespace kestrel
