#pragma once

#include <cstdint>

namespace corva::rv40 {

// What a macroblock may be asked to be. In B-pictures Inter16x16 means forward, Inter8x8
// direct (its prediction follows the later reference's 8x8 vectors), Copy a direct MB without
// residual; Direct, Backward and Bidirectional apply to B-pictures only (P-pictures code 16x16
// then). Inter16x8 and Inter8x16 (P halves) and InterMix (P 16x16 with its luma DCs in a block
// of their own) code forward MBs in B-pictures.
enum class MbKind { ByCost, Intra4x4, Intra16x16, Inter16x16, Inter8x8, Copy, Direct, Backward, Bidirectional,
                    Inter16x8, Inter8x16, InterMix };

// What the analysis consults before it decides a macroblock by cost. The encoder's own policy
// decides everything by cost; a repeated picture asks for copies; tests supply one that forces
// a kind or draws choices at random to reach rare codes.
class DecisionPolicy {
public:
    virtual ~DecisionPolicy() = default;
    virtual MbKind Kind() const { return MbKind::ByCost; }
    // Draws choices at random (modes, vector offsets, kinds) from Draw().
    virtual bool Random() const { return false; }
    virtual std::uint32_t Draw() { return 0; }
    // Each coding pass of a picture starts the draws again.
    virtual void Restart() {}
    // Everything by cost: the rate-distortion checks apply.
    bool ByCost() const { return Kind() == MbKind::ByCost && !Random(); }
};

// A picture that repeats its reference: every macroblock a copy but the last (a picture of
// copies alone does not decode).
class CopyPolicy final : public DecisionPolicy {
public:
    MbKind Kind() const override { return MbKind::Copy; }
};

} // namespace corva::rv40
