// An ordered list that owns its query items: the Auto list (registration order) and the ToDo queue
// (sending order, served from the head). Positions are list iterators, which stay valid while other
// items are inserted or removed.
#pragma once

#include <cstddef>
#include <functional>
#include <list>
#include <memory>

#include "engine/query_item.h"

namespace qb {

class ItemList {
 public:
  using Items = std::list<std::unique_ptr<QueryItem>>;
  using Position = Items::iterator;

  size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  Position begin() { return items_.begin(); }
  Position end() { return items_.end(); }
  Items::const_iterator begin() const { return items_.begin(); }
  Items::const_iterator end() const { return items_.end(); }

  QueryItem* Head() { return items_.empty() ? nullptr : items_.front().get(); }
  QueryItem* Tail() { return items_.empty() ? nullptr : items_.back().get(); }

  void PushBack(std::unique_ptr<QueryItem> item) { items_.push_back(std::move(item)); }
  void PushFront(std::unique_ptr<QueryItem> item) { items_.push_front(std::move(item)); }
  void InsertBefore(Position at, std::unique_ptr<QueryItem> item) {
    items_.insert(at, std::move(item));
  }
  void InsertAfter(Position at, std::unique_ptr<QueryItem> item) {
    items_.insert(std::next(at), std::move(item));
  }

  // Takes the head item out of the list; null when empty.
  std::unique_ptr<QueryItem> TakeHead();
  void RemoveHead() { items_.pop_front(); }
  void RemoveTail() { items_.pop_back(); }
  Position Remove(Position at) { return items_.erase(at); }
  void Clear() { items_.clear(); }

  // First position from the head whose item satisfies pred, or end().
  Position FindFirst(const std::function<bool(const QueryItem&)>& pred);
  // Last position (scanning from the tail) whose item satisfies pred, or end().
  Position FindLast(const std::function<bool(const QueryItem&)>& pred);

 private:
  Items items_;
};

}  // namespace qb
