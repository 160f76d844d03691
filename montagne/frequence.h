// The processor's clock in cycles per second, learnt from the work itself:
// chains of additions of a register, each waiting for the one before, one
// cycle each. (Additions of a constant would not do: some processors fold
// chains of those before they execute, and the clock would read too fast.)
// The best of short trials, which the machine's other work is least likely to
// interrupt. Used by montagne and by the benchmarks.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

inline double frequence_mesuree()
{
    using Horloge = std::chrono::steady_clock;
    constexpr long passes = 200000;
    double meilleure = 0;
    for (int essai = 0; essai < 20; essai++) {
        uint64_t x = 0, un = 1;
        asm volatile("" : "+r"(un)); // the optimiser may not know it is 1
        auto debut = Horloge::now();
        for (long i = 0; i < passes; i++) {
#pragma GCC unroll 10 // a loop around each addition would add a jump to its cycle
            for (int k = 0; k < 10; k++) {
                x += un;
                asm volatile("" : "+r"(x));
            }
        }
        std::chrono::duration<double> duree = Horloge::now() - debut;
        meilleure = std::max(meilleure, passes * 10 / duree.count());
        asm volatile("" ::"r"(x));
    }
    return meilleure;
}
