// The sample project that `nurva demo` and `nurva-sim --sample` put on a card.
#pragma once

#include "tools/sim/Project.h"

namespace nurva::sim {

inline constexpr char kSampleFile[] = "DEMO.PACK";

// An ATmega328P project with a small Flash program, some EEprom data, fuses and lock bits.
Project MakeSampleProject();

}  // namespace nurva::sim
