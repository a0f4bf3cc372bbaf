#include "sms/wap_push.h"

#include <array>

#include "platform/utf.h"

namespace qm {
namespace {

constexpr uint8_t kContentTypeSic = 0xAE;  // application/vnd.wap.sic
constexpr uint8_t kContentTypeSlc = 0xB0;  // application/vnd.wap.slc
constexpr uint32_t kCharsetLatin1 = 4;

// WBXML global tokens.
constexpr uint8_t kSwitchPage = 0x00;
constexpr uint8_t kEnd = 0x01;
constexpr uint8_t kEntity = 0x02;
constexpr uint8_t kStrI = 0x03;
constexpr uint8_t kLiteral = 0x04;
constexpr uint8_t kPi = 0x43;
constexpr uint8_t kStrT = 0x83;
constexpr uint8_t kOpaque = 0xC3;
constexpr uint8_t kHasAttributes = 0x80;
constexpr uint8_t kHasContent = 0x40;

constexpr uint8_t kTagIndication = 0x06;  // SI code page 0
constexpr uint8_t kTagSl = 0x05;          // SL code page 0

struct Prefix {
  uint8_t token;
  std::string_view text;
};
// href attribute start tokens and the URL prefix each stands for.
constexpr std::array<Prefix, 5> kSiHref = {{
    {0x0B, ""}, {0x0C, "http://"}, {0x0D, "http://www."}, {0x0E, "https://"}, {0x0F, "https://www."},
}};
constexpr std::array<Prefix, 5> kSlHref = {{
    {0x08, ""}, {0x09, "http://"}, {0x0A, "http://www."}, {0x0B, "https://"}, {0x0C, "https://www."},
}};
// Attribute value tokens shared by SI and SL.
constexpr std::array<Prefix, 4> kValueTokens = {{
    {0x85, ".com/"}, {0x86, ".edu/"}, {0x87, ".net/"}, {0x88, ".org/"},
}};

const Prefix* Find(const Prefix* begin, const Prefix* end, uint8_t token) {
  for (const Prefix* p = begin; p != end; ++p) {
    if (p->token == token) return p;
  }
  return nullptr;
}

bool IsExtensionI(uint8_t t) { return t >= 0x40 && t <= 0x42; }  // EXT_I_0..2: inline string
bool IsExtensionT(uint8_t t) { return t >= 0x80 && t <= 0x82; }  // EXT_T_0..2: integer
bool IsLiteralTag(uint8_t t) { return (t & 0x3F) == kLiteral; }

// A bounds-checked walk over a WBXML document: every read fails at the end of
// the data rather than reading past it.
class Wbxml {
 public:
  explicit Wbxml(std::string_view data) : data_(data) {}

  bool Byte(uint8_t& out) {
    if (pos_ >= data_.size()) return false;
    out = static_cast<uint8_t>(data_[pos_++]);
    return true;
  }

  // A multi-byte unsigned integer (7 bits per octet, high bit = more).
  bool MbUint(uint32_t& out) {
    out = 0;
    for (int i = 0; i < 5; ++i) {
      uint8_t b = 0;
      if (!Byte(b)) return false;
      out = (out << 7) | (b & 0x7F);
      if ((b & 0x80) == 0) return true;
    }
    return false;
  }

  bool Take(uint32_t n, std::string_view& out) {
    if (n > data_.size() - pos_) return false;
    out = data_.substr(pos_, n);
    pos_ += n;
    return true;
  }

  // An inline string: everything up to its terminating 00.
  bool InlineString(std::string_view& out) {
    const std::size_t end = data_.find('\0', pos_);
    if (end == std::string_view::npos) return false;
    out = data_.substr(pos_, end - pos_);
    pos_ = end + 1;
    return true;
  }

 private:
  std::string_view data_;
  std::size_t pos_ = 0;
};

class Document {
 public:
  explicit Document(std::string_view data) : in_(data) {}

  bool ReadHeader() {
    uint8_t version = 0;
    uint32_t publicId = 0;
    uint32_t ignored = 0;
    uint32_t tableLength = 0;
    if (!in_.Byte(version) || !in_.MbUint(publicId)) return false;
    if (publicId == 0 && !in_.MbUint(ignored)) return false;  // public id as a string-table index
    if (version >= 1 && !in_.MbUint(charset_)) return false;
    return in_.MbUint(tableLength) && in_.Take(tableLength, stringTable_);
  }

  // Moves past the first element start with tag `tag` and returns its token.
  bool FindElement(uint8_t tag, uint8_t& token) {
    for (;;) {
      if (!in_.Byte(token)) return false;
      if (IsElement(token) && !IsLiteralTag(token) && (token & 0x3F) == tag) return true;
      if (!SkipToken(token)) return false;
    }
  }

  // Reads an attribute list to its END. The value of the first attribute
  // whose start token is in [begin, end) goes to `url`, behind its prefix.
  bool ReadAttributes(const Prefix* begin, const Prefix* end, std::optional<std::string>& url) {
    bool capturing = false;
    std::string value;
    for (;;) {
      uint8_t t = 0;
      if (!in_.Byte(t)) return false;
      if (t == kEnd || t == kLiteral || (t < 0x80 && !IsGlobal(t))) {
        // An attribute start (or the end of the list) ends the value before it.
        if (capturing) url = value;
        capturing = false;
        if (t == kEnd) return true;
        if (t == kLiteral) {
          uint32_t index = 0;
          if (!in_.MbUint(index)) return false;
          continue;
        }
        if (const Prefix* p = Find(begin, end, t); p != nullptr && !url) {
          capturing = true;
          value.assign(p->text);
        }
        continue;
      }
      std::string piece;
      if (!ReadValue(t, piece)) return false;
      if (!capturing) continue;
      if (const Prefix* p = Find(kValueTokens.data(), kValueTokens.data() + kValueTokens.size(), t)) {
        value.append(p->text);
      } else {
        value += piece;
      }
    }
  }

  // Reads an element's content to its END; the text directly inside it goes
  // to `text`, nested elements are passed over.
  bool ReadContent(std::string& text) {
    int depth = 0;
    for (;;) {
      uint8_t t = 0;
      if (!in_.Byte(t)) return false;
      if (t == kEnd) {
        if (depth == 0) return true;
        --depth;
        continue;
      }
      if (IsElement(t)) {
        if (!SkipElementStart(t)) return false;
        if (t & kHasContent) ++depth;
        continue;
      }
      if (t == kPi) {
        if (!SkipAttributes()) return false;
        continue;
      }
      std::string piece;
      if (!ReadValue(t, piece)) return false;
      if (depth == 0) text += piece;
    }
  }

 private:
  // Global tokens below 0x80 (the rest of 0x00..0x7F starts an attribute).
  static bool IsGlobal(uint8_t t) { return t <= kLiteral || IsExtensionI(t) || t == kPi; }
  // An element start: a tag (low six bits 05..3F) or a literal tag.
  static bool IsElement(uint8_t t) { return (t & 0x3F) >= 0x05 || IsLiteralTag(t); }

  // A token that carries data (string, entity, opaque, extension) or a value
  // token; strings and entities go to `piece` as UTF-8.
  bool ReadValue(uint8_t t, std::string& piece) {
    std::string_view s;
    uint32_t n = 0;
    switch (t) {
      case kSwitchPage:
        return in_.Take(1, s);
      case kStrI:
        if (!in_.InlineString(s)) return false;
        piece = ToText(s);
        return true;
      case kStrT:
        if (!in_.MbUint(n) || n >= stringTable_.size()) return false;
        s = stringTable_.substr(n);
        piece = ToText(s.substr(0, s.find('\0')));
        return true;
      case kEntity:
        if (!in_.MbUint(n)) return false;
        piece = CodePointToUtf8(n);
        return true;
      case kOpaque:
        return in_.MbUint(n) && in_.Take(n, s);
      case kPi:
        return false;  // never inside an attribute list; elsewhere handled apart
      default:
        break;
    }
    if (IsExtensionI(t)) return in_.InlineString(s);
    if (IsExtensionT(t)) return in_.MbUint(n);
    return true;  // EXT_0..2 and attribute value tokens carry no data
  }

  bool SkipAttributes() {
    std::optional<std::string> ignored;
    return ReadAttributes(nullptr, nullptr, ignored);
  }

  // The rest of an element start: a literal tag's index, its attributes.
  bool SkipElementStart(uint8_t t) {
    uint32_t index = 0;
    if (IsLiteralTag(t) && !in_.MbUint(index)) return false;
    return (t & kHasAttributes) == 0 || SkipAttributes();
  }

  bool SkipToken(uint8_t t) {
    if (t == kEnd) return true;
    if (IsElement(t)) return SkipElementStart(t);
    if (t == kPi) return SkipAttributes();
    std::string ignored;
    return ReadValue(t, ignored);
  }

  std::string ToText(std::string_view bytes) const {
    return charset_ == kCharsetLatin1 ? BytesToLatin1Utf8(bytes) : SanitizeUtf8(bytes);
  }

  static std::string CodePointToUtf8(uint32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    std::u16string units;
    if (cp >= 0x10000) {
      units.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(cp));
    }
    return Utf16ToUtf8(units);
  }

  Wbxml in_;
  uint32_t charset_ = 106;
  std::string_view stringTable_;
};

std::optional<WapPushContent> DecodeServiceIndication(std::string_view body) {
  Document doc(body);
  uint8_t token = 0;
  if (!doc.ReadHeader() || !doc.FindElement(kTagIndication, token)) return std::nullopt;
  std::optional<std::string> url;
  if ((token & kHasAttributes) && !doc.ReadAttributes(kSiHref.data(), kSiHref.data() + kSiHref.size(), url)) return std::nullopt;
  if (!url) return std::nullopt;
  WapPushContent content;
  content.url = std::move(*url);
  if ((token & kHasContent) && !doc.ReadContent(content.text)) return std::nullopt;
  return content;
}

std::optional<WapPushContent> DecodeServiceLoading(std::string_view body) {
  Document doc(body);
  uint8_t token = 0;
  if (!doc.ReadHeader() || !doc.FindElement(kTagSl, token) || !(token & kHasAttributes)) return std::nullopt;
  std::optional<std::string> url;
  if (!doc.ReadAttributes(kSlHref.data(), kSlHref.data() + kSlHref.size(), url) || !url) return std::nullopt;
  WapPushContent content;
  content.url = std::move(*url);
  return content;
}

}  // namespace

std::string EncodeServiceIndication(uint8_t transactionId, std::string_view text, std::string_view url) {
  std::string out;
  out.reserve(16 + text.size() + url.size());
  out.push_back(static_cast<char>(transactionId));
  out.append("\x06\x01\xAE", 3);      // Push, headers length 1, application/vnd.wap.sic
  out.append("\x02\x05\x6A\x00", 4);  // WBXML 1.2, SI 1.0, UTF-8, no string table
  out.append("\x45\xC6", 2);          // <si>, <indication with attributes and content
  if (StartsWithIgnoreCase(url, "http://")) {
    out.push_back(0x0C);
    url.remove_prefix(7);
  } else if (StartsWithIgnoreCase(url, "https://")) {
    out.push_back(0x0E);
    url.remove_prefix(8);
  } else {
    out.push_back(0x0B);
  }
  out.push_back(static_cast<char>(kStrI));
  out.append(url);
  out.push_back('\0');
  out.append("\x01\x03", 2);  // end of attributes, the text as an inline string
  out.append(text);
  out.push_back('\0');
  out.append("\x01\x01", 2);  // </indication></si>
  return out;
}

std::optional<WapPushContent> DecodeWapPush(std::string_view pdu) {
  if (pdu.size() < 3) return std::nullopt;
  const std::size_t headersLength = static_cast<uint8_t>(pdu[2]);
  if (pdu.size() < headersLength + 3) return std::nullopt;
  const std::string_view headers = pdu.substr(3, headersLength);
  const std::string_view body = pdu.substr(3 + headersLength);
  uint8_t contentType = 0;
  if (!headers.empty()) {
    const auto first = static_cast<uint8_t>(headers[0]);
    if (first >= 0x80) {
      contentType = first;
    } else if (first < 0x20 && headers.size() >= 2) {
      contentType = static_cast<uint8_t>(headers[1]);
    }
  }
  if (contentType == kContentTypeSic) return DecodeServiceIndication(body);
  if (contentType == kContentTypeSlc) return DecodeServiceLoading(body);
  return std::nullopt;
}

}  // namespace qm
