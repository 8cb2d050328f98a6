#pragma once

#include "Rv40TestDecoder.h"
#include "rv40/PictureView.h"

namespace corva::rv40::test {

enum class Content { Gradient, Noise, Pan, Cut, Flat, Black, Mixed, StepPan, StillStripe, Brightening, Held };

// Frame n of a small synthetic film: smooth moving gradients, noise, a panning textured pattern,
// a scene cut half way, flat grey or black; StepPan moves by whole pixels (2 right, 2 down);
// StillStripe: a still picture but for a stripe of rows 48 to 95 that pans; Brightening: a still
// picture whose luma rises by 0.7 a picture, as a camera's exposure drifts; Held: Mixed, each
// picture shown three times (a source below the film's picture rate).
YuvFrame MakeFrame(Content content, int width, int height, int n, int frames);
PictureView ViewOf(const YuvFrame &f);
YuvFrame CopyOf(const PictureView &v);
double Psnr(std::uint64_t sse, std::size_t pixels);

} // namespace corva::rv40::test
