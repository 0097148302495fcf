// What the CPUID instruction answers on a simulated board: the vendor text
// (leaf 0, highest leaf 0x16), the signature (leaf 1), the highest extended
// leaf (0x80000008) and the brand text (0x80000002-4); every other leaf and
// register reads 0.
#pragma once

#include "sim/board/Board.h"
#include "sys/Cpuid.h"

namespace kestrune::sim {

// Answers the leaf in registers.Eax.
void AnswerCpuid(const BoardCpu& cpu, sys::CpuidRegisters& registers);

}  // namespace kestrune::sim
