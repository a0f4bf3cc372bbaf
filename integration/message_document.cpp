#include "integration/message_document.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/codepage.h"
#include "platform/utf.h"

namespace qm {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Takes the double-quoted "encoding" value out of the XML declaration and
// returns it. The attribute is removed because the text handed to the parser
// is already UTF-8. A single-quoted or unquoted value, or a declaration
// without its "?>", names nothing and stays as it is.
std::optional<std::string> TakeDeclaredEncoding(std::string& doc) {
  const std::size_t declStart = doc.find("<?xml");
  if (declStart == std::string::npos) return std::nullopt;
  const std::size_t declEnd = doc.find("?>", declStart);
  if (declEnd == std::string::npos) return std::nullopt;
  const std::size_t attrStart = doc.find("encoding", declStart);
  if (attrStart == std::string::npos || attrStart >= declEnd) return std::nullopt;
  std::size_t pos = attrStart + std::strlen("encoding");
  while (pos < declEnd && IsBlank(doc[pos])) ++pos;
  if (pos >= declEnd || doc[pos] != '=') return std::nullopt;
  ++pos;
  while (pos < declEnd && IsBlank(doc[pos])) ++pos;
  if (pos >= declEnd || doc[pos] != '"') return std::nullopt;
  const std::size_t closing = doc.find('"', pos + 1);
  if (closing == std::string::npos || closing >= declEnd) return std::nullopt;
  std::string name = doc.substr(pos + 1, closing - pos - 1);
  doc.erase(attrStart, closing + 1 - attrStart);
  return name;
}

// A character-set name as documents write it; anything else (a path, an
// iconv option suffix, binary junk) is not handed to iconv at all.
bool IsPlausibleCharsetName(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '_' || c == '.' || c == ':';
    if (!ok) return false;
  }
  return true;
}

// The document as well-formed UTF-8: converted from the declared set when
// iconv knows it, otherwise taken as UTF-8 with invalid bytes replaced.
std::string DocumentToUtf8(const std::string& doc, const std::optional<std::string>& charset) {
  if (charset && IsPlausibleCharsetName(*charset) && CanonicalCharsetName(*charset) != "UTF-8") {
    if (std::optional<std::string> converted = ToUtf8(doc, *charset)) return std::move(*converted);
  }
  return SanitizeUtf8(doc);
}

struct ContextFree {
  void operator()(xmlParserCtxt* ctxt) const { xmlFreeParserCtxt(ctxt); }
};
struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

void IgnoreStructuredError(void*, xmlError*) {}
void IgnoreGenericError(void*, const char*, ...) {}

// libxml2 reports errors that have no parser context through its per-thread
// generic handler, which prints to stderr; swap it out for one parse.
class QuietThreadErrors {
 public:
  QuietThreadErrors() : handler_(xmlGenericError), context_(xmlGenericErrorContext) {
    xmlSetGenericErrorFunc(nullptr, IgnoreGenericError);
  }
  ~QuietThreadErrors() { xmlSetGenericErrorFunc(context_, handler_); }
  QuietThreadErrors(const QuietThreadErrors&) = delete;
  QuietThreadErrors& operator=(const QuietThreadErrors&) = delete;

 private:
  xmlGenericErrorFunc handler_;
  void* context_;
};

// Recovery as the producers expect; never the network, never entity
// substitution (that is what reads SYSTEM entities), no size lifting (that is
// what lets entity expansion run away), no DTD loading. The declaration may
// still carry a single-quoted encoding: it is ignored, the text is UTF-8.
constexpr int kParseOptions =
    XML_PARSE_RECOVER | XML_PARSE_NONET | XML_PARSE_IGNORE_ENC | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

bool NameIs(const xmlChar* name, const char* expected) {
  return name != nullptr && std::strcmp(reinterpret_cast<const char*>(name), expected) == 0;
}

std::string Utf8Of(const xmlChar* text) {
  return text == nullptr ? std::string() : SanitizeUtf8(reinterpret_cast<const char*>(text));
}

// The attribute's literal text; a missing attribute is empty. Entity
// references inside the value are left out rather than expanded, so a value
// never grows beyond what the document spells out.
std::string Attribute(const xmlNode* node, const char* name) {
  for (const xmlAttr* attr = node->properties; attr != nullptr; attr = attr->next) {
    if (!NameIs(attr->name, name)) continue;
    std::string value;
    for (const xmlNode* part = attr->children; part != nullptr; part = part->next) {
      if (part->type == XML_TEXT_NODE) value += Utf8Of(part->content);
    }
    return value;
  }
  return {};
}

// The element's text: its first child, only when that is a text node (a
// CDATA section or an entity reference there gives no text).
std::string FirstChildText(const xmlNode* node) {
  const xmlNode* first = node->children;
  return first != nullptr && first->type == XML_TEXT_NODE ? Utf8Of(first->content) : std::string();
}

bool IsFlagSet(const std::string& value) { return !value.empty() && value != "false" && value != "0"; }

// A decimal time stamp read from its leading digits after blanks: no digits
// gives 0 (every inbox row is newer), a negative number gives 0, and a number
// beyond 64 bits stays at the largest value (no row is newer).
uint64_t LeadingDecimal(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  uint64_t value = 0;
  bool anyDigit = false;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    anyDigit = true;
    const uint64_t digit = static_cast<uint64_t>(text[pos] - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
      value = std::numeric_limits<uint64_t>::max();
    } else {
      value = value * 10 + digit;
    }
  }
  return negative && anyDigit ? 0 : value;
}

void ReadMessage(const xmlNode* node, MessageDocument& out) {
  std::string msisdn = Attribute(node, "msisdn");
  if (msisdn.empty()) return;
  std::string url = Attribute(node, "url");
  std::string text = FirstChildText(node);
  std::unique_ptr<SMSMessage> message;
  if (url.empty()) {
    message = std::make_unique<SMSMessage>("", std::move(msisdn), std::move(text));
  } else {
    message = std::make_unique<PushMessage>("", std::move(msisdn), std::move(text), std::move(url));
  }
  if (IsFlagSet(Attribute(node, "flash"))) message->flags |= kFlagFlash;
  if (IsFlagSet(Attribute(node, "report"))) message->flags |= kFlagStatusReport;
  message->custom = Attribute(node, "custom");
  out.items.push_back(std::move(message));
}

void ReadRequests(const xmlNode* messages, MessageDocument& out) {
  for (const xmlNode* node = messages->children; node != nullptr; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    if (NameIs(node->name, "message")) {
      ReadMessage(node, out);
    } else if (NameIs(node->name, "ussd")) {
      out.items.push_back(std::make_unique<USSDRequest>(FirstChildText(node)));
    } else if (NameIs(node->name, "handle")) {
      std::string custom = Attribute(node, "custom");
      if (!custom.empty()) out.replays.push_back({ReplayKind::kHandle, std::move(custom), 0});
    } else if (NameIs(node->name, "handle_received")) {
      out.replays.push_back({ReplayKind::kHandleReceived, {}, LeadingDecimal(Attribute(node, "timestamp"))});
    }
  }
}

}  // namespace

MessageDocument ParseMessageDocument(std::string_view name, std::string_view bytes) {
  MessageDocument result;
  std::string doc(bytes);
  if (doc.starts_with(kUtf8Bom)) doc.erase(0, kUtf8Bom.size());
  if (doc.find("<?xml") == std::string::npos && doc.find("<messages>") == std::string::npos) {
    doc = "<messages>" + doc + "</messages>";
  }
  const std::optional<std::string> charset = TakeDeclaredEncoding(doc);
  const std::string utf8 = DocumentToUtf8(doc, charset);
  if (utf8.size() > static_cast<std::size_t>(INT_MAX)) {
    result.status = DocumentStatus::kNotParsed;
    return result;
  }

  // Global set-up of the library; unsafe to race, so done once.
  static std::once_flag initialized;
  std::call_once(initialized, [] { xmlInitParser(); });

  QuietThreadErrors quiet;
  const std::unique_ptr<xmlParserCtxt, ContextFree> ctxt(xmlNewParserCtxt());
  if (ctxt == nullptr || ctxt->sax == nullptr) {
    result.status = DocumentStatus::kParserUnavailable;
    return result;
  }
  ctxt->sax->serror = IgnoreStructuredError;
  const std::string url(name.data(), name.size());
  const std::unique_ptr<xmlDoc, DocFree> xml(
      xmlCtxtReadMemory(ctxt.get(), utf8.data(), static_cast<int>(utf8.size()), url.c_str(), "UTF-8", kParseOptions));
  if (xml == nullptr) {
    result.status = DocumentStatus::kNotParsed;
    return result;
  }
  for (const xmlNode* node = xml->children; node != nullptr; node = node->next) {
    if (node->type == XML_ELEMENT_NODE && NameIs(node->name, "messages")) {
      ReadRequests(node, result);
      break;
    }
  }
  return result;
}

}  // namespace qm
