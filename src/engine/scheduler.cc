// The scheduler: one query outstanding at a time, each ended by a reply, a time-out event or a
// retry. Driven by the 10 ms timer while running and by qbStep at any time; every wait is observed
// at the first tick after it has passed.
#include <algorithm>
#include <atomic>

#include "engine/item_keys.h"
#include "engine/query_engine.h"
#include "engine/text_format.h"
#include "platform/clock.h"
#include "protocols/protocol_capabilities.h"
#include "quillbox/quillbox.h"

namespace qb {
namespace {

// Shown once per process: a host that never called qbInit gets no events.
std::atomic<bool> initMessageNotShown{true};
// Shown once per process: a protocol name that no builder knows.
std::atomic<bool> protocolMessageNotShown{true};

}  // namespace

void QueryEngine::OnTimer() {
  if (const uint32_t now = platform_.TickMs(); log_.TickDue(now)) {
    FillLogStatus();
    log_.Tick(now);
  }
  platform_.WatchValue(u"Auto", static_cast<int64_t>(autoList_.Count()));
  platform_.WatchValue(u"ToDo", static_cast<int64_t>(toDo_.Count()));
  platform_.WatchValue(u"LastAskTime", lastAskTime_);
  if (running_ == 0) return;
  const uint32_t now = platform_.TickMs();
  if (lastRefillTime_ != 0 && now - lastRefillTime_ > kWatchdogMs) {
    Refill(DropReason::kWatchdogRefill);
    if (lastTimeOutTime_ == 0 || platform_.TickMs() - lastTimeOutTime_ > kWatchdogMs) {
      DeliverEvent(nullptr, 0, QB_EVENT_WATCHDOG);
    }
  }
  Step();
}

void QueryEngine::Refill(DropReason reason) {
  std::vector<int32_t> dropped;
  for (const auto& item : toDo_) {
    if (item->Int(keys::kIsAuto) == 0) dropped.push_back(item->Id());
  }
  toDo_.Clear();
  for (const auto& item : autoList_) {
    auto copy = std::make_unique<QueryItem>(*item);
    copy->SetInt(keys::kIsAuto, 1);
    toDo_.PushBack(std::move(copy));
  }
  lastRefillTime_ = StampNow();
  ReportDropped(dropped, reason);
}

void QueryEngine::Step() {
  if (httpMode_ != 0 || stepping_) return;
  stepping_ = true;
  StepOnce();
  stepping_ = false;
}

void QueryEngine::StepOnce() {
  if (toDo_.Empty()) Refill(DropReason::kWatchdogRefill);  // nothing waits: nothing dropped

  if (const auto txOnly = txOnly_.find(currentItemId_); txOnly != txOnly_.end()) {
    lastAskTime_ = 0;
    const int32_t pause = txOnly->second;
    Note(u"TxOnlyItm Found : Id=" + DecimalText(currentItemId_) + u" & SleepTime= " +
         DecimalText(pause));
    if (pause > 0) platform_.PauseMs(static_cast<uint32_t>(pause));
    ChooseAndSend();
    idleStep_ = lastAskTime_ == 0;
    idleStepTime_ = platform_.TickMs();
    return;
  }

  const uint32_t now = platform_.TickMs();
  const int32_t timeOut = EffectiveTimeOut();
  if (protocolName_ == u"MODBUS" && customTimeOuts_.count(currentItemId_) != 0) {
    Trace(u"CustomTimeout Found : " + DecimalText(customTimeOuts_.at(currentItemId_)) + u"\r\n");
  }
  const int32_t interval = EffectiveInterval();

  if (lastAskTime_ != 0) {
    if (TickDiff(now, lastAskTime_) <= timeOut) return;
    HandleTimeOut(timeOut);
    lastAskTime_ = 0;
  }
  if (lastReplyTime_ != 0 && TickDiff(now, lastReplyTime_) <= interval) return;
  ChooseAndSend();
  idleStep_ = lastAskTime_ == 0;
  idleStepTime_ = now;
}

int32_t QueryEngine::EffectiveTimeOut() const {
  int64_t timeOut = timeOut_;
  if (protocolName_ == u"MODBUS") {
    if (const auto custom = customTimeOuts_.find(currentItemId_); custom != customTimeOuts_.end()) {
      timeOut = custom->second;
    }
  }
  if (retryInProgress_ != 0) timeOut += int64_t{retryCount_} * extraMsPerRetry_;
  // Held to the range of a tick difference: a longer wait is a wait without end.
  return static_cast<int32_t>(std::clamp<int64_t>(timeOut, INT32_MIN, INT32_MAX));
}

int32_t QueryEngine::EffectiveInterval() const {
  int32_t interval = queryInterval_;
  if (IsRtuMode() && interval <= GetRtuTimeGap()) interval = GetRtuTimeGap();
  return interval;
}

int64_t QueryEngine::MsUntilDue() const {
  const int64_t scheduler = SchedulerMsUntilDue();
  const int64_t log = log_.MsUntilDue(platform_.TickMs());
  if (scheduler < 0 || log < 0) return std::max(scheduler, log);
  return std::min(scheduler, log);
}

int64_t QueryEngine::SchedulerMsUntilDue() const {
  if (running_ == 0 || httpMode_ != 0) return -1;
  const uint32_t now = platform_.TickMs();
  int64_t due = -1;
  auto consider = [&](int64_t ms) {
    due = due < 0 ? std::max<int64_t>(ms, 0) : std::min(due, std::max<int64_t>(ms, 0));
  };
  // The watchdog fires once the refill is more than 5000 ms old.
  if (lastRefillTime_ != 0) consider(int64_t{kWatchdogMs} + 1 - (now - lastRefillTime_));
  // A step that found nothing to send is repeated no sooner than the next tick would repeat it.
  const int64_t idleWait = idleStep_ ? int64_t{kTimerPeriodMs} - TickDiff(now, idleStepTime_) : 0;
  if (txOnly_.count(currentItemId_) != 0) {
    consider(idleWait);
  } else if (lastAskTime_ != 0) {
    consider(int64_t{EffectiveTimeOut()} + 1 - TickDiff(now, lastAskTime_));
  } else if (!toDo_.Empty() || !autoList_.Empty()) {
    int64_t ready = 0;
    if (lastReplyTime_ != 0)
      ready = int64_t{EffectiveInterval()} + 1 - TickDiff(now, lastReplyTime_);
    consider(std::max(ready, idleWait));
  }
  return due;
}

void QueryEngine::HandleTimeOut(int32_t timeOut) {
  if (!hostWindowSet_) {
    Note(u"Error : No Response-Target Window");
    return;
  }
  Note(u"TIME OUT at item ID: " + DecimalText(currentItemId_) + u". (over " + DecimalText(timeOut) +
       u"ms)");
  lastTimeOutTime_ = StampNow();
  Trace(u"**************** Timeout occured !!!!!  m_nLastAskTime=" + DecimalText(lastAskTime_) +
        u"\r\n");
  if (retryEnabled_ != 0 && protocolName_ == u"MODBUS" && currentItemIsAuto_ == 0) {
    if (retryInProgress_ == 0) {
      retryCount_ = 0;
      retryInProgress_ = 1;
    }
    if (retryCount_ < retryLimit_) {
      toDo_.PushFront(std::make_unique<QueryItem>(retryCopy_));
      ++retryCount_;
      Note(DecimalText(retryCount_) + u"th retry");
      return;
    }
    Note(u"Retried " + DecimalText(retryLimit_) + u" times but failed !");
    retryInProgress_ = 0;
  }
  DeliverEvent(nullptr, 0, QB_EVENT_TIMEOUT);
}

void QueryEngine::ChooseAndSend() {
  if (!hostWindowSet_) {
    ShowMessageBoxOnce(platform_, initMessageNotShown, u"qbInit 함수를 먼저 호출하세요");
  }
  if (toDo_.Empty()) return;
  if (protocolName_ == u"LSMK") {
    SendCnetFrame();
  } else if (protocolName_ == u"MKLD") {
    SendHeadItemFrame(true);
  } else if (protocolName_ == u"MBFX") {
    SendHeadItemFrame(false);
  } else if (protocolName_ == u"USRPRTCL") {
    SendUserPacketHead();
  } else if (protocolName_ == u"MODBUS") {
    SendModbusHead();
  } else {
    ShowMessageBoxOnce(platform_, protocolMessageNotShown, u"Error 34892");
    return;
  }
  if (toDo_.Empty()) Refill(DropReason::kWatchdogRefill);  // nothing waits: nothing dropped
}

void QueryEngine::SendModbusHead() {
  std::unique_ptr<QueryItem> item = toDo_.TakeHead();
  if (item->Int(keys::kPaused) != 0) {
    Note(u"ItemId : " + DecimalText(item->Id()) + u" - Skip Query (Paused)");
    return;
  }
  const int32_t code = item->Int(keys::kFncCode);
  if (code == 1 || code == 2) requestedBitCount_ = item->Int(keys::kLength);
  const uint32_t repliesBefore = repliesCompleted_;
  SendModbusQuery(*item);
  // A host that answers event 1 from inside it (qbOnSerialReceive) has ended the query already.
  if (repliesCompleted_ == repliesBefore) lastAskTime_ = StampNow();
  DescribeCurrentItem(*item);
  if (NotesWanted()) Note(u"LastAskTime=" + DecimalText(lastAskTime_));
}

std::u16string QueryEngine::CurrentItemDescription() const {
  if (!describedItem_) return {};
  return ItemDescription(*describedItem_, describeDeviceName_, describeBitPosition_);
}

void QueryEngine::DescribeCurrentItem(const QueryItem& item) {
  describedItem_ = item;
  describeDeviceName_ = ProtocolHasDeviceName(protocolName_);
  describeBitPosition_ = ProtocolHasBitPosition(protocolName_);
}

}  // namespace qb
