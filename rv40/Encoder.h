#pragma once

#include "rv40/PictureView.h"
#include "rv40/Rv40Types.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace corva::rv40 {

// Switches for tests only: force one macroblock kind, randomise choices to reach rare codes,
// or turn on one deliberately wrong reconstruction to show that a check can fail.
struct EncoderTestHooks {
    // In B-pictures Inter16x16 means forward, Inter8x8 direct (its prediction follows the later
    // reference's 8x8 vectors), Skip a direct MB without residual; Direct, Backward and
    // Bidirectional apply to B-pictures only (P-pictures code 16x16 then). Inter16x8 and
    // Inter8x16 (P halves) code forward MBs in B-pictures.
    enum class Kind { Any, Intra4x4, Intra16x16, Inter16x16, Inter8x8, Skip, Direct, Backward, Bidirectional, Inter16x8,
                      Inter8x16 };
    Kind force = Kind::Any;
    std::uint32_t randomSeed = 0;   // non-zero: random intra modes and vector offsets
    bool mutateChromaRounding = false;
};

class Encoder final {
public:
    // Throws std::invalid_argument on a size it cannot code.
    explicit Encoder(const EncoderSettings &settings);
    ~Encoder();
    Encoder(const Encoder &) = delete;
    Encoder &operator=(const Encoder &) = delete;

    // timestampMs: presentation time in ms; its low 13 bits go into every slice header of the
    // picture. An Inter decision before any Intra picture is coded as Intra. A Bidirectional
    // decision codes a B-picture between the two last coded I/P pictures (the caller codes the
    // later reference first, then the B-pictures shown before it, each with its own time); it
    // leaves both references as they were. With fewer than two references coded so far it is
    // coded as Inter instead (so Intra with none), and then is a reference. A B-picture timed
    // outside its references (13-bit times) is coded without direct and skipped MBs. Throws
    // std::invalid_argument on a picture of another size, a missing plane or a quantiser
    // outside 0..31.
    EncodedPicture Encode(const PictureView &source, const PictureDecision &decision, std::uint32_t timestampMs);
    // Cheap estimate before Encode, against the current reference.
    PictureCost Analyse(const PictureView &source) const;
    // What a decoder shows for the last picture coded (display size), a B-picture too; valid until
    // the next Encode.
    PictureView Reconstruction() const;

    void SetTestHooks(const EncoderTestHooks &hooks);

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

// The bytes the RealMedia VIDO block carries from its offset 26 on (SPO flags, version word).
std::vector<std::uint8_t> CodecSetupBytes();
inline constexpr char kFourcc[5] = "RV40";

} // namespace corva::rv40
