#pragma once

#include <cstdint>

// What a macroblock is: its kind, its vectors and the levels it carries. The decisions fill a
// record, the writer writes it, the slice rewrite writes it again.
namespace corva::rv40 {

enum MbType : std::uint8_t {
    kI4 = 0, kI16 = 1, kP16 = 2, kP8 = 3, kBFwd = 4, kBBwd = 5, kSkip = 6, kBDirect = 7, kP16x8 = 8, kP8x16 = 9,
    kBBidir = 10, kPMix = 11
};

struct MotionVector {
    int x = 0, y = 0;
    bool operator==(const MotionVector &) const = default;
};

// Which neighbours of a macroblock lie in its slice.
struct Avail {
    bool left = false, top = false, topRight = false, topLeft = false;
};

// Levels of one macroblock and everything needed to write it.
struct MbRecord {
    int type = kI16;
    int i16Mode = 0;
    std::int8_t modes[16] = {};
    std::int16_t levels[25][16] = {}; // 0..15 luma, 16..19 U, 20..23 V, 24 the 16x16 DC block
    std::uint32_t cbp = 0;            // 24 bits
    MotionVector mv;
    MotionVector mv8[4]; // P 8x8: top-left, top-right, bottom-left, bottom-right; halves repeat theirs
    MotionVector mvB;    // B: the backward vector; mv is the forward one, zero where there is none
};

int Median(int a, int b, int c);
inline bool IsIntra(int type) { return type == kI4 || type == kI16; }
// Types whose luma DCs go in a block of their own (the loop filter treats them as intra).
inline bool SeparateDc(int type) { return type == kI16 || type == kPMix; }
// P types whose vectors are per 8x8 block (mv8) rather than one for the MB.
inline bool Partitioned(int type) { return type == kP8 || type == kP16x8 || type == kP8x16; }
inline bool HasForward(int type) { return type == kBFwd || type == kBBidir; }
inline bool HasBackward(int type) { return type == kBBwd || type == kBBidir; }
// The top-left 8x8 block of half `part` of a 16x8 or 8x16 MB, and setting its blocks.
inline int HalfBlock(int type, int part) { return part == 0 ? 0 : (type == kP16x8 ? 2 : 1); }
void SetHalf(int type, int part, const MotionVector &v, MotionVector mv8[4]);

} // namespace corva::rv40
