// The properties the fuzz targets check, as plain functions so that the
// regression test can replay saved inputs through exactly the same checks in
// the ordinary (GoogleTest, ASan) builds.
//
// Each returns an empty string when the input behaved, or a description of
// what went wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz_checks {

// Input: a signed 32-bit little-endian size, then an LZHUF body. Decodes it
// with UnpackStreamWith() and with UnpackStream() over in-memory source and
// sink, and compares both with the reference decoder (tests/reference_lzhuf.h): the same bytes,
// never more than the size, and the truncation error exactly when an item needed bits past the end
// of the body.
std::string UnpackStreamProperties(const std::uint8_t* data, std::size_t size);

// Input: a whole compressed file. Runs DecompressFile() on it through
// in-memory host files and checks the message, the output (exactly the
// decoded bytes, written in 32768-byte blocks, or gone after an error) and
// that every handle and heap block was given back.
std::string DecompressFileProperties(const std::uint8_t* data, std::size_t size);

// Input: one option byte (parse, chain length), then the data. Packs it with
// PackLzhBody() and checks that both decoders give back exactly the data,
// that no match runs past its end and that the body has no spare bytes.
std::string PackRoundTripProperties(const std::uint8_t* data, std::size_t size);

}  // namespace fuzz_checks
