// Decisions about the management-server payload that need no Windows: where the image of an
// executable ends, and decoding the public key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace VmSettings {

enum class ImageHeaders {
    Valid,
    NotDos, // no "MZ"
    NotPe,  // no "PE\0\0" at e_lfanew, or headers that do not fit into what was given
};

// Where the file's own image ends: the end of the furthest section's raw data (at least
// SizeOfHeaders), read from the first `size` bytes of an image (a loaded module or a file).
// Summing SizeOfRawData instead falls short whenever a section's raw size is not a multiple of
// the file alignment, as GNU ld writes it for .rsrc. The section table follows the optional
// header, whose size the file header states: 224 bytes for 32-bit images, 240 for 64-bit ones.
ImageHeaders ImageSizeFromHeaders(const uint8_t* data, size_t size, uint64_t& imageSize);

// Standard Base64 (RFC 4648 alphabet, "=" padding). Accepted: a non-empty text whose length is
// a multiple of 4, whose characters before the last two are from the alphabet and whose last two
// are from the alphabet or "=". "=" followed by a letter ("AB=A") is refused as well, since it
// has no meaning. Anything refused decodes to no bytes.
std::vector<uint8_t> Base64Decode(std::string_view text);

// The key as the profile reader returns it. Base64 is ASCII, so it is narrowed unit by unit and
// any character above 0x7F refuses the whole key: no code page takes part (a UTF-8 system code
// page refuses the usual no-best-fit conversion outright), and no character outside ASCII can
// be truncated into a letter of the alphabet.
std::vector<uint8_t> DecodePublicKey(std::wstring_view text);

} // namespace VmSettings
