// The QueryEngine's diagnostics: debug notes with bytes, the trace (Log window, trace file, the
// text drawn on the display) and the Log window's status and traffic.
#include "engine/query_engine.h"
#include "engine/text_format.h"
#include "platform/code_page.h"
#include "quillbox/quillbox.h"

namespace qb {

void QueryEngine::NoteWithBytes(std::u16string_view text, const uint8_t* bytes, size_t count) {
  Note(std::u16string(text) + HexBytes(bytes, count));
}

void QueryEngine::Trace(std::u16string_view line) {
  const uint32_t now = platform_.TickMs();
  if (log_.LoggingOn()) log_.AppendLog(1, u"[" + DecimalText(now) + u"]" + std::u16string(line));
  if (!trace_.Enabled()) return;
  if (platform_.MonitorAttached()) {
    display_.Draw(DisplayText::kTraceRect, u"Logging : " + std::u16string(line));
  }
  trace_.Write(now, line, platform_.GetCodePage());
}

void QueryEngine::FillLogStatus() {
  const auto number = [](uint64_t n) { return DecimalText(static_cast<int64_t>(n)); };
  log_.SetStatus(u"Port", port_ != nullptr && port_->IsOpen()
                              ? u"COM" + DecimalText(port_->PortNumber())
                              : u"closed");
  log_.SetStatus(u"Baud", number(baudRate_));
  log_.SetStatus(u"Protocol", protocolName_ + (IsRtuMode() ? u" RTU" : u" ASCII"));
  log_.SetStatus(u"Running", number(running_ != 0));
  log_.SetStatus(u"Auto", number(autoList_.Count()));
  log_.SetStatus(u"ToDo", number(toDo_.Count()));
  log_.SetStatus(u"Requests", number(requestsSent_));
  log_.SetStatus(u"Replies", number(eventCounts_[QB_EVENT_REPLY]));
  log_.SetStatus(u"TimeOuts", number(eventCounts_[QB_EVENT_TIMEOUT]));
  log_.SetStatus(u"Watchdogs", number(eventCounts_[QB_EVENT_WATCHDOG]));
}

void QueryEngine::LogTraffic(std::u16string_view what, const uint8_t* bytes, size_t count) {
  log_.AppendLog(2, u"[" + DecimalText(platform_.TickMs()) + u"] " + std::u16string(what) +
                        HexBytes(bytes, count) + u"\r\n");
}

void QueryEngine::SetTraceFilePath(std::u16string_view path) { trace_.SetPath(Utf16ToUtf8(path)); }

}  // namespace qb
