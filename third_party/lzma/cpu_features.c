/* Ours, not the SDK's: the two processor questions the match finder asks,
   answered by the compiler's own probe, in place of the SDK's CpuArch.c
   (which reaches for windows.h on Windows). */
#include "CpuArch.h"

#if defined(__i386__) || defined(__x86_64__)
BoolInt CPU_IsSupported_SSE41(void) { return __builtin_cpu_supports("sse4.1") ? 1 : 0; }
BoolInt CPU_IsSupported_AVX2(void) { return __builtin_cpu_supports("avx2") ? 1 : 0; }
#else
BoolInt CPU_IsSupported_SSE41(void) { return 0; }
BoolInt CPU_IsSupported_AVX2(void) { return 0; }
#endif
