#pragma once

#include "rv40/DecisionPolicy.h"

#include <cstdint>

namespace corva::rv40::test {

// The tests' choices: a macroblock kind forced on every MB, and/or choices drawn at random
// (seed not 0) to reach codes the encoder's own decisions rarely make.
struct Choices {
    MbKind force = MbKind::ByCost;
    std::uint32_t seed = 0;
};

class ForcedPolicy final : public DecisionPolicy {
public:
    explicit ForcedPolicy(Choices c) : m_choices(c) {}
    MbKind Kind() const override { return m_choices.force; }
    bool Random() const override { return m_choices.seed != 0; }
    std::uint32_t Draw() override;
    void Restart() override { m_state = m_choices.seed ? m_choices.seed : 1; }

private:
    Choices m_choices;
    std::uint32_t m_state = 1;
};

} // namespace corva::rv40::test
