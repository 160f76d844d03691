// registres: a loop whose whole cost is arithmetic in processor registers.
//
// 1,500,000,000 times: 3 x suite + 3, then divided by 3, which raises suite
// by exactly 1. The answer is known in advance; the point is what it costs.
//
// Watch it:   $ time registres
//             suite : 1500000000
// and, to see the loop itself (no memory operand in it, the body three times):
//             $ objdump -d --no-show-raw-insn "$(command -v registres)" | less
//
// The build compiles this file optimised whatever the build type, without
// sanitizer checks, and the empty asm below hides suite2's value from the
// optimiser: it must really divide every iteration, yet nothing forces a value
// out of its register.
#include <cstdio>

int main()
{
    long suite = 0;
    long suite1;
    long suite2;

#pragma GCC unroll 3
    for (unsigned int i = 0; i < 1500000000u; i++) {
        suite1 = suite * 3;
        suite2 = suite1 + 3;
        // Without this the optimiser sees that (3 x suite + 3) / 3 is
        // suite + 1 and never divides.
        asm volatile("" : "+r"(suite2));
        suite = suite2 / 3;
    }

    printf("suite : %ld \n", suite);
    return 0;
}
