// WAP push content: the WSP push PDU with a WBXML Service Indication that we
// send, and the decoding of received Service Indication and Service Loading
// documents. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// Transaction id, PDU type Push, content type application/vnd.wap.sic, WBXML
// 1.2 SI 1.0 UTF-8, then <si><indication href=URL>TEXT</indication></si>.
// "http://" (any case) and "https://" go as the href prefix tokens.
std::string EncodeServiceIndication(uint8_t transactionId, std::string_view text, std::string_view url);

struct WapPushContent {
  std::string text;  // the indication text; empty for Service Loading
  std::string url;
};

// A WSP push PDU carrying a Service Indication (0xAE) or Service Loading
// (0xB0) document. nullopt for any other content, a document without the
// indication (or sl) element and its href, or one that is cut short.
std::optional<WapPushContent> DecodeWapPush(std::string_view pdu);

}  // namespace qm
