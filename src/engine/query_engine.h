// The QueryEngine holds every piece of the library's state: the settings, the Auto list and the
// ToDo queue, the Modbus master, the port, the record of the last event. Its timer handler runs the
// scheduler, which sends one query at a time and ends each with a reply, a time-out or a retry, and
// every result goes to the host window as a synchronous message.
//
// All of it belongs to one thread (the owner thread of the platform layer): nothing here is locked.
// Tests construct a fresh engine on a FakePlatform; the C exports drive one default engine.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "diag/display_text.h"
#include "diag/log_dialog.h"
#include "diag/trace_file.h"
#include "engine/item_list.h"
#include "engine/last_rx_record.h"
#include "engine/query_item.h"
#include "engine/serial_link.h"
#include "platform/platform.h"
#include "protocols/frame_receiver.h"
#include "protocols/link_frames.h"
#include "protocols/modbus_master.h"
#include "quillbox/quillbox.h"
#include "userprotocol/definition.h"

namespace qb {

class QueryEngine {
 public:
  static constexpr int32_t kToDoLimit = 1024;
  static constexpr uint32_t kTimerPeriodMs = 10;
  static constexpr uint32_t kWatchdogMs = 5000;

  explicit QueryEngine(Platform& platform);
  ~QueryEngine();
  QueryEngine(const QueryEngine&) = delete;
  QueryEngine& operator=(const QueryEngine&) = delete;

  // --- lifecycle ---
  void Init(void* window, uint32_t message);
  void Start();
  void StartNotDestroyingBuffer();
  void Stop();
  // One scheduler step at once, whether running or not.
  void Step();
  // Every tick of the 10 ms timer.
  void OnTimer();
  // For a timer without a period: milliseconds from now until OnTimer next has something to do
  // (a time-out, the end of the interval, the cycle watchdog, a query ready to go); -1 when
  // nothing is due until the host calls in or bytes arrive. Running OnTimer at these moments
  // gives the same queries and events, in the same order, as running it every tick.
  int64_t MsUntilDue() const;

  // --- settings ---
  void SetTimeOut(int32_t ms) { timeOut_ = ms; }
  void SetQueryInterval(int32_t ms) { queryInterval_ = ms; }
  int32_t GetQueryInterval() const { return queryInterval_; }
  void SetEventFormat(int32_t format) { eventFormat_ = format; }
  void SetRtuMode() { modbus_.SetRtu(true); }
  void SetAsciiMode() { modbus_.SetRtu(false); }
  bool IsRtuMode() const { return modbus_.IsRtu(); }
  void SetUserProtocolMode(int32_t mode) { userProtocolMode_ = mode; }
  void EnableRetryForManual(int32_t enabled, int32_t limit, int32_t extraMsPerRetry);
  void DefineBitReadCode(int32_t code) { bitReadCode_ = code; }    // 0: code 1, else code 2
  void DefineWordReadCode(int32_t code) { wordReadCode_ = code; }  // 0: code 3, else code 4
  void SetQueryDirectSerial(int32_t direct) { directSerial_ = direct; }
  void SetManualInsertStyle(int32_t style, int32_t styleWithoutAuto);
  void SetTempStr(std::u16string_view text) { tempStr_ = text; }
  void SetArrDelimiter(std::u16string_view text) { arrDelimiter_ = text; }
  void SetLastAskTimeToCurrentIfNotZero();
  void DeleteBuffer();
  int32_t GetBufferSize() const { return static_cast<int32_t>(toDo_.Count()); }
  void SetTrimHeadZero() { trimHeadZero_ = 1; }
  void SetTrimTail() { trimTail_ = 1; }
  void SetProtocolName(std::u16string_view name) { protocolName_ = name; }
  // qbSetProtocol: the name, and the reply Styles of that protocol in place of the earlier ones.
  void SetProtocol(std::u16string_view name);
  const std::u16string& ProtocolName() const { return protocolName_; }
  void SetHttpMode(std::u16string_view first, std::u16string_view second);
  void SetBaudRate(uint32_t baud) { baudRate_ = baud; }
  int32_t GetRtuTimeGap() const { return RtuTimeGap(baudRate_); }

  // --- diagnostics ---
  // What the engine's window creation does on the system the library comes from: the trace file
  // of the previous run is deleted, so each run starts a new one.
  void OnCreated() { trace_.Delete(); }
  void EnableTraceToFile() { trace_.Enable(); }
  void SetTraceFilePath(std::u16string_view path);
  const TraceFile& TraceSettings() const { return trace_; }
  // qbShowLog: the Log window comes up at its first 100 ms tick, which the engine's timer runs.
  void ShowLog() { log_.Show(platform_.TickMs()); }
  const LogDialog& Log() const { return log_; }
  // qbTest1: the text drawn straight onto the display in a random colour.
  void Test1(std::u16string_view text) { display_.Draw(DisplayText::kTestRect, text); }

  // --- items ---
  // The function codes that bit and word reads registered now get.
  int32_t BitReadFunctionCode() const { return bitReadCode_ == 0 ? 1 : 2; }
  int32_t WordReadFunctionCode() const { return wordReadCode_ == 0 ? 3 : 4; }
  void RegisterAuto(std::unique_ptr<QueryItem> item);
  void RegisterManual(std::unique_ptr<QueryItem> item);
  int32_t PauseItem(int32_t id);
  int32_t ResumeItem(int32_t id);
  void UnregisterAutoItem(int32_t id);
  void UnregisterAllAutoItems() { autoList_.Clear(); }
  void SetTxOnlyItem(int32_t id, int32_t pauseMs);
  void SetTxOnlyItemQuietly(int32_t id) { txOnly_[id] = 0; }
  void SetCustomTimeOut(int32_t id, int32_t ms) { customTimeOuts_[id] = ms; }
  void RemoveAllCustomTimeOut() { customTimeOuts_.clear(); }

  // --- the user protocol ---
  int32_t LoadUserProtocol(std::u16string_view text) { return userProtocol_.Load(text, platform_); }
  const UserProtocol& GetUserProtocol() const { return userProtocol_; }
  // Builds an item of the Tx packet, asks the host for its values (event 101) and queues it: on
  // the Auto list, or as a manual item. 1 when queued, 0 for an unknown packet or a Style that
  // does not compile.
  int32_t AddUserPacket(std::u16string_view packetName, std::u16string_view txSituation,
                        uint32_t id, bool isAuto);
  // --- the port and received bytes ---
  // The library's own serial port; null while the engine has none.
  void SetPort(SerialLink* port) { port_ = port; }
  // Received bytes of the Modbus path (from the port or from the host); 1 taken, 0 rejected.
  int32_t AcceptModbusBytes(const uint8_t* bytes, int32_t count);
  // A chunk received by the library's own port, on the owner thread: traced, then dropped while
  // stopped, else given to the reply accumulation of the protocol.
  void SerialAccept(const uint8_t* bytes, int32_t count);
  // After a chunk: the fewest bytes the reply in progress still needs before it can be complete
  // (0: none awaited, or not known), so that the port need not look at the line before then.
  int32_t BytesStillAwaited() const;
  // Characters of silence a device keeps before it answers: 3.5 under Modbus RTU, whose frames
  // end by silence; none where frames end by their own characters.
  double SilenceBeforeReply() const;
  // The line settings the port is opened with: parity ("Even", "Odd", else none), data bits
  // ("7", else 8), stop bits ("2", else 1).
  void SetParity(std::u16string_view text) { parity_ = text; }
  void SetDataBits(std::u16string_view text) { dataBits_ = text; }
  void SetStopBits(std::u16string_view text) { stopBits_ = text; }
  const std::u16string& Parity() const { return parity_; }
  const std::u16string& DataBits() const { return dataBits_; }
  const std::u16string& StopBits() const { return stopBits_; }
  // Reply bytes that a host moving the bytes itself hands in; ignored while the library's own
  // port is open.
  int32_t OnSerialReceive(const uint8_t* bytes, int32_t count);

  // --- detailed events and error texts (extensions; off, the host sees only the events above) ---
  // On: Modbus exception replies end their query at once as event 200 (data words: the function
  // code and the exception code), refused replies become event 201 (data word: the reason) and a
  // port that disappears event 202, once.
  void SetDetailedEvents(bool on);
  bool DetailedEvents() const { return detailedEvents_; }
  // Why waiting manual items leave the ToDo queue unsent (QB_DROP_... in the public header).
  enum class DropReason : uint16_t {
    kQueueFull = 1,
    kWatchdogRefill = 2,
    kStart = 3,
    kInsertStyle = 4,
  };
  // The port's device went away (unplugged) under the open port; reason names device and cause.
  void OnPortLost(std::string_view reason);
  // Why the last failing export failed, in words a user can act on.
  void SetLastErrorText(std::u16string text) { lastErrorText_ = std::move(text); }
  const std::u16string& LastErrorText() const { return lastErrorText_; }

  // --- events and the last-event record ---
  void DeliverEvent(const uint8_t* data, int32_t length, int32_t code);
  const LastRxRecord& LastRx() const { return lastRx_; }
  // The text qbGetLastItmExp returns for the item sent last; made when asked, not per request.
  std::u16string CurrentItemDescription() const;
  const std::u16string& WordArrLoVars() const { return wordArrLoVars_; }
  const std::u16string& LastPacketName() const { return lastPacketName_; }
  const std::u16string& LastTxSituation() const { return lastTxSituation_; }

  // --- read-only views for diagnostics and tests ---
  const ItemList& ToDo() const { return toDo_; }
  const ItemList& AutoList() const { return autoList_; }
  uint32_t LastAskTime() const { return lastAskTime_; }
  uint32_t LastReplyTime() const { return lastReplyTime_; }
  bool Running() const { return running_ != 0; }
  int32_t CurrentItemId() const { return currentItemId_; }
  int32_t RetryCount() const { return retryCount_; }
  bool RetryInProgress() const { return retryInProgress_ != 0; }
  const ModbusMaster& Modbus() const { return modbus_; }
  FrameReceiver& Receiver() { return frameReceiver_; }
  const std::vector<int32_t>& FrameItemIds() const { return frameItemIds_; }
  const std::vector<int32_t>& SecondFrameItemIds() const { return secondFrameItemIds_; }
  int32_t FrameBitFlag() const { return frameBitFlag_; }

 private:
  // The engine's own Modbus master: complete replies become event 2.
  class EngineModbusMaster final : public ModbusMaster {
   public:
    EngineModbusMaster(Platform& platform, QueryEngine& engine)
        : ModbusMaster(platform), engine_(engine) {}

   protected:
    void OnPacket(const uint8_t* bytes, int32_t count) override;
    void OnException(const uint8_t* bytes, int32_t count) override;
    void OnRejected(const uint8_t* bytes, int32_t count, RejectReason reason) override;
    void TraceLine(std::u16string_view line) override { engine_.Trace(line); }

   private:
    QueryEngine& engine_;
  };

  // The engine's own frame receiver: recognised packets go to OnFramePacket.
  class EngineFrameReceiver final : public FrameReceiver {
   public:
    EngineFrameReceiver(Platform& platform, QueryEngine& engine)
        : FrameReceiver(platform), engine_(engine) {}

   protected:
    void OnPacket(std::u16string_view protocol, std::u16string_view packet) override;

   private:
    QueryEngine& engine_;
  };

  // Empties the ToDo queue and queues a copy of every auto item; the waiting manual items it
  // discards are reported with the reason given.
  void Refill(DropReason reason);
  void StepOnce();
  void ChooseAndSend();
  // The PLC link protocols' side of choose-and-send (link_scheduling.cc).
  void SendCnetFrame();
  void SendHeadItemFrame(bool mkld);
  // Takes the items a frame serves out of the ToDo queue, after making the current one current.
  void TakeServedItems(const LinkFrame& frame);
  void WriteToPort(const std::vector<uint8_t>& bytes);
  // Reply packets of the frame protocols (frame_packets.cc).
  void OnFramePacket(std::u16string_view protocol, std::u16string_view packet);
  void OnCnetPacket(std::u16string_view packet);
  void OnMkldPacket(std::u16string_view packet);
  void OnMbfxPacket(std::u16string_view packet);
  // A record-form event: the last-event record is filled; wParam as the event defines it.
  void SendRecordEvent(uintptr_t wParam);
  // The user protocol's share of receiving and registration (user_protocol_link.cc).
  void OnUserProtocolPacket(std::u16string_view packet);
  void RegisterUserProtocolReplyStyles();
  // The time-out of the outstanding query and the least wait after a reply, as the step sees them.
  int32_t EffectiveTimeOut() const;
  int32_t EffectiveInterval() const;
  void SendModbusHead();
  // The user-protocol builder: sends the user packet at the head of the ToDo queue.
  void SendUserPacketHead();
  void SendModbusQuery(const QueryItem& item);
  void HandleTimeOut(int32_t timeOut);
  void OnModbusPacket(const uint8_t* bytes, int32_t count);
  // The current tick as a stored time. Every stored time uses 0 for "none" (no query outstanding,
  // no reply yet), so the one millisecond in 2^32 when the tick reads 0 is stored as 1.
  uint32_t StampNow() const {
    const uint32_t now = platform_.TickMs();
    return now != 0 ? now : 1;
  }
  // A detailed event about an item (the current one unless named): recorded (frame as raw bytes,
  // the given data words) and sent in block form.
  void DeliverDetailedEvent(int32_t code, const uint8_t* data, int32_t length,
                            std::vector<uint16_t> words);
  void DeliverDetailedEvent(int32_t code, const uint8_t* data, int32_t length,
                            std::vector<uint16_t> words, int32_t itemId);
  // With detailed events on, one event per manual item among the dropped ones (after the queue
  // has been changed, so the event procedure may register items again).
  void ReportDropped(const std::vector<int32_t>& manualIds, DropReason reason);
  // With detailed events on, bytes received while stopped that a query still awaited: one event
  // per such query, carrying its first discarded chunk.
  void ReportDiscardedReply(const uint8_t* bytes, int32_t count);
  // Keeps the item just sent for qbGetLastItmExp.
  void DescribeCurrentItem(const QueryItem& item);
  // Sends the block of an event recorded in lastRx_: code, item id, then the payload.
  void SendEventBlock(int32_t code, const uint8_t* payload, int32_t length, int32_t itemId);
  void Note(std::u16string_view text) { platform_.DebugNote(text); }
  // Whether a note goes anywhere: the notes made for every request are not built otherwise.
  bool NotesWanted() const { return platform_.DebugNotesWanted(); }
  void NoteWithBytes(std::u16string_view text, const uint8_t* bytes, size_t count);
  // A line for the trace file (written only while tracing is enabled), also drawn on the display
  // then, and for the Log window's first pane while it logs.
  void Trace(std::u16string_view line);
  bool Tracing() const { return trace_.Enabled() || log_.LoggingOn(); }
  // The scheduler's part of MsUntilDue.
  int64_t SchedulerMsUntilDue() const;
  // The Log window's status table and its second pane (the traffic and the events).
  void FillLogStatus();
  // Callers check that the Log window logs before building `what`.
  void LogTraffic(std::u16string_view what, const uint8_t* bytes, size_t count);

  Platform& platform_;

  // Manual retry settings.
  int32_t retryEnabled_ = 0;
  int32_t extraMsPerRetry_ = 0;
  int32_t retryLimit_ = 0;
  int32_t retryCount_ = 0;

  EngineModbusMaster modbus_;
  EngineFrameReceiver frameReceiver_{platform_, *this};
  CnetBuilder cnet_{platform_};
  // A copy of the properties of the last MKLD item sent; its reply reads "^.BitPos" from here.
  PropertyMap properties_;
  ItemList toDo_;
  ItemList autoList_;
  uint32_t lastAskTime_ = 0;
  uint32_t lastReplyTime_ = 0;
  int32_t timeOut_ = 100;
  std::unordered_map<int32_t, int32_t> customTimeOuts_;
  std::unordered_map<int32_t, int32_t> txOnly_;
  int32_t queryInterval_ = 10;
  int32_t running_ = 0;
  void* hostWindow_ = nullptr;
  // qbInit was called. The window is an opaque handle handed back to the host's window procedure,
  // so any value, null included, names the host window once qbInit has given it.
  bool hostWindowSet_ = false;
  uint32_t hostMessage_ = 1024;
  std::vector<int32_t> frameItemIds_;
  std::vector<int32_t> secondFrameItemIds_;
  int32_t frameBitFlag_ = 1;
  std::u16string arrDelimiter_ = u"?";
  int32_t currentItemId_ = 0;
  // The item sent last (a copy that shares its properties) and the protocol's description rules.
  std::optional<QueryItem> describedItem_;
  bool describeDeviceName_ = false;
  bool describeBitPosition_ = false;
  int32_t currentItemIsAuto_ = 0;
  int32_t eventFormat_ = QB_EVENT_FORMAT_ID1;
  int32_t userProtocolMode_ = 0;
  SerialLink* port_ = nullptr;
  int32_t retryInProgress_ = 0;
  QueryItem retryCopy_;
  int32_t trimHeadZero_ = 0;
  int32_t trimTail_ = 0;
  int32_t bitReadCode_ = 0;
  int32_t wordReadCode_ = 0;
  int32_t directSerial_ = 1;
  std::u16string parity_ = u"N";
  std::u16string dataBits_ = u"8";
  std::u16string stopBits_ = u"1";
  int32_t manualInsertStyle_ = QB_INSERT_AFTER_MANUAL;
  int32_t insertStyleWithoutAuto_ = QB_INSERT_EMPTY_TAIL;
  LastRxRecord lastRx_;
  int32_t httpMode_ = 0;
  std::u16string httpTexts_[2];
  std::u16string protocolName_ = u"MODBUS";
  std::u16string wordArrLoVars_;
  std::u16string lastPacketName_;
  std::u16string lastTxSituation_;
  std::u16string tempStr_;
  UserProtocol userProtocol_;
  int32_t requestedBitCount_ = 0;
  uint32_t baudRate_ = 9600;
  uint32_t lastRefillTime_ = 0;
  // The ask time of the query whose reply, arriving while stopped, was last reported discarded.
  uint32_t discardReportedAsk_ = 0;
  uint32_t lastTimeOutTime_ = 0;
  // Tick of the last step that sent nothing although a query was ready (an empty cycle, a paused
  // copy skipped): such steps are not repeated more often than a tick would repeat them.
  uint32_t idleStepTime_ = 0;
  bool idleStep_ = false;
  // A step is running: a step asked for from inside it (qbStep in the event procedure) is not run,
  // so a host cannot nest steps without end.
  bool stepping_ = false;
  // Replies completed so far: a send tells by it that the host answered inside event 1.
  uint32_t repliesCompleted_ = 0;
  TraceFile trace_;
  LogDialog log_;
  DisplayText display_;
  // Traffic counts for the Log window: requests written to the port, and events by code (1-4).
  uint64_t requestsSent_ = 0;
  uint64_t eventCounts_[QB_EVENT_WATCHDOG + 1] = {};  // by event code
  bool detailedEvents_ = false;
  std::u16string lastErrorText_;
};

}  // namespace qb
