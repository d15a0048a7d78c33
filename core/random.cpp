// The engine's MT19937 generator: seeded by window creation, it fills its state and generates whole blocks of
// 624 tempered outputs at once, on an MMX path two words per step where the processor has MMX and on a plain
// path otherwise; both give the same block. Window thread only.
#include "core/core.h"
#include "core/core_test_hooks.h"

#include <cpuid.h>
#include <mmintrin.h>

#define STATE_WORDS 624
#define MIDDLE_OFFSET 397
#define FIRST_SEGMENT (STATE_WORDS - MIDDLE_OFFSET) // words 0..226 take their partner from i + 397
#define MATRIX_A 0x9908B0DFu
#define UPPER_MASK 0x80000000u
#define LOWER_MASK 0x7FFFFFFFu
#define TEMPER_B 0x9D2C5680u
#define TEMPER_C 0xEFC60000u

// The state, plus one word after it that holds a copy of the renewed word 0 while a block is generated, so
// that word 623 reads its successor like every other word.
static unsigned int s_State[STATE_WORDS + 1];
static unsigned int s_Block[STATE_WORDS];
static int s_ReadIndex;
static int s_UseMmx;

int HasMmx(void)
{
    unsigned int eax, ebx, ecx, edx;
    // __get_cpuid checks that CPUID exists (the ID bit toggles) and reaches leaf 1.
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        return 0;
    }
    return (edx >> 23) & 1;
}

// The word that word i is mixed with: i + 397 for the first segment, i - 227 (already renewed) after it.
static int PartnerOf(int i)
{
    return i < FIRST_SEGMENT ? i + MIDDLE_OFFSET : i - FIRST_SEGMENT;
}

static unsigned int NextWord(int i)
{
    unsigned int y = (s_State[i] & UPPER_MASK) | (s_State[i + 1] & LOWER_MASK);
    return s_State[PartnerOf(i)] ^ (y >> 1) ^ ((y & 1) ? MATRIX_A : 0);
}

static unsigned int Temper(unsigned int y)
{
    y ^= y >> 11;
    y ^= (y << 7) & TEMPER_B;
    y ^= (y << 15) & TEMPER_C;
    y ^= y >> 18;
    return y;
}

static __m64 LoadPair(const unsigned int *words)
{
    return _mm_set_pi32((int)words[1], (int)words[0]);
}

static void StorePair(unsigned int *words, __m64 pair)
{
    words[0] = (unsigned int)_mm_cvtsi64_si32(pair);
    words[1] = (unsigned int)_mm_cvtsi64_si32(_mm_srli_si64(pair, 32));
}

// Words first and first + 1 in one step; both partners lie on the same side of the segment boundary.
static void NextWordPairMmx(int first)
{
    const __m64 upper = _mm_set1_pi32((int)UPPER_MASK);
    const __m64 lower = _mm_set1_pi32((int)LOWER_MASK);
    const __m64 one = _mm_set1_pi32(1);
    const __m64 matrix = _mm_set1_pi32((int)MATRIX_A);
    __m64 y =
        _mm_or_si64(_mm_and_si64(LoadPair(s_State + first), upper), _mm_and_si64(LoadPair(s_State + first + 1), lower));
    __m64 oddMask = _mm_cmpeq_pi32(_mm_and_si64(y, one), one);
    __m64 word = _mm_xor_si64(LoadPair(s_State + PartnerOf(first)), _mm_srli_pi32(y, 1));
    StorePair(s_State + first, _mm_xor_si64(word, _mm_and_si64(oddMask, matrix)));
}

static __m64 TemperPairMmx(__m64 y)
{
    y = _mm_xor_si64(y, _mm_srli_pi32(y, 11));
    y = _mm_xor_si64(y, _mm_and_si64(_mm_slli_pi32(y, 7), _mm_set1_pi32((int)TEMPER_B)));
    y = _mm_xor_si64(y, _mm_and_si64(_mm_slli_pi32(y, 15), _mm_set1_pi32((int)TEMPER_C)));
    return _mm_xor_si64(y, _mm_srli_pi32(y, 18));
}

// Renews the words from..to-1. The MMX path takes two words per step; a segment's odd last word goes singly.
static void RenewWords(int from, int to)
{
    int i = from;
    if (s_UseMmx) {
        for (; i + 1 < to; i += 2) {
            NextWordPairMmx(i);
        }
        _mm_empty();
    }
    for (; i < to; i++) {
        s_State[i] = NextWord(i);
    }
}

static void TemperBlock(void)
{
    if (s_UseMmx) {
        for (int i = 0; i < STATE_WORDS; i += 2) {
            StorePair(s_Block + i, TemperPairMmx(LoadPair(s_State + i)));
        }
        _mm_empty();
        return;
    }
    for (int i = 0; i < STATE_WORDS; i++) {
        s_Block[i] = Temper(s_State[i]);
    }
}

int GenerateRandomBlock(void)
{
    RenewWords(0, FIRST_SEGMENT);
    // Word 623 mixes with the renewed word 0, read through the copy after the state like any successor.
    s_State[STATE_WORDS] = s_State[0];
    RenewWords(FIRST_SEGMENT, STATE_WORDS);
    TemperBlock();
    s_ReadIndex = 0;
    return 0;
}

int SeedRandom(unsigned int seed)
{
    // The early initialisation by the 69,069 linear congruential step: two steps per word, the high halves of
    // the seed before and after the first step.
    unsigned int x = seed;
    for (int i = 0; i < STATE_WORDS; i++) {
        unsigned int word = x & 0xFFFF0000u;
        x = x * 69069u + 1;
        word |= x >> 16;
        x = x * 69069u + 1;
        s_State[i] = word;
    }
    s_UseMmx = HasMmx();
    return GenerateRandomBlock();
}

const unsigned int *GetRandomBlock(void)
{
    return s_Block;
}

int GetRandomReadIndex(void)
{
    return s_ReadIndex;
}

int SetRandomMmxPath(int useMmx)
{
    s_UseMmx = useMmx && HasMmx();
    return 0;
}
