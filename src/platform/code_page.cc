#include "platform/code_page.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace qb {
namespace {

std::string EnvironmentCharset() {
  locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (loc == static_cast<locale_t>(nullptr)) return "ANSI_X3.4-1968";
  std::string name = nl_langinfo_l(CODESET, loc);
  freelocale(loc);
  return name.empty() ? "ANSI_X3.4-1968" : name;
}

bool IsAsciiName(const std::string& n) {
  return n == "ANSI_X3.4-1968" || n == "ASCII" || n == "US-ASCII" || n == "C" || n == "POSIX";
}

bool IsUtf8Name(const std::string& n) {
  return n == "UTF-8" || n == "utf-8" || n == "UTF8" || n == "utf8";
}

// RAII holder of an iconv conversion descriptor.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

// Length of the UTF-8 sequence at text[i], or 0 when it is not a valid one; cp receives its value.
size_t DecodeUtf8(std::string_view text, size_t i, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  size_t n;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    n = 2;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    n = 3;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    n = 4;
    cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

CodePage::CodePage() : CodePage(EnvironmentCharset()) {}

CodePage::CodePage(std::string charsetName) {
  if (!Select(std::move(charsetName))) Select("ANSI_X3.4-1968");
}

bool CodePage::Select(std::string charsetName) {
  if (charsetName.empty()) return false;
  if (!IsAsciiName(charsetName)) {
    Iconv probe("UTF-16LE", charsetName.c_str());
    if (!probe.ok()) return false;
  }
  name_ = std::move(charsetName);
  asciiOnly_ = IsAsciiName(name_);
  utf8_ = IsUtf8Name(name_);
  return true;
}

std::u16string CodePage::ToWide(std::string_view bytes) const {
  std::u16string out;
  out.reserve(bytes.size());
  bool plain = true;
  for (char c : bytes) plain = plain && static_cast<unsigned char>(c) < 0x80;
  if (plain || asciiOnly_) {
    for (char c : bytes) out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
  }
  if (utf8_) {
    for (size_t i = 0; i < bytes.size();) {
      char32_t cp;
      const size_t n = DecodeUtf8(bytes, i, cp);
      if (n == 0) {
        out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]));
        ++i;
      } else {
        AppendUtf16(out, cp);
        i += n;
      }
    }
    return out;
  }
  Iconv cd("UTF-16LE", name_.c_str());
  if (!cd.ok()) {
    for (char c : bytes) out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
  }
  std::vector<char> in(bytes.begin(), bytes.end());
  char* inPtr = in.data();
  size_t inLeft = in.size();
  const char* failedAt = nullptr;  // where the last conversion stopped on a byte
  while (inLeft > 0) {
    char buf[64];
    char* outPtr = buf;
    size_t outLeft = sizeof buf;
    const size_t r = iconv(cd.get(), &inPtr, &inLeft, &outPtr, &outLeft);
    for (char* p = buf; p + 1 < outPtr; p += 2) {
      out += static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                   (static_cast<unsigned char>(p[1]) << 8));
    }
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
      // EILSEQ or EINVAL. glibc's CP949 reports a double-byte code it cannot map after it has
      // consumed it (dropped, possibly with nothing left), so a byte counts as not converting
      // only when a second try stops at the same place: then it keeps its value and the
      // conversion goes on after it.
      if (inPtr == failedAt && inLeft > 0) {
        out += static_cast<char16_t>(static_cast<unsigned char>(*inPtr));
        ++inPtr;
        --inLeft;
      }
      failedAt = inPtr;
    }
  }
  return out;
}

std::string CodePage::ToBytes(std::u16string_view text) const {
  std::string out;
  out.reserve(text.size());
  bool plain = true;
  for (char16_t c : text) plain = plain && c < 0x80;
  if (plain || asciiOnly_) {
    for (char16_t c : text) out += static_cast<char>(c & 0xFF);
    return out;
  }
  if (utf8_) return Utf16ToUtf8(text);
  Iconv cd(name_.c_str(), "UTF-16LE");
  if (!cd.ok()) {
    for (char16_t c : text) out += static_cast<char>(c & 0xFF);
    return out;
  }
  // One character at a time, so that a character that does not convert falls back on its own.
  for (size_t i = 0; i < text.size(); ++i) {
    char in[4];
    size_t units = 1;
    if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      units = 2;
    }
    for (size_t k = 0; k < units; ++k) {
      in[2 * k] = static_cast<char>(text[i + k] & 0xFF);
      in[2 * k + 1] = static_cast<char>(text[i + k] >> 8);
    }
    char* inPtr = in;
    size_t inLeft = 2 * units;
    char buf[16];
    char* outPtr = buf;
    size_t outLeft = sizeof buf;
    if (iconv(cd.get(), &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
      iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
      out += static_cast<char>(text[i] & 0xFF);
    } else {
      out.append(buf, outPtr);
      i += units - 1;
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t cp;
    const size_t n = DecodeUtf8(text, i, cp);
    if (n == 0) {
      out += u'\uFFFD';
      ++i;
    } else {
      AppendUtf16(out, cp);
      i += n;
    }
  }
  return out;
}

size_t WideLength(const char16_t* text) {
  if (text == nullptr) return 0;
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

std::u16string_view WideView(const char16_t* text) {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text, WideLength(text));
}

}  // namespace qb
