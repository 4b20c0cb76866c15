#pragma once
// The hash containers of the data-dependent coder. Which edge weight the selection
// solves for, and the order in which rule terms are summed, follow the iteration
// order of these containers, so the coded stream depends on it bit for bit. That
// order is fixed here, independent of the standard library we are built with: it is
// the order of LLVM libc++'s unordered containers (one singly linked list grouped by
// bucket; when the load would pass 1 the bucket count grows to the smallest prime
// above twice itself), including what their copy constructor and copy assignment do
// to it.
//
// Entries live in a pool of slots: inserting may move them, so references and
// iterators are invalidated by insertion (unlike the standard containers); erasing
// invalidates only the erased entry.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <limits>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/CodecError.hpp"

namespace meshcodec {

namespace detail {
// The smallest prime >= n, with 0 for 0 and 2 for 1 (the bucket counts of the table).
size_t nextPrimeAtLeast(size_t n);
}  // namespace detail

// The value of a set's entries.
struct NoValue {};

template <typename Key, typename Value, typename Hash = std::hash<Key>>
class ChainedHashMap {
  struct Node;

 public:
  struct Entry {
    Key first;  // never to be changed through an iterator
    Value second;
  };

  template <bool Const>
  class Iterator {
    using Map = std::conditional_t<Const, const ChainedHashMap, ChainedHashMap>;
    using Ref = std::conditional_t<Const, const Entry&, Entry&>;
    using Ptr = std::conditional_t<Const, const Entry*, Entry*>;

   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Entry;
    using difference_type = std::ptrdiff_t;
    using reference = Ref;
    using pointer = Ptr;

    Iterator(Map* map, int32_t node) : map(map), node(node) {}
    Ref operator*() const { return map->nodes[node].entry; }
    Ptr operator->() const { return &map->nodes[node].entry; }
    Iterator& operator++() {
      node = map->nodes[node].next;
      return *this;
    }
    bool operator==(const Iterator& o) const { return node == o.node; }
    bool operator!=(const Iterator& o) const { return node != o.node; }

   private:
    friend class ChainedHashMap;
    Map* map;
    int32_t node;
  };
  using iterator = Iterator<false>;
  using const_iterator = Iterator<true>;

  ChainedHashMap() = default;
  ~ChainedHashMap() = default;

  // Same bucket count as the source, entries inserted one by one in its order: each
  // goes to the front of its bucket's run, so the copy iterates in reverse.
  ChainedHashMap(const ChainedHashMap& other) : hasher(other.hasher) {
    rehash(other.buckets.size());
    nodes.reserve(other.count);
    for (const Entry& e : other) insertUniqueNode(e.first, hashOf(e.first), Value(e.second));
  }

  // Keeps this table's bucket count and re-inserts the source's entries in its order,
  // each at the end of its bucket's run (growing from 0 buckets for an empty target).
  // The values this table held are recycled in their order and assigned the new ones,
  // which matters where the values are themselves tables.
  ChainedHashMap& operator=(const ChainedHashMap& other) {
    if (this == &other) return *this;
    hasher = other.hasher;
    std::vector<Value> recycled;
    if (!buckets.empty()) {
      recycled.reserve(count);
      for (int32_t p = first; p != kNull; p = nodes[p].next) {
        recycled.push_back(std::move(nodes[p].entry.second));
      }
    }
    clear();
    size_t reused = 0;
    for (const Entry& e : other) {
      if (reused < recycled.size()) {
        Value value = std::move(recycled[reused++]);
        value = e.second;
        insertMultiNode(e.first, hashOf(e.first), std::move(value));
      } else {
        insertMultiNode(e.first, hashOf(e.first), Value(e.second));
      }
    }
    return *this;
  }

  // Takes the whole table, order and bucket count included.
  ChainedHashMap(ChainedHashMap&& other) noexcept { swap(other); }
  ChainedHashMap& operator=(ChainedHashMap&& other) noexcept {
    if (this != &other) {
      ChainedHashMap taken(std::move(other));
      swap(taken);
    }
    return *this;
  }

  size_t size() const { return count; }
  bool empty() const { return count == 0; }
  size_t bucketCount() const { return buckets.size(); }

  iterator begin() { return iterator(this, first); }
  iterator end() { return iterator(this, kNull); }
  const_iterator begin() const { return const_iterator(this, first); }
  const_iterator end() const { return const_iterator(this, kNull); }

  iterator find(const Key& key) { return iterator(this, findNode(key, hashOf(key))); }
  const_iterator find(const Key& key) const {
    return const_iterator(this, findNode(key, hashOf(key)));
  }
  bool contains(const Key& key) const { return findNode(key, hashOf(key)) != kNull; }

  // Inserts a default value when the key is absent.
  Value& operator[](const Key& key) { return nodes[tryEmplace(key).first.node].entry.second; }

  // Inserts (key, a default value) unless the key is present; reports whether it did.
  std::pair<iterator, bool> tryEmplace(const Key& key) {
    const size_t h = hashOf(key);
    const int32_t found = findNode(key, h);
    if (found != kNull) return {iterator(this, found), false};
    return {iterator(this, insertUniqueNode(key, h, Value())), true};
  }

  // Inserts (key, a copy of value) unless the key is present.
  std::pair<iterator, bool> insert(const Key& key, const Value& value) {
    const size_t h = hashOf(key);
    const int32_t found = findNode(key, h);
    if (found != kNull) return {iterator(this, found), false};
    return {iterator(this, insertUniqueNode(key, h, Value(value))), true};
  }

  // Removes the key if present; the bucket count never shrinks.
  size_t erase(const Key& key) {
    const int32_t node = findNode(key, hashOf(key));
    if (node == kNull) return 0;
    unlink(node);
    return 1;
  }

  void clear() {
    std::fill(buckets.begin(), buckets.end(), kNull);
    nodes.clear();
    freeSlots.clear();
    first = kNull;
    count = 0;
  }

  void swap(ChainedHashMap& other) noexcept {
    std::swap(nodes, other.nodes);
    std::swap(freeSlots, other.freeSlots);
    std::swap(buckets, other.buckets);
    std::swap(first, other.first);
    std::swap(count, other.count);
    std::swap(hasher, other.hasher);
  }

 private:
  static constexpr int32_t kNull = -1;
  // The position before the first node: a bucket whose run starts the list points here.
  static constexpr int32_t kHead = -2;
  static constexpr float kMaxLoad = 1.0f;

  struct Node {
    Entry entry;
    size_t hash;
    int32_t next;
  };

  size_t hashOf(const Key& key) const { return hasher(key); }

  static size_t bucketOf(size_t hash, size_t bucketCount) {
    return (bucketCount & (bucketCount - 1)) == 0
               ? hash & (bucketCount - 1)
               : (hash < bucketCount ? hash : hash % bucketCount);
  }
  static bool isPowerOfTwoAbove2(size_t n) { return n > 2 && (n & (n - 1)) == 0; }

  int32_t nextOf(int32_t p) const { return p == kHead ? first : nodes[p].next; }
  void setNext(int32_t p, int32_t node) {
    if (p == kHead)
      first = node;
    else
      nodes[p].next = node;
  }
  size_t bucketOfNode(int32_t node) const { return bucketOf(nodes[node].hash, buckets.size()); }

  int32_t findNode(const Key& key, size_t h) const {
    const size_t bc = buckets.size();
    if (bc == 0) return kNull;
    const size_t b = bucketOf(h, bc);
    const int32_t before = buckets[b];
    if (before == kNull) return kNull;
    for (int32_t nd = nextOf(before); nd != kNull; nd = nodes[nd].next) {
      if (nodes[nd].hash != h && bucketOfNode(nd) != b) break;
      if (nodes[nd].hash == h && nodes[nd].entry.first == key) return nd;
    }
    return kNull;
  }

  int32_t allocate(const Key& key, size_t h, Value&& value) {
    if (!freeSlots.empty()) {
      const int32_t slot = freeSlots.back();
      freeSlots.pop_back();
      nodes[slot].entry.first = key;
      nodes[slot].entry.second = std::move(value);
      nodes[slot].hash = h;
      return slot;
    }
    if (nodes.size() >= static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
      throw Misuse("hash map: more than 2^31 - 1 entries");
    }
    nodes.push_back(Node{Entry{key, std::move(value)}, h, kNull});
    return static_cast<int32_t>(nodes.size() - 1);
  }

  // Grows before an insertion that would take the load above 1; the comparison and
  // the quotient are taken in float, as the order depends on when growth happens.
  void growForOneMore() {
    const size_t bc = buckets.size();
    if (static_cast<float>(count + 1) > static_cast<float>(bc) * kMaxLoad || bc == 0) {
      const auto needed = static_cast<size_t>(std::ceil(static_cast<float>(count + 1) / kMaxLoad));
      rehash(std::max<size_t>(2 * bc + (isPowerOfTwoAbove2(bc) ? 0 : 1), needed));
    }
  }

  // Links a new node at the front of its bucket's run, or at the front of the list
  // when its bucket is empty.
  int32_t insertUniqueNode(const Key& key, size_t h, Value&& value) {
    growForOneMore();
    const int32_t node = allocate(key, h, std::move(value));
    linkAfterBucketStart(node, bucketOf(h, buckets.size()));
    ++count;
    return node;
  }

  // Links a new node after the last node of its bucket's run (keys are distinct, so no
  // run of equal keys has to be kept together).
  int32_t insertMultiNode(const Key& key, size_t h, Value&& value) {
    growForOneMore();
    const int32_t node = allocate(key, h, std::move(value));
    const size_t b = bucketOf(h, buckets.size());
    int32_t before = buckets[b];
    if (before == kNull) {
      linkAfterBucketStart(node, b);
    } else {
      while (nextOf(before) != kNull && bucketOfNode(nextOf(before)) == b) before = nextOf(before);
      nodes[node].next = nextOf(before);
      setNext(before, node);
      if (nodes[node].next != kNull) {
        const size_t nb = bucketOfNode(nodes[node].next);
        if (nb != b) buckets[nb] = node;
      }
    }
    ++count;
    return node;
  }

  void linkAfterBucketStart(int32_t node, size_t b) {
    const int32_t before = buckets[b];
    if (before == kNull) {
      nodes[node].next = first;
      first = node;
      buckets[b] = kHead;
      if (nodes[node].next != kNull) buckets[bucketOfNode(nodes[node].next)] = node;
    } else {
      nodes[node].next = nextOf(before);
      setNext(before, node);
    }
  }

  void unlink(int32_t node) {
    const size_t b = bucketOfNode(node);
    int32_t before = buckets[b];
    while (nextOf(before) != node) before = nextOf(before);
    const int32_t after = nodes[node].next;
    // The bucket empties when neither neighbour of the node belongs to it.
    if (before == kHead || bucketOfNode(before) != b) {
      if (after == kNull || bucketOfNode(after) != b) buckets[b] = kNull;
    }
    if (after != kNull) {
      const size_t nb = bucketOfNode(after);
      if (nb != b) buckets[nb] = before;
    }
    setNext(before, after);
    nodes[node].entry.second = Value();  // release what the value holds
    freeSlots.push_back(node);
    --count;
  }

  // Bucket counts are 2, primes, or what a copied table had. Tables only ever grow:
  // growth asks for more than twice the count, a copy starts from no buckets.
  void rehash(size_t n) {
    if (n == 1)
      n = 2;
    else if (n & (n - 1))
      n = detail::nextPrimeAtLeast(n);
    if (n > buckets.size()) relink(n);
  }

  // Regroups the list for a new bucket count in one walk: a node that meets an
  // already started bucket moves to the front of that bucket's run.
  void relink(size_t bucketCount) {
    buckets.assign(bucketCount, kNull);
    int32_t prev = kHead;
    int32_t cur = first;
    if (cur == kNull) return;
    size_t prevBucket = bucketOfNode(cur);
    buckets[prevBucket] = kHead;
    for (prev = cur, cur = nodes[cur].next; cur != kNull; cur = nodes[prev].next) {
      const size_t b = bucketOfNode(cur);
      if (b == prevBucket) {
        prev = cur;
      } else if (buckets[b] == kNull) {
        buckets[b] = prev;
        prev = cur;
        prevBucket = b;
      } else {
        nodes[prev].next = nodes[cur].next;
        nodes[cur].next = nextOf(buckets[b]);
        setNext(buckets[b], cur);
      }
    }
  }

  std::vector<Node> nodes;
  std::vector<int32_t> freeSlots;
  std::vector<int32_t> buckets;  // per bucket: the node before its run, kHead, or kNull
  int32_t first = kNull;
  size_t count = 0;
  Hash hasher;
};

template <typename Key, typename Hash = std::hash<Key>>
using ChainedHashSet = ChainedHashMap<Key, NoValue, Hash>;

}  // namespace meshcodec
