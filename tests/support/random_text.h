// Random bytes as a string, the same for the same seed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

inline std::string random_text(std::size_t count, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::string out(count, '\0');
  for (char &c : out)
    c = static_cast<char>(random());
  return out;
}
