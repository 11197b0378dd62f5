#include "store/search/ByteSearch.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#define TARVIK_X86_64 1
#include <immintrin.h>
#endif

namespace tarvik::byteSearch {
namespace {

#include "store/search/ByteScan.inc" // scan<Chunk>, compiled for the baseline

// Eight positions in one 64-bit word; bit 7 of each byte marks a match.
struct PlainChunk {
    static constexpr std::size_t kWidth = 8;
    static constexpr unsigned kStride = 8;
    std::uint64_t first, last;

    PlainChunk(char f, char l) : first(spread(f)), last(spread(l)) {}

    static std::uint64_t spread(char c) { return 0x0101010101010101ull * std::uint8_t(c); }

    static std::uint64_t load(const char* p)
    {
        std::uint64_t v;
        std::memcpy(&v, p, sizeof v);
        if constexpr (std::endian::native == std::endian::big) {
            std::uint64_t swapped = 0; // the first byte must be the lowest bit group
            for (int k = 0; k < 8; ++k)
                swapped = (swapped << 8) | ((v >> (8 * k)) & 0xFF);
            v = swapped;
        }
        return v;
    }

    // 0x80 exactly in the bytes of v that are zero, without carries between bytes.
    static std::uint64_t zeroBytes(std::uint64_t v)
    {
        constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
        return ~(((v & low7) + low7) | v | low7);
    }

    std::uint64_t match(const char* a, const char* b) const
    {
        return zeroBytes(load(a) ^ first) & zeroBytes(load(b) ^ last);
    }
};

void findPlain(const char* bytes, const std::uint32_t* ends, std::size_t count,
               std::string_view needle, std::vector<std::uint32_t>& hits)
{
    scan<PlainChunk>(bytes, ends, count, needle, hits);
}

#ifdef TARVIK_X86_64
// Sixty-four positions a step, four registers of sixteen: most steps find nothing, and
// one test of the combined mask decides that.
struct Sse2Chunk {
    static constexpr std::size_t kWidth = 64;
    static constexpr unsigned kStride = 1;
    __m128i first, last;

    Sse2Chunk(char f, char l) : first(_mm_set1_epi8(f)), last(_mm_set1_epi8(l)) {}

    std::uint64_t match16(const char* a, const char* b) const
    {
        const __m128i x =
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)), first);
        const __m128i y =
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), last);
        return std::uint32_t(_mm_movemask_epi8(_mm_and_si128(x, y)));
    }

    std::uint64_t match(const char* a, const char* b) const
    {
        return match16(a, b) | match16(a + 16, b + 16) << 16 | match16(a + 32, b + 32) << 32 |
               match16(a + 48, b + 48) << 48;
    }
};

void findSse2(const char* bytes, const std::uint32_t* ends, std::size_t count,
              std::string_view needle, std::vector<std::uint32_t>& hits)
{
    scan<Sse2Chunk>(bytes, ends, count, needle, hits);
}

#if defined(__GNUC__) || defined(__clang__)
#define TARVIK_HAVE_AVX2 1
} // namespace

// Compiled for AVX2 on its own, so the rest of the program keeps the x86-64 baseline;
// called only where the CPU reports AVX2.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace avx2 {

struct Avx2Chunk {
    static constexpr std::size_t kWidth = 64;
    static constexpr unsigned kStride = 1;
    __m256i first, last;

    Avx2Chunk(char f, char l) : first(_mm256_set1_epi8(f)), last(_mm256_set1_epi8(l)) {}

    std::uint64_t match32(const char* a, const char* b) const
    {
        const __m256i x =
            _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a)), first);
        const __m256i y =
            _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(b)), last);
        return std::uint32_t(_mm256_movemask_epi8(_mm256_and_si256(x, y)));
    }

    std::uint64_t match(const char* a, const char* b) const
    {
        return match32(a, b) | match32(a + 32, b + 32) << 32;
    }
};

#include "store/search/ByteScan.inc"

void findAvx2(const char* bytes, const std::uint32_t* ends, std::size_t count,
              std::string_view needle, std::vector<std::uint32_t>& hits)
{
    scan<Avx2Chunk>(bytes, ends, count, needle, hits);
}

} // namespace avx2
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace {
using avx2::findAvx2;

bool cpuHasAvx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
#endif
#endif

} // namespace

std::vector<Kernel> available()
{
    std::vector<Kernel> kernels{Kernel::Plain};
#ifdef TARVIK_X86_64
    kernels.push_back(Kernel::Sse2);
#ifdef TARVIK_HAVE_AVX2
    static const bool avx2 = cpuHasAvx2();
    if (avx2)
        kernels.push_back(Kernel::Avx2);
#endif
#endif
    return kernels;
}

Kernel best()
{
    static const Kernel kernel = available().back();
    return kernel;
}

const char* nameOf(Kernel kernel)
{
    switch (kernel) {
    case Kernel::Plain:
        return "plain";
    case Kernel::Sse2:
        return "SSE2";
    case Kernel::Avx2:
        return "AVX2";
    }
    return "?";
}

void find(Kernel kernel, const char* bytes, const std::uint32_t* ends, std::size_t count,
          std::string_view needle, std::vector<std::uint32_t>& hits)
{
    if (count == 0)
        return;
    if (needle.empty()) {
        for (std::size_t i = 0; i < count; ++i)
            hits.push_back(std::uint32_t(i));
        return;
    }
    switch (kernel) {
#ifdef TARVIK_X86_64
    case Kernel::Sse2:
        return findSse2(bytes, ends, count, needle, hits);
#ifdef TARVIK_HAVE_AVX2
    case Kernel::Avx2:
        return findAvx2(bytes, ends, count, needle, hits);
#endif
#endif
    default:
        return findPlain(bytes, ends, count, needle, hits);
    }
}

} // namespace tarvik::byteSearch
