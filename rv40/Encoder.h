#pragma once

#include "rv40/PictureView.h"
#include "rv40/Rv40Types.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace corva::rv40 {

class Bitstream;
class DecisionPolicy;

class Encoder final {
public:
    // Throws std::invalid_argument on a size it cannot code.
    explicit Encoder(const EncoderSettings &settings);
    // With a bitstream or a decision policy of the caller's (either may be null: the encoder's
    // own), e.g. to force macroblock kinds or to put in a fault a check must find.
    Encoder(const EncoderSettings &settings, std::unique_ptr<Bitstream> bitstream,
            std::unique_ptr<DecisionPolicy> policy);
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

    // An encoder of the same settings, bitstream and decisions for the B-pictures between this
    // one's two references, so that they are coded on another thread while this one codes the
    // next reference: Follow() copies the references it reads. None where the decisions keep to
    // one thread (a caller's policy).
    std::unique_ptr<Encoder> Companion() const;
    // The two references, their motion and times, as `main` has them now.
    void Follow(const Encoder &main);

    struct Impl;

private:
    explicit Encoder(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

// The bytes the RealMedia VIDO block carries from its offset 26 on (SPO flags, version word).
std::vector<std::uint8_t> CodecSetupBytes();
inline constexpr char kFourcc[5] = "RV40";

} // namespace corva::rv40
