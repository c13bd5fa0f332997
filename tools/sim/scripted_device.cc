#include "sim/scripted_device.h"

#include <toml.hpp>

namespace qb::sim {
namespace {

uint32_t Sum(const std::string& method, const uint8_t* p, size_t n) {
  uint32_t value = method == "crc16" ? 0xFFFF : 0;
  for (size_t i = 0; i < n; ++i) {
    if (method == "plus") {
      value += p[i];
    } else if (method == "xor") {
      value ^= p[i];
    } else {
      value ^= p[i];
      for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? (value >> 1) ^ 0xA001 : value >> 1;
    }
  }
  return value;
}

class ScriptedDevice final : public PlcSlave {
 public:
  explicit ScriptedDevice(std::vector<ScriptRule> rules) : rules_(std::move(rules)) {}

  int FrameLength(std::span<const uint8_t> bytes) const override {
    bool waiting = false;
    for (const ScriptRule& rule : rules_) {
      const size_t n = std::min(bytes.size(), rule.request.size());
      bool match = true;
      for (size_t i = 0; i < n && match; ++i) {
        match = rule.any[i] || bytes[i] == rule.request[i];
      }
      if (!match) continue;
      if (n == rule.request.size()) return static_cast<int>(n);
      waiting = true;
    }
    return waiting ? 0 : -1;
  }

  PlcAnswer Handle(std::span<const uint8_t> frame) override {
    for (const ScriptRule& rule : rules_) {
      if (frame.size() != rule.request.size()) continue;
      bool match = true;
      for (size_t i = 0; i < frame.size() && match; ++i) {
        match = rule.any[i] || frame[i] == rule.request[i];
      }
      if (match) return {PlcOutcome::kReply, FillSums(rule), 0, "scripted rule"};
    }
    return {};
  }

  bool Corrupt(std::vector<uint8_t>* reply) const override {
    if (reply->empty()) return false;
    (*reply)[reply->size() / 2] ^= 0x01;
    return true;
  }

 private:
  std::vector<ScriptRule> rules_;
};

struct Mistake {
  std::string text;
};

[[noreturn]] void Fail(const toml::value& at, const std::string& what,
                       const std::string& expected) {
  throw Mistake{toml::format_error(what, at, "expected " + expected)};
}

// A string's code points as bytes: each must be below 256.
std::vector<uint8_t> Bytes(const toml::value& v) {
  if (!v.is_string()) Fail(v, "not a text", "a string whose characters are the bytes");
  const std::string& s = v.as_string().str;
  std::vector<uint8_t> out;
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<uint8_t>(s[i]);
    uint32_t cp = c;
    size_t len = 1;
    if (c >= 0xC0 && c < 0xE0 && i + 1 < s.size()) {
      cp = ((c & 0x1Fu) << 6) | (static_cast<uint8_t>(s[i + 1]) & 0x3Fu);
      len = 2;
    } else if (c >= 0x80) {
      Fail(v, "a character above U+00FF", "characters U+0000 to U+00FF, one byte each");
    }
    if (cp > 0xFF) Fail(v, "a character above U+00FF", "characters U+0000 to U+00FF");
    out.push_back(static_cast<uint8_t>(cp));
    i += len;
  }
  return out;
}

size_t Index(const toml::value& t, const char* key, size_t limit) {
  if (!t.contains(key)) Fail(t, std::string("no ") + key, std::string(key) + " = a position");
  const toml::value& v = t.at(key);
  if (!v.is_integer() || v.as_integer() < 0 || static_cast<size_t>(v.as_integer()) > limit) {
    Fail(v, "position outside the reply", "0 to " + std::to_string(limit));
  }
  return static_cast<size_t>(v.as_integer());
}

ScriptSum ReadSum(const toml::value& t, size_t replySize) {
  if (!t.is_table()) Fail(t, "checksum is not a table", "{ method, from, to, at, form }");
  ScriptSum sum;
  sum.method =
      t.contains("method") && t.at("method").is_string() ? t.at("method").as_string().str : "";
  if (sum.method != "plus" && sum.method != "xor" && sum.method != "crc16") {
    Fail(t, "no such method", "method = \"plus\", \"xor\" or \"crc16\"");
  }
  sum.form = t.contains("form") && t.at("form").is_string() ? t.at("form").as_string().str : "";
  const size_t width = sum.form == "hex2" || sum.form == "be16" || sum.form == "le16" ? 2
                       : sum.form == "byte"                                           ? 1
                                                                                      : 0;
  if (width == 0) Fail(t, "no such form", "form = \"hex2\", \"byte\", \"be16\" or \"le16\"");
  sum.from = Index(t, "from", replySize);
  sum.to = Index(t, "to", replySize);
  sum.at = Index(t, "at", replySize - std::min(replySize, width));
  if (sum.from > sum.to) Fail(t, "from after to", "from <= to");
  return sum;
}

}  // namespace

std::vector<uint8_t> FillSums(const ScriptRule& rule) {
  std::vector<uint8_t> reply = rule.reply;
  for (const ScriptSum& s : rule.sums) {
    const uint32_t v = Sum(s.method, reply.data() + s.from, s.to - s.from);
    static constexpr char kDigits[] = "0123456789ABCDEF";
    if (s.form == "hex2") {
      reply[s.at] = static_cast<uint8_t>(kDigits[(v >> 4) & 15]);
      reply[s.at + 1] = static_cast<uint8_t>(kDigits[v & 15]);
    } else if (s.form == "byte") {
      reply[s.at] = static_cast<uint8_t>(v);
    } else {
      const bool high = s.form == "be16";
      reply[s.at] = static_cast<uint8_t>(high ? v >> 8 : v);
      reply[s.at + 1] = static_cast<uint8_t>(high ? v : v >> 8);
    }
  }
  return reply;
}

std::unique_ptr<PlcSlave> LoadScriptedDevice(const std::string& path, std::string* error) {
  auto rules = LoadScript(path, error);
  if (!rules) return nullptr;
  return std::make_unique<ScriptedDevice>(std::move(*rules));
}

std::optional<std::vector<ScriptRule>> LoadScript(const std::string& path, std::string* error) {
  try {
    const toml::value root = toml::parse(path);
    if (!root.contains("rule") || !root.at("rule").is_array()) {
      Fail(root, "no rules", "[[rule]] tables");
    }
    std::vector<ScriptRule> rules;
    for (const toml::value& r : root.at("rule").as_array()) {
      ScriptRule rule;
      if (!r.is_table() || !r.contains("request") || !r.contains("reply")) {
        Fail(r, "a rule without request or reply", "request = \"...\" and reply = \"...\"");
      }
      rule.request = Bytes(r.at("request"));
      if (rule.request.empty()) Fail(r.at("request"), "empty request", "at least one byte");
      rule.any.assign(rule.request.size(), false);
      rule.reply = Bytes(r.at("reply"));
      if (r.contains("any")) {
        const toml::value& any = r.at("any");
        if (!any.is_array()) Fail(any, "any is not a list", "a list of request positions");
        for (const toml::value& i : any.as_array()) {
          if (!i.is_integer() || i.as_integer() < 0 ||
              static_cast<size_t>(i.as_integer()) >= rule.request.size()) {
            Fail(i, "position outside the request",
                 "0 to " + std::to_string(rule.request.size() - 1));
          }
          rule.any[static_cast<size_t>(i.as_integer())] = true;
        }
      }
      if (r.contains("checksum")) {
        const toml::value& c = r.at("checksum");
        if (c.is_array()) {
          for (const toml::value& s : c.as_array())
            rule.sums.push_back(ReadSum(s, rule.reply.size()));
        } else {
          rule.sums.push_back(ReadSum(c, rule.reply.size()));
        }
      }
      rules.push_back(std::move(rule));
    }
    return rules;
  } catch (const Mistake& m) {
    *error = m.text;
  } catch (const std::exception& e) {
    *error = e.what();
  }
  return std::nullopt;
}

}  // namespace qb::sim
