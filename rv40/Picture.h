#pragma once

#include "rv40/Plane.h"
#include "rv40/PictureView.h"

#include <cstdint>

namespace corva::rv40 {

// A macroblock's pixels, to keep a candidate or to hold a prediction (strides 16 and 8).
struct MbPixels {
    std::uint8_t y[256], u[64], v[64];
};

// A picture in whole macroblocks, each plane with its border.
struct Picture {
    Plane p[3];

    void Init(int w16, int h16);
    // The source picture, its edge repeated out to whole macroblocks. Throws
    // std::invalid_argument on a missing or narrow plane.
    void Load(const PictureView &v);
    void Extend();
    void SaveMb(int mbx, int mby, MbPixels &s) const;
    void PutMb(int mbx, int mby, const MbPixels &s);
    // Squared error of a macroblock against another picture.
    std::uint64_t MbSse(const Picture &other, int mbx, int mby) const;
};

} // namespace corva::rv40
