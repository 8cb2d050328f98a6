#pragma once

#include "ForcedPolicy.h"
#include "Rv40TestDecoder.h"
#include "TestPictures.h"

#include "rv40/Bitstream.h"
#include "rv40/Rv40Types.h"

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// A small synthetic film encoded and decoded with FFmpeg's decoder for the film's bitstream:
// every decoded picture is compared byte for byte with the encoder's own reconstruction.
namespace corva::rv40::test {

struct Scenario {
    std::string name;
    int width, height, frames;
    Content content;
    Effort effort;
    std::function<int(int)> q;          // quantiser of picture n
    int intraEvery;                     // 0: only the first picture
    std::size_t maxSliceBytes = 30000;
    Choices choices{};
    int threads = 1;
    int bFrames = 0; // B-pictures between two references
    int repeatEvery = 0; // inter pictures at multiples of it repeat their reference
    std::size_t maxBytes = 0; // every picture kept within it
    std::function<std::unique_ptr<Bitstream>()> bitstream = {}; // none: the encoder's own
};

std::ostream &operator<<(std::ostream &os, const Scenario &s);

struct FirstDifference {
    int plane = -1, x = 0, y = 0;
};

FirstDifference Compare(const YuvFrame &a, const YuvFrame &b);

struct RunResult {
    int mismatches = 0;
    std::string firstMismatch;
    std::vector<EncodedPicture> pictures;
    std::vector<double> psnr;
    std::vector<double> lumaOffset; // by display order: the decoded picture's mean luma less its source's
    int bounded = 0;
};

// Display indices in coding order: each reference, then the B-pictures shown before it; a film
// too short for a full run ends on a reference.
std::vector<int> CodingOrder(int frames, int bFrames);

// Encodes, decodes and compares; the decoder's messages fail the running test.
RunResult EncodeAndDecode(const Scenario &s);

// Quantisers by picture: every one in turn, or all of them in a scrambled order.
inline int Sweep(int n) { return n % 32; }
inline int Scrambled(int n) { return (n * 7 + 3) % 32; }
// Every MB of this kind (ByCost: the encoder decides), with random choices where seed is not 0.
inline Choices Force(MbKind k, std::uint32_t seed = 0) { return {k, seed}; }

} // namespace corva::rv40::test
