#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tarvik {

// Finds the names that contain a byte string, among names stored back to back in one
// buffer. Name i is bytes [ends[i - 1], ends[i]) (the first starts at 0); a hit must lie
// inside one name. After a hit the search jumps to the next name, so a name is reported
// once and common texts cost no more than rare ones.
//
// The buffer must be readable for kByteSearchPadding bytes past ends[count - 1]: the
// vector paths load whole registers near the end.
namespace byteSearch {

constexpr std::size_t kPadding = 64;

enum class Kernel {
    Plain, // portable C++, eight bytes at a time; every CPU
    Sse2,  // x86-64 baseline, sixteen bytes at a time
    Avx2,  // thirty-two bytes at a time, chosen at run time where the CPU has it
};

// The kernels this build and this CPU can run, Plain first, the fastest last.
std::vector<Kernel> available();
Kernel best();
const char* nameOf(Kernel kernel);

// Appends to `hits` the index of every name that contains `needle`, in ascending order.
// An empty needle is in every name.
void find(Kernel kernel, const char* bytes, const std::uint32_t* ends, std::size_t count,
          std::string_view needle, std::vector<std::uint32_t>& hits);

} // namespace byteSearch
} // namespace tarvik
