#include "cli/userproto_host.h"

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sstream>

#include "cli/exit_codes.h"
#include "platform/code_page.h"
#include "quillbox/quillbox.h"

namespace qb::cli {
namespace {

constexpr uint32_t kMessage = 0x8400;

struct Inbox {
  std::mutex mutex;
  std::condition_variable changed;
  std::u16string pendingValues;  // given at event 101
  UserPollResult result;
  std::vector<std::string> lines;
};

// Packet names, variable names and values travel as the definition's 8-bit texts, which the
// library reads in the process's code page (the locale's, as qbSetCodePage is not called here).
const CodePage& TextCodePage() {
  static const CodePage codePage;
  return codePage;
}
std::u16string Wide(const std::string& s) { return TextCodePage().ToWide(s); }

std::string LastText(int32_t (*copy)(uint8_t*), int32_t bytes) {
  std::vector<uint8_t> buffer(static_cast<size_t>(std::max(bytes, 2)) + 2, 0);
  copy(buffer.data());
  std::u16string text;
  for (size_t i = 0; i + 1 < buffer.size() && (buffer[i] | buffer[i + 1]) != 0; i += 2) {
    text += static_cast<char16_t>(buffer[i] | buffer[i + 1] << 8);
  }
  return TextCodePage().ToBytes(text);
}

// "ADDR=n1&NAME=s4142" -> "ADDR=1 NAME="AB"" for people.
std::string Readable(const std::string& values) {
  std::string out;
  std::istringstream entries(values);
  for (std::string entry; std::getline(entries, entry, '&');) {
    const size_t eq = entry.find('=');
    if (eq == std::string::npos || eq + 1 >= entry.size()) continue;
    const char type = entry[eq + 1];
    const std::string data = entry.substr(eq + 2);
    if (!out.empty()) out += ' ';
    out += entry.substr(0, eq + 1);
    if (type == 's' && data.size() % 2 == 0) {
      out += '"';
      for (size_t i = 0; i < data.size(); i += 2) {
        uint8_t c = 0;
        const char* pair = data.data() + i;
        const bool hex = std::from_chars(pair, pair + 2, c, 16).ptr == pair + 2;
        out += hex && c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c))
                                            : "\\x" + data.substr(i, 2);
      }
      out += '"';
    } else {
      out += type == 'n' ? data : entry.substr(eq + 1);
    }
  }
  return out;
}

intptr_t OnEvent(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  auto* inbox = static_cast<Inbox*>(window);  // given to qbInit
  if (inbox == nullptr || message != kMessage) return 0;
  const int32_t type = qbGetLastRxEventType();
  std::lock_guard lock(inbox->mutex);
  if (lParam >= 2 && reinterpret_cast<const uint8_t*>(wParam)[0] == QB_EVENT_TIMEOUT) {
    ++inbox->result.timeouts;
    inbox->lines.push_back("time-out of item " + std::to_string(qbGetLastRxItemId()));
  } else if (lParam < 2 && type == QB_EVENT_USER_PACKET_PREPARED) {
    ++inbox->result.prepared;
    qbSetTempStr(inbox->pendingValues.c_str());
    inbox->lines.push_back("event 101: item " + std::to_string(wParam) + " packet " +
                           LastText(qbGetLastPaktToSend, 512) + " (" +
                           LastText(qbGetLastTxSituation, 512) + ")");
  } else if (lParam < 2 && type == QB_EVENT_USER_PACKET_RECEIVED) {
    ++inbox->result.received;
    const std::string values = LastText(qbGetLastEvntAsgstr, qbGetLastEvntAsgstrEnoughByteCnt());
    inbox->result.valuesTexts.push_back(values);
    std::string line = "event 100: item " + std::to_string(qbGetLastRxItemId()) + ": " +
                       Readable(values) + "  [" + values + "]";
    const std::string words =
        LastText(qbGetLastWordArrLoVars, qbGetLastWordArrLoVarsEnoughByteCnt());
    if (!words.empty()) line += " word arrays: " + words;
    inbox->lines.push_back(line);
  }
  inbox->changed.notify_all();
  return 0;
}

}  // namespace

std::string FriendlyToValuesText(const std::string& text) {
  std::string out;
  std::istringstream entries(text);
  for (std::string entry;
       std::getline(entries, entry, text.find('&') != std::string::npos ? '&' : ',');) {
    const size_t eq = entry.find('=');
    std::string value = eq == std::string::npos ? "" : entry.substr(eq + 1);
    const bool number =
        !value.empty() && value.find_first_not_of("+-0123456789") == std::string::npos;
    if (number) {
      value = "n" + value;
    } else if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      static constexpr char kDigits[] = "0123456789ABCDEF";
      std::string hex = "s";
      for (size_t i = 1; i + 1 < value.size(); ++i) {
        hex += kDigits[static_cast<uint8_t>(value[i]) >> 4];
        hex += kDigits[static_cast<uint8_t>(value[i]) & 15];
      }
      value = hex;
    }
    if (!out.empty()) out += '&';
    out += entry.substr(0, eq == std::string::npos ? entry.size() : eq);
    if (eq != std::string::npos) out.append(1, '=').append(value);
  }
  return out;
}

int RunUserProtocolPoll(const UserPollConfig& config, std::ostream& out, std::ostream& err,
                        UserPollResult* result) {
  Inbox box;
  qbSetHostWindowProc(OnEvent);
  qbInit(&box, kMessage);
  qbSetEventFormat(QB_EVENT_FORMAT_ID4);
  qbSetPortDevice(1, Utf8ToUtf16(config.device).c_str());
  if (qbOpenSerial(1, config.baud) != QB_YES) {
    err << "quillbox: cannot open " << config.device << "\n";
    qbSetHostWindowProc(nullptr);  // box, the window, ends here
    return kExitDevice;
  }
  auto finish = [&](int code) {
    qbStop();
    qbCloseSerial();
    qbSetHostWindowProc(nullptr);
    {
      std::lock_guard lock(box.mutex);
      for (const auto& line : box.lines) out << line << "\n";
      if (result != nullptr) *result = box.result;
    }
    return code;
  };
  qbSetTimeOut(config.timeoutMs);
  qbSetQueryInterval(config.intervalMs);
  if (qbSetUsrPrtclFromBinHexExp(Wide(config.definitionHex).c_str()) != QB_YES) {
    err << "quillbox: the library does not load the definition\n";
    return finish(kExitValuesFile);
  }
  qbSetProtocol(u"USRPRTCL");
  uint32_t id = 1;
  for (const UserPacketRequest& p : config.packets) {
    {
      std::lock_guard lock(box.mutex);
      box.pendingValues = Wide(FriendlyToValuesText(p.values));
    }
    const int32_t ok = p.manual ? qbManualUsrPrtclPakt(Wide(p.packet).c_str(), u"Once", id)
                                : qbAutoUsrPrtclPakt(Wide(p.packet).c_str(), id);
    if (ok != QB_YES) {
      err << "quillbox: no Tx packet \"" << p.packet << "\" in the definition\n";
      return finish(kExitBadArgument);
    }
    ++id;
  }
  qbStartNotDestroyingBuffer();  // keeps the manual packets queued above
  std::unique_lock lock(box.mutex);
  box.changed.wait_for(lock, std::chrono::duration<double>(config.seconds), [&] {
    return config.stopAfterReceived > 0 && box.result.received >= config.stopAfterReceived;
  });
  const bool any = box.result.received > 0;
  lock.unlock();
  return finish(any ? kExitOk : kExitFailure);
}

}  // namespace qb::cli
