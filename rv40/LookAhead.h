#pragma once

#include "rv40/PictureView.h"
#include "rv40/Rv40Types.h"

namespace corva::rv40 {

struct Picture;
class VectorBounds;

// Cheap cost estimates of a picture before it is coded, for the caller's picture-type and
// quantiser decisions: SATD against a DC prediction from the source itself, and against the
// reference after a short diamond search.
class LookAhead final {
public:
    // ref: the current reference, or none before the first picture.
    static PictureCost Estimate(const PictureView &view, const Picture *ref, const VectorBounds &bounds);
};

} // namespace corva::rv40
