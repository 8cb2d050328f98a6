#include "engine/PlayerBuffer.h"

#include <algorithm>

namespace corva {

namespace {

// What a picture leaves in the buffer for the pictures after it, as a share of its size.
constexpr double kMargin = 0.1;
// How full a constant-rate buffer may run before pictures are coded finer to spend what arrives:
// a second pass follows a plan that kept the buffer within its walls; one pass, seeing nothing
// ahead, keeps a wider margin, as a picture coded too coarsely near the top loses its bits.
constexpr double kFullest = 0.98;
constexpr double kFullestOnePass = 0.95;
// How far behind the rate a plan may fall, as a share of the buffer less its margin. What
// pictures leave unspent while the player's buffer is full is turned away, and only a buffer
// drained again by the film's end wins it back: a plan that counted on the whole buffer parked
// the bits of a still street ahead of a late keyframe, the pictures after it could not spend
// them with the buffer then low, and the film came out 4% under its rate.
constexpr double kBehindShare = 0.5;

} // namespace

// Its size, in seconds of the rate it fills at: a constant-rate stream allows a burst of about a
// second; a variable-rate one is measured against its peak over a few seconds.
PlayerBuffer::PlayerBuffer(double bitRate, double peakRate, double frameRate, bool variableRate, double perPicture)
    : m_fillRate(variableRate ? std::max(peakRate, bitRate) : bitRate), m_frameRate(frameRate),
      m_variableRate(variableRate), m_perPicture(perPicture),
      m_size(std::max(perPicture * 4, m_fillRate * (variableRate ? 3.0 : 1.0)))
{
    m_bits = m_size; // the player starts once its buffer is full
}

void PlayerBuffer::SetPlanned(bool planned)
{
    m_planned = planned;
}

double PlayerBuffer::Fullest() const
{
    return m_planned ? kFullest : kFullestOnePass;
}

bool PlayerBuffer::Full() const
{
    return m_bits >= m_size * Fullest();
}

double PlayerBuffer::MostBits() const
{
    return std::min(m_size, m_bits + m_fillRate / m_frameRate);
}

double PlayerBuffer::Slack() const
{
    // What a hard stretch overspends stays small and is paid back by the pictures after it.
    return 0.2 * m_size;
}

double PlayerBuffer::MostBitsOf(double bits, double least) const
{
    return std::min(MostBits(), std::max({least, m_perPicture * 0.25, bits}));
}

double PlayerBuffer::Room() const
{
    return m_bits + m_perPicture - m_size * kMargin;
}

double PlayerBuffer::Spill() const
{
    if (m_variableRate)
        return 0;
    return std::min(m_size, m_bits + m_perPicture) + m_perPicture - m_size * Fullest();
}

double PlayerBuffer::Bank() const
{
    return m_size * (m_variableRate ? 1.0 : 0.8);
}

double PlayerBuffer::Clamp(double target, double least) const
{
    return std::max({least, std::min(target, Room()), Spill()});
}

int PlayerBuffer::Coarser(int quantiser, int qmax, const std::function<double(int)> &bitsAt) const
{
    const double room = Room();
    while (quantiser < qmax && bitsAt(quantiser) > room)
        ++quantiser;
    return quantiser;
}

int PlayerBuffer::Finer(int quantiser, int qmin, int steps, const std::function<double(int)> &bitsAt) const
{
    const double spill = Spill();
    for (; steps > 0 && quantiser > qmin && bitsAt(quantiser) < spill; --steps)
        --quantiser;
    return quantiser;
}

bool PlayerBuffer::Repeat(double bitsAtCoarsest) const
{
    // A full buffer gains nothing by waiting longer: the picture is coded, whatever it takes, so
    // that a film no quantiser fits into the buffer still moves.
    if (m_variableRate || Full())
        return false;
    // A repeat shows the reference again: on a still camera's street, a walker who jumps back
    // (27 dB against 42 around it). Following a plan, a picture the buffer holds is coded
    // within it instead, even where that takes the margin the pictures after it would keep:
    // the plan has their bits arrive with them, and a guess that was short is kept within the
    // buffer by the encoder's bound. One pass, seeing nothing ahead, keeps the margin.
    return bitsAtCoarsest > (m_planned ? MostBits() : Room());
}

void PlayerBuffer::Fit(std::vector<double> &plannedBits) const
{
    // Through a player's buffer the pictures may run ahead of the rate only by what the buffer
    // holds, counted from the lowest point so far (where it was last full), and a calm stretch
    // falls behind it by at most the share above. The plan is walked in order with each picture
    // kept between those walls; towards the end they close in on the rate, so that the film as a
    // whole spends what it should, by this share of a picture's bits a picture.
    constexpr double closingShare = 0.5;
    const double room = m_size * (1 - kMargin);
    const std::size_t n = plannedBits.size();
    double ahead = 0;  // bits spent beyond the rate so far
    double lowest = 0; // the least of it so far
    for (std::size_t i = 0; i < n; ++i) {
        const double closing = m_perPicture * closingShare * double(n - 1 - i);
        const double floor = -std::min(kBehindShare * room, closing);
        const double ceiling = std::min(lowest + room, closing);
        const double wanted = std::clamp(plannedBits[i], m_perPicture + floor - ahead, m_perPicture + ceiling - ahead);
        plannedBits[i] = std::max(wanted, 1.0);
        ahead += plannedBits[i] - m_perPicture;
        lowest = std::min(lowest, ahead);
    }
}

double PlayerBuffer::Behind(const std::vector<double> &plannedBits) const
{
    const double room = m_size * (1 - kMargin);
    double ahead = 0, worst = 0;
    for (const double bits : plannedBits) {
        ahead += bits - m_perPicture;
        worst = std::max(worst, -kBehindShare * room - ahead);
    }
    return worst;
}

void PlayerBuffer::Drain(double bits)
{
    m_bits = MostBits() - bits;
    if (m_bits < 0) {
        ++m_underflows;
        m_bits = 0; // the player waited until the picture had arrived
    }
}

void PlayerBuffer::Correct(double unspent)
{
    m_bits = std::min(m_size, m_bits + unspent);
    if (m_bits < 0) {
        ++m_underflows;
        m_bits = 0;
    }
}

} // namespace corva
