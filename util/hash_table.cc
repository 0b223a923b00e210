#include "util/hash_table.h"

namespace marrowgate {

uint32_t PrimeAbove(uint32_t count) {
  for (uint32_t prime : kPrimeBucketCounts)
    if (prime > count) return prime;
  return kPrimeBucketCounts[std::size(kPrimeBucketCounts) - 1];
}

uint32_t BucketCountForInsert(uint32_t count, uint32_t buckets) {
  if (count + 1 > buckets) return PrimeAbove(count + 1);
  return buckets;
}

uint32_t HashText(std::string_view text) {
  uint32_t h = 0;
  for (unsigned char c : text) h = h * 31u + c;
  return h;
}

namespace {
unsigned char UpperAscii(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}
}  // namespace

uint32_t HashTextIgnoreCase(std::string_view text) {
  uint32_t h = 0;
  for (unsigned char c : text) h = h * 31u + UpperAscii(c);
  return h;
}

bool EqualIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(static_cast<unsigned char>(a[i])) != UpperAscii(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace marrowgate
