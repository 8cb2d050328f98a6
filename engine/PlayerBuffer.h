#pragma once

#include <functional>
#include <vector>

namespace corva {

// The player's buffer as the stream fills and the pictures empty it: the one place that says
// how many bits a picture may take. A picture takes no more than the buffer holds (less a margin
// for the pictures after it), and a constant-rate picture no less than keeps the buffer from
// overflowing, as bits a full buffer turns away are never spent.
class PlayerBuffer final
{
public:
    // `perPicture`: the rate's share of one picture. A variable-rate buffer fills at the peak.
    PlayerBuffer(double bitRate, double peakRate, double frameRate, bool variableRate, double perPicture);

    // A second pass follows a plan that kept the buffer within its walls and may run it fuller.
    void SetPlanned(bool planned);

    double Size() const { return m_size; }
    // As a share of its size: below 0 it ran dry.
    double Level() const { return m_bits / m_size; }
    int Underflows() const { return m_underflows; }
    // Full enough that waiting longer gains nothing.
    bool Full() const;

    // The most the next picture may take without running the buffer dry.
    double MostBits() const;
    // And one given `bits`, or at least `least`, and never less than a quarter of a picture's
    // share of the rate, as far as the buffer holds them.
    double MostBitsOf(double bits, double least) const;
    // How far a film at the coarsest quantiser may overspend its budget.
    double Slack() const;
    // What the buffer holds once the next picture's share has arrived, less a margin for the
    // pictures that follow.
    double Room() const;
    // What the next picture must take for a constant-rate buffer to have room for what arrives
    // after it.
    double Spill() const;
    // How far the film's budget may run ahead of what it spent: bits a still scene could not
    // use are not owed to the next busy one beyond what the buffer holds.
    double Bank() const;

    // A picture's bits target kept between the walls, and never below `least`.
    double Clamp(double target, double least) const;
    // The quantiser raised while the picture would take more than the room (at most to qmax).
    int Coarser(int quantiser, int qmax, const std::function<double(int)> &bitsAt) const;
    // Lowered while it would leave a constant-rate buffer overflowing, at most `steps` steps.
    int Finer(int quantiser, int qmin, int steps, const std::function<double(int)> &bitsAt) const;
    // Whether a picture of these bits at the coarsest quantiser had better repeat the one before:
    // following a plan, only where the buffer cannot hold it at all.
    bool Repeat(double bitsAtCoarsest) const;

    // A plan's bits per picture kept between the walls as it is walked in order.
    void Fit(std::vector<double> &plannedBits) const;
    // How far, at worst, a plan runs behind the rate beyond what it may: bits the player would
    // turn away, and may not win back.
    double Behind(const std::vector<double> &plannedBits) const;

    // After a picture of these bits.
    void Drain(double bits);
    // A picture drained at a guess left `unspent` bits of it (negative: took more than guessed).
    void Correct(double unspent);

private:
    // How full a constant-rate buffer may run before pictures are coded finer.
    double Fullest() const;

    double m_fillRate = 0;
    double m_frameRate = 25;
    bool m_variableRate = false;
    double m_perPicture = 1;
    double m_size = 0;
    double m_bits = 0; // what the player holds, filled at the rate, emptied by each picture
    bool m_planned = false; // following a two-pass plan
    int m_underflows = 0;
};

} // namespace corva
