// The hashing rules shared by every hash table of the library, and a
// chained hash map keyed by text that follows them.
//
// Rules: hash h = h * 31 + byte over the key's bytes (32-bit, wrapping);
// bucket = h mod bucket count; bucket counts come from kPrimeBucketCounts,
// starting at 17; before an insertion that would make the element count
// exceed the bucket count the table grows to the first prime greater than
// the new count and every node is re-hashed; a new node goes to the front
// of its bucket. Iteration runs in bucket order, then chain order, which is
// why these rules are observable (listings, records written to disk).
#ifndef MARROWGATE_UTIL_HASH_TABLE_H_
#define MARROWGATE_UTIL_HASH_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace marrowgate {

inline constexpr uint32_t kPrimeBucketCounts[] = {
    17u,        29u,        53u,        97u,        193u,       389u,
    769u,       1543u,      3079u,      6151u,      12289u,     24593u,
    49157u,     98317u,     196613u,    393241u,    786433u,    1572869u,
    3145739u,   6291469u,   12582917u,  25165843u,  50331653u,  100663319u,
    201326611u, 402653189u, 805306457u, 1610612741u, 3221225473u, 4294967291u};

inline constexpr uint32_t kInitialBucketCount = 17;

// The first listed prime greater than `count` (the largest prime when none
// is).
uint32_t PrimeAbove(uint32_t count);

// The bucket count to use before inserting one element into a table that
// holds `count` elements in `buckets` buckets: `buckets` itself, or the
// grown count when count + 1 would exceed it.
uint32_t BucketCountForInsert(uint32_t count, uint32_t buckets);

// h = h * 31 + byte over the exact bytes.
uint32_t HashText(std::string_view text);
// The same with a..z upper-cased first (for keys compared without regard
// to ASCII letter case).
uint32_t HashTextIgnoreCase(std::string_view text);
// ASCII case-insensitive equality.
bool EqualIgnoreCase(std::string_view a, std::string_view b);

// A map from text keys (compared exactly) to values, following the rules
// above. Keys are copied into the map.
template <class Value>
class StringHashMap {
 public:
  struct Node {
    std::string key;
    Value value;
    Node* next = nullptr;
  };

  StringHashMap() : buckets_(kInitialBucketCount, nullptr) {}
  ~StringHashMap() { Clear(); }
  StringHashMap(const StringHashMap&) = delete;
  StringHashMap& operator=(const StringHashMap&) = delete;

  size_t size() const { return count_; }
  size_t bucket_count() const { return buckets_.size(); }

  Value* Find(std::string_view key) {
    for (Node* n = buckets_[HashText(key) % buckets_.size()]; n; n = n->next)
      if (n->key == key) return &n->value;
    return nullptr;
  }

  // Inserts key -> value; false (nothing changed) when the key is present.
  bool Insert(std::string_view key, Value value) {
    if (Find(key) != nullptr) return false;
    Grow();
    auto node = std::make_unique<Node>();
    node->key.assign(key);
    node->value = std::move(value);
    Node*& head = buckets_[HashText(key) % buckets_.size()];
    node->next = head;
    head = node.release();
    ++count_;
    return true;
  }

  // Removes the key; false when it is absent.
  bool Erase(std::string_view key) {
    Node** link = &buckets_[HashText(key) % buckets_.size()];
    for (; *link; link = &(*link)->next) {
      if ((*link)->key == key) {
        Node* dead = *link;
        *link = dead->next;
        delete dead;
        --count_;
        return true;
      }
    }
    return false;
  }

  void Clear() {
    for (Node*& head : buckets_) {
      while (head) {
        Node* next = head->next;
        delete head;
        head = next;
      }
    }
    count_ = 0;
  }

  // Calls fn(key, value) in bucket order and chain order.
  template <class Fn>
  void ForEach(Fn&& fn) {
    for (Node* head : buckets_)
      for (Node* n = head; n; n = n->next) fn(std::string_view(n->key), n->value);
  }

 private:
  void Grow() {
    uint32_t wanted = BucketCountForInsert(static_cast<uint32_t>(count_),
                                           static_cast<uint32_t>(buckets_.size()));
    if (wanted == buckets_.size()) return;
    std::vector<Node*> grown(wanted, nullptr);
    for (Node* head : buckets_) {
      while (head) {
        Node* next = head->next;
        Node*& slot = grown[HashText(head->key) % wanted];
        head->next = slot;
        slot = head;
        head = next;
      }
    }
    buckets_.swap(grown);
  }

  std::vector<Node*> buckets_;
  size_t count_ = 0;
};

// The string set: exact, case-sensitive, holding its own copies.
class StringHashSet {
 public:
  bool Contains(std::string_view text) { return map_.Find(text) != nullptr; }
  // True when added, false when it was already present.
  bool Insert(std::string_view text) { return map_.Insert(text, 0); }
  bool Erase(std::string_view text) { return map_.Erase(text); }
  void Clear() { map_.Clear(); }
  size_t size() const { return map_.size(); }

 private:
  StringHashMap<char> map_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_UTIL_HASH_TABLE_H_
