// Files in the formats libsndfile writes (FLAC, 24-bit and float WAV,
// WAVEX, ...), for the tests of the decoding input. Throws
// std::runtime_error with libsndfile's reason when the file cannot be made.
#pragma once

#include "test_wav.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velumar::testing {

// `values` interleaved, `channels` to a frame; returns the file's full path
// inside `dir`. 16-bit values go in as they are, doubles as values in ±1.
std::string WriteWithSndfile(const TempDir &dir, const std::string &name, int format, int rate, int channels,
                             const std::vector<std::int16_t> &values);
std::string WriteWithSndfile(const TempDir &dir, const std::string &name, int format, int rate, int channels,
                             const std::vector<double> &values);

} // namespace velumar::testing
