// Feeding a byte stream to a byte-fed routine in every kind of split, as the
// receive pump may hand it over: whole, one byte at a time, cut in two
// anywhere, and cut at random places.
#pragma once

#include <cstddef>
#include <functional>
#include <random>
#include <string>
#include <vector>

// The cut positions of each split of a stream of `size` bytes: no cut, a
// cut after every byte, then (when `everyCutInTwo`) each single cut, then
// `randomSplits` random sets of cuts.
inline std::vector<std::vector<size_t>> chunk_splits(size_t size, bool everyCutInTwo,
                                                     int randomSplits) {
  std::vector<std::vector<size_t>> splits{{}};
  std::vector<size_t> single;
  for (size_t i = 1; i < size; ++i)
    single.push_back(i);
  splits.push_back(single);
  if (everyCutInTwo)
    for (size_t i = 1; i < size; ++i)
      splits.push_back({i});
  std::mt19937 random(12345);
  for (int n = 0; n < randomSplits; ++n) {
    std::vector<size_t> cuts;
    for (size_t i = 1; i < size; ++i)
      if (random() % 3 == 0)
        cuts.push_back(i);
    splits.push_back(cuts);
  }
  return splits;
}

// Hands each chunk of `bytes` between the cuts to `feed` in a buffer of its
// own with a NUL behind the bytes, as the pump does.
inline void for_each_chunk(const std::string &bytes, const std::vector<size_t> &cuts,
                           const std::function<void(char *chunk, int count)> &feed) {
  std::vector<size_t> ends = cuts;
  ends.push_back(bytes.size());
  size_t from = 0;
  for (size_t end : ends) {
    if (end <= from)
      continue;
    std::string chunk = bytes.substr(from, end - from);
    chunk.push_back('\0');
    feed(chunk.data(), int(end - from));
    from = end;
  }
}
