#pragma once

namespace corva::rv40 {

// The quantiser's steps, its lambdas and the code tables it selects, for one slice.
struct QuantSet {
    int q = 0;
    int lumaStep = 0, chromaDcStep = 0, chromaAcStep = 0, lumaDcStep = 0;
    int interDcStep = 0; // the DC block of an inter MB that has one (0: the bitstream has none)
    int intraSet = 0, interSet = 0, modifier = 0;
    double lambda = 0, lambdaSse = 0;

    // lumaDcQuantiser: the quantiser of the 16x16 DC block, which the bitstream picks; and of an
    // inter MB's DC block (negative: none).
    static QuantSet For(int q, int lumaDcQuantiser, int interDcQuantiser = -1);
    // The code tables a slice's modifier selects (it moves the quantiser used to pick them).
    QuantSet WithModifier(int m) const;
};

} // namespace corva::rv40
