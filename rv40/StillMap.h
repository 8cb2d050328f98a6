#pragma once

#include <cstdint>
#include <vector>

namespace corva::rv40 {

struct Picture;

// Where the camera stands still, what a reference shows stays on screen for the pictures that
// copy it: a macroblock that has stood still is worth coding finer than one that changes, as
// every later picture inherits it. The map counts, per macroblock, the references in a row whose
// source at that place did not change, and gives the still ones a finer quantiser. The
// quantiser is a slice's, so the finer macroblocks are gathered into runs (in the order
// macroblocks are coded) long enough to be worth a slice header each.
class StillMap final {
public:
    StillMap(int mbw, int mbh) : m_mbw(mbw), m_mbh(mbh), m_run(static_cast<std::size_t>(mbw * mbh), 0) {}

    // The source of the next reference picture (intra or inter), compared with the last
    // reference's (none: the first); false where it repeats the last, which changes nothing and
    // is better coded at one quantiser.
    bool Observe(const Picture &src, const Picture *last);

    // Each macroblock's quantiser offset: `finer` (negative) for those in a still run, 0 for
    // the rest, in at most `mostRuns` runs of the finer one. All 0 where nothing stands still.
    std::vector<std::int8_t> Offsets(int finer, int mostRuns) const;

    // The references in a row each macroblock has stood still (for the tests).
    const std::vector<std::uint16_t> &Runs() const { return m_run; }

    // The segmentation alone: each macroblock's wish (finer or not) made into runs, a switch
    // between the two costing `switchCost` macroblocks against the wish, at most `mostRuns`
    // runs of the finer one.
    static std::vector<bool> Segment(const std::vector<bool> &wish, int switchCost, int mostRuns);

private:
    int m_mbw, m_mbh;
    std::vector<std::uint16_t> m_run;
};

} // namespace corva::rv40
