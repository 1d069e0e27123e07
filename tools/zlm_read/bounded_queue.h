#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

// A first-in first-out queue of at most `limit` items: when it is full, a
// new item pushes the oldest out, and the items so dropped are counted.
template <typename T>
class BoundedQueue {
 public:
  explicit BoundedQueue(std::size_t limit) : m_limit(limit < 1 ? 1 : limit) {}

  // The dropped item, if the queue was full.
  std::optional<T> Push(T item) {
    std::optional<T> dropped;
    if (m_items.size() == m_limit) {
      dropped = std::move(m_items.front());
      m_items.pop_front();
      ++m_dropped;
    }
    m_items.push_back(std::move(item));
    return dropped;
  }

  bool Empty() const { return m_items.empty(); }
  std::size_t Size() const { return m_items.size(); }
  T& operator[](std::size_t i) { return m_items[i]; }
  T& Front() { return m_items.front(); }
  void PopFront() { m_items.pop_front(); }
  // Takes an item out; it is not counted as dropped.
  void Erase(std::size_t i) { m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(i)); }
  // Items dropped since the queue was made.
  std::uint64_t Dropped() const { return m_dropped; }

 private:
  std::size_t m_limit;
  std::deque<T> m_items;
  std::uint64_t m_dropped = 0;
};
