// Lifecycle, settings and item management of the QueryEngine. The scheduler is in scheduler.cc,
// the Modbus sending path in direct_query.cc, event delivery in event_delivery.cc, the trace and
// the Log window in engine_diagnostics.cc.
#include "engine/query_engine.h"

#include "engine/item_keys.h"
#include "engine/text_format.h"
#include "quillbox/quillbox.h"

namespace qb {

QueryEngine::QueryEngine(Platform& platform)
    : platform_(platform),
      modbus_(platform, *this),
      log_(platform, QB_FILE_VERSION),
      display_(platform, platform.TickMs()) {}

QueryEngine::~QueryEngine() = default;

void QueryEngine::Init(void* window, uint32_t message) {
  hostWindow_ = window;
  hostWindowSet_ = true;
  hostMessage_ = message;
}

void QueryEngine::Start() {
  Refill(DropReason::kStart);
  running_ = 1;
}

void QueryEngine::StartNotDestroyingBuffer() { running_ = 1; }

void QueryEngine::Stop() { running_ = 0; }

void QueryEngine::EnableRetryForManual(int32_t enabled, int32_t limit, int32_t extraMsPerRetry) {
  retryEnabled_ = enabled;
  retryLimit_ = limit;
  extraMsPerRetry_ = extraMsPerRetry;
}

void QueryEngine::SetManualInsertStyle(int32_t style, int32_t styleWithoutAuto) {
  manualInsertStyle_ = style;
  insertStyleWithoutAuto_ = styleWithoutAuto;
}

void QueryEngine::SetLastAskTimeToCurrentIfNotZero() {
  if (lastAskTime_ != 0) lastAskTime_ = StampNow();
}

void QueryEngine::DeleteBuffer() {
  if (!toDo_.Empty()) toDo_.Clear();
}

void QueryEngine::SetHttpMode(std::u16string_view first, std::u16string_view second) {
  httpMode_ = 1;
  httpTexts_[0] = first;
  httpTexts_[1] = second;
}

void QueryEngine::RegisterAuto(std::unique_ptr<QueryItem> item) {
  // Marked here, not on each queued copy: the copies then share the item's properties.
  item->SetInt(keys::kIsAuto, 1);
  autoList_.PushBack(std::move(item));
}

void QueryEngine::RegisterManual(std::unique_ptr<QueryItem> item) {
  auto isAuto = [](const QueryItem& i) { return i.Int(keys::kIsAuto) != 0; };
  auto isManual = [](const QueryItem& i) { return i.Int(keys::kIsAuto) == 0; };
  const auto firstAuto = toDo_.FindFirst(isAuto);
  const auto lastAuto = toDo_.FindLast(isAuto);
  const auto lastManual = toDo_.FindLast(isManual);

  if (firstAuto != toDo_.end()) {
    switch (manualInsertStyle_) {
      case QB_INSERT_HEAD:
        toDo_.PushFront(std::move(item));
        break;
      case QB_INSERT_TAIL:
        toDo_.PushBack(std::move(item));
        break;
      case QB_INSERT_BEFORE_AUTO:
        toDo_.InsertBefore(firstAuto, std::move(item));
        break;
      case QB_INSERT_AFTER_AUTO:
        toDo_.InsertAfter(lastAuto, std::move(item));
        break;
      case QB_INSERT_AFTER_MANUAL:
        if (lastManual != toDo_.end()) {
          toDo_.InsertAfter(lastManual, std::move(item));
        } else {
          toDo_.PushFront(std::move(item));
        }
        break;
      default:  // an unknown style discards the item
        ReportDropped({item->Id()}, DropReason::kInsertStyle);
        return;
    }
  } else {
    switch (insertStyleWithoutAuto_) {
      case QB_INSERT_EMPTY_HEAD:
        toDo_.PushFront(std::move(item));
        break;
      case QB_INSERT_EMPTY_TAIL:
        toDo_.PushBack(std::move(item));
        break;
      default:
        ReportDropped({item->Id()}, DropReason::kInsertStyle);
        return;
    }
  }
  std::vector<int32_t> dropped;
  while (static_cast<int32_t>(toDo_.Count()) > kToDoLimit && kToDoLimit >= 2) {
    if (toDo_.Tail()->Int(keys::kIsAuto) == 0) dropped.push_back(toDo_.Tail()->Id());
    toDo_.RemoveTail();
  }
  ReportDropped(dropped, DropReason::kQueueFull);
}

int32_t QueryEngine::PauseItem(int32_t id) {
  const auto it = autoList_.FindFirst([id](const QueryItem& i) { return i.Id() == id; });
  if (it == autoList_.end()) return QB_NO;
  (*it)->SetInt(keys::kPaused, 1);
  return QB_YES;
}

int32_t QueryEngine::ResumeItem(int32_t id) {
  const auto it = autoList_.FindFirst([id](const QueryItem& i) { return i.Id() == id; });
  if (it == autoList_.end()) return QB_NO;
  (*it)->SetInt(keys::kPaused, 0);
  return QB_YES;
}

void QueryEngine::UnregisterAutoItem(int32_t id) {
  for (auto it = autoList_.begin(); it != autoList_.end();) {
    it = (*it)->Id() == id ? autoList_.Remove(it) : std::next(it);
  }
}

void QueryEngine::SetTxOnlyItem(int32_t id, int32_t pauseMs) {
  Note(u"TxOnlyItm Set : Id=" + DecimalText(id) + u" & SleepTime= " + DecimalText(pauseMs));
  txOnly_[id] = pauseMs;
}

}  // namespace qb
