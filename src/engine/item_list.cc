#include "engine/item_list.h"

namespace qb {

std::unique_ptr<QueryItem> ItemList::TakeHead() {
  if (items_.empty()) return nullptr;
  std::unique_ptr<QueryItem> head = std::move(items_.front());
  items_.pop_front();
  return head;
}

ItemList::Position ItemList::FindFirst(const std::function<bool(const QueryItem&)>& pred) {
  for (auto it = items_.begin(); it != items_.end(); ++it) {
    if (pred(**it)) return it;
  }
  return items_.end();
}

ItemList::Position ItemList::FindLast(const std::function<bool(const QueryItem&)>& pred) {
  for (auto it = items_.end(); it != items_.begin();) {
    --it;
    if (pred(**it)) return it;
  }
  return items_.end();
}

}  // namespace qb
