#include "tools/qmctl/pdu_command.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>

#include "sms/hex.h"
#include "sms/message.h"
#include "sms/pdu_decoder.h"
#include "sms/pdu_encoder.h"
#include "sms/pdu_inspect.h"
#include "sms/pdu_settings.h"
#include "tools/qmctl/json_text.h"

namespace qm {
namespace {

constexpr char kUsage[] =
    "Usage: qmctl pdu encode --to NUMBER --text TEXT [OPTIONS]\n"
    "       qmctl pdu decode [--assemble] HEX|- [HEX|-...]\n"
    "\n"
    "encode prints the SMS-SUBMIT PDUs of a message, one per line, in upper-case\n"
    "hexadecimal with the SMSC part first, as they go to the modem.\n"
    "  --to NUMBER          destination; a leading \"+\" makes it international\n"
    "  --text TEXT          message text (UTF-8); the indication text with --url\n"
    "  --flash              send as a flash (class 0) message\n"
    "  --report             request a status report\n"
    "  --validity SECONDS   validity period (default 86400)\n"
    "  --ton N              type of number of a NUMBER without \"+\"\n"
    "                       (default: 1 when longer than 8 characters, else 0)\n"
    "  --url URL            send a WAP push (Service Indication) pointing to URL\n"
    "  --smsc NUMBER        put this service centre into the PDU (default 00:\n"
    "                       the one stored in the modem)\n"
    "  --length-correction N  octets to leave unused per segment\n"
    "  --reference N        concatenation reference 0-255 (default random)\n"
    "\n"
    "decode prints one JSON object per PDU, one per line:\n"
    "  {\"kind\":\"sms\"|\"sr\",\"from\":...,\"text\":...,\"coding\":0|4|8,\"time\":EPOCH,\n"
    "   \"reference\":N,\"total\":N,\"part\":N,\"ported\":BOOL,\"message_reference\":N,\n"
    "   \"status\":N,\"discharge_time\":EPOCH}\n"
    "\"part\" counts from 0; times are seconds since 1970, the stamps read as local\n"
    "time. SMS-DELIVER, SMS-STATUS-REPORT (with or without SMSC part) and\n"
    "SMS-SUBMIT PDUs are read; a submit shows its destination as \"from\".\n"
    "Hexadecimal digits may be in either case; blanks are ignored.\n"
    "  --assemble           join the PDUs of one message and print one object\n"
    "                       (\"kind\" \"sms\", \"push\" or \"sr\"; \"url\" for a push)\n"
    "  -                    read PDUs from standard input, one per line\n"
    "A PDU that cannot be decoded prints {\"error\":\"...\"} in its place.\n"
    "\n"
    "Exit status: 0 success, 1 a PDU could not be decoded or the message\n"
    "cannot be encoded, 2 wrong usage.\n";

int Usage(std::FILE* err, std::string_view problem) {
  std::fprintf(err, "qmctl pdu: %.*s\n\n%s", static_cast<int>(problem.size()), problem.data(), kUsage);
  return 2;
}

template <typename Int>
bool ParseInt(std::string_view text, Int& out) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && ptr == end && !text.empty();
}

// "--name value" or "--name=value".
class Options {
 public:
  explicit Options(const std::vector<std::string>& args, std::size_t first) : args_(args), next_(first) {}

  bool Done() const { return next_ >= args_.size(); }
  std::string_view Peek() const { return args_[next_]; }

  // Takes the next argument as `--name` (a flag) when it matches.
  bool Flag(std::string_view name) {
    if (Peek() != name) return false;
    ++next_;
    return true;
  }

  // Takes the next argument as `--name value` or `--name=value`.
  bool Value(std::string_view name, std::optional<std::string>& out, std::string& error) {
    const std::string_view arg = Peek();
    if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
      out = std::string(arg.substr(name.size() + 1));
      ++next_;
      return true;
    }
    if (arg != name) return false;
    if (next_ + 1 >= args_.size()) {
      error = std::string(name) + " needs a value";
      return true;
    }
    out = args_[next_ + 1];
    next_ += 2;
    return true;
  }

  std::string TakePositional() { return args_[next_++]; }

 private:
  const std::vector<std::string>& args_;
  std::size_t next_;
};

int Encode(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  std::optional<std::string> to, text, validity, ton, url, smsc, correction, reference;
  bool flash = false;
  bool report = false;
  Options options(args, 1);
  std::string error;
  while (!options.Done()) {
    if (options.Flag("--help")) {
      std::fputs(kUsage, out);
      return 0;
    }
    if (options.Flag("--flash")) {
      flash = true;
    } else if (options.Flag("--report")) {
      report = true;
    } else if (!(options.Value("--to", to, error) || options.Value("--text", text, error) ||
                 options.Value("--validity", validity, error) || options.Value("--ton", ton, error) ||
                 options.Value("--url", url, error) || options.Value("--smsc", smsc, error) ||
                 options.Value("--length-correction", correction, error) ||
                 options.Value("--reference", reference, error))) {
      return Usage(err, "unknown argument '" + std::string(options.Peek()) + "'");
    }
    if (!error.empty()) return Usage(err, error);
  }
  if (!to) return Usage(err, "encode needs --to");
  if (!text) return Usage(err, "encode needs --text");

  int64_t validitySeconds = kDefaultValiditySeconds;
  int32_t typeOfNumber = 0;
  uint8_t concatReference = 0;
  PduSettings settings;
  if (validity && !ParseInt(*validity, validitySeconds)) return Usage(err, "--validity needs a number of seconds");
  if (ton && (!ParseInt(*ton, typeOfNumber) || typeOfNumber < 0 || typeOfNumber > 7)) {
    return Usage(err, "--ton needs a type of number 0-7");
  }
  if (reference && !ParseInt(*reference, concatReference)) return Usage(err, "--reference needs a number 0-255");
  if (correction && !ParseInt(*correction, settings.lengthCorrection)) {
    return Usage(err, "--length-correction needs a number");
  }
  if (smsc) {
    settings.smscAddress = *smsc;
    settings.smscAddressInPdu = true;
  }

  std::unique_ptr<SMSMessage> message;
  if (url) {
    message = std::make_unique<PushMessage>(std::string(), *to, *text, *url);
  } else {
    message = std::make_unique<SMSMessage>(std::string(), *to, *text);
  }
  if (!to->starts_with("+") && ton) message->toTon = typeOfNumber;
  message->flags = (flash ? kFlagFlash : 0u) | (report ? kFlagStatusReport : 0u);
  // Every validity at or below 0 encodes alike, as does every one above 63
  // weeks; within those bounds the 32-bit times cannot overflow.
  message->expires = static_cast<uint32_t>(static_cast<int64_t>(message->timestamp) +
                                           std::clamp<int64_t>(validitySeconds, -1, 64 * 7 * 86400));

  const SubmitPdus pdus = reference ? BuildSubmitPdus(*message, settings, concatReference)
                                    : BuildSubmitPdus(*message, settings);
  if (!pdus.ok()) {
    std::fprintf(err, "qmctl pdu encode: %s\n", pdus.error.c_str());
    return 1;
  }
  for (const SubmitPdu& pdu : pdus.pdus) std::fprintf(out, "%s\n", pdu.hex.c_str());
  return 0;
}

// One PDU given by the user: its octets, or why it is not a PDU.
struct Input {
  std::string bytes;
  std::string error;
};

Input ParseHex(std::string_view text) {
  std::string hex;
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') hex.push_back(c);
  }
  if (hex.empty()) return {{}, "empty PDU"};
  if (!std::all_of(hex.begin(), hex.end(), IsHexDigit)) {
    return {{}, "not hexadecimal"};
  }
  if (hex.size() % 2 != 0) return {{}, "odd number of hexadecimal digits"};
  return {HexToBytes(hex), {}};
}

void ReadLines(std::FILE* in, std::vector<Input>& inputs) {
  std::string line;
  int c;
  auto flush = [&] {
    if (line.find_first_not_of(" \t\r") != std::string::npos) inputs.push_back(ParseHex(line));
    line.clear();
  };
  while ((c = std::fgetc(in)) != EOF) {
    if (c == '\n') {
      flush();
    } else {
      line.push_back(static_cast<char>(c));
    }
  }
  flush();
}

void AddFields(Json& json, const DecodedPdu& pdu, int part) {
  json["coding"] = pdu.coding;
  json["time"] = pdu.time;
  json["reference"] = pdu.reference;
  json["total"] = pdu.total;
  json["part"] = part;
  json["ported"] = pdu.ported;
  json["message_reference"] = pdu.messageReference;
  json["status"] = pdu.status;
  json["discharge_time"] = pdu.dischargeTime;
}

std::string PduJson(const DecodedPdu& pdu) {
  Json json = {{"kind", pdu.kind == kKindStatusReport ? "sr" : "sms"}, {"from", pdu.from}, {"text", pdu.text}};
  AddFields(json, pdu, pdu.part);
  return JsonLine(json);
}

std::string ErrorJson(std::string_view error) { return JsonLine(Json{{"error", error}}); }

int Decode(const std::vector<std::string>& args, std::FILE* in, std::FILE* out, std::FILE* err) {
  bool assemble = false;
  std::vector<Input> inputs;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help") {
      std::fputs(kUsage, out);
      return 0;
    }
    if (arg == "--assemble") {
      assemble = true;
    } else if (arg == "-") {
      ReadLines(in, inputs);
    } else if (arg.starts_with("--")) {
      return Usage(err, "unknown argument '" + arg + "'");
    } else {
      inputs.push_back(ParseHex(arg));
    }
  }
  if (inputs.empty()) return Usage(err, "decode needs at least one PDU");

  int status = 0;
  std::vector<DecodedPdu> decoded;
  for (const Input& input : inputs) {
    std::string error = input.error;
    std::optional<DecodedPdu> pdu;
    if (error.empty()) pdu = DecodeAnyPdu(input.bytes, &error);
    if (!pdu) {
      std::fprintf(out, "%s\n", ErrorJson(error).c_str());
      status = 1;
      continue;
    }
    if (assemble) {
      decoded.push_back(*pdu);
    } else {
      std::fprintf(out, "%s\n", PduJson(*pdu).c_str());
    }
  }
  if (!assemble || status != 0) return status;

  std::stable_sort(decoded.begin(), decoded.end(),
                   [](const DecodedPdu& a, const DecodedPdu& b) { return a.part < b.part; });
  const std::unique_ptr<SMSMessage> message = AssembleMessage(decoded);
  if (!message) {
    std::fprintf(out, "%s\n", ErrorJson("the PDUs do not form a message").c_str());
    return 1;
  }
  Json json = {{"kind", message->KindName()}, {"from", message->from}, {"text", message->body}};
  if (message->Kind() == kKindPush) json["url"] = message->Url();
  AddFields(json, decoded.front(), 0);
  std::fprintf(out, "%s\n", JsonLine(json).c_str());
  return 0;
}

}  // namespace

int RunPduCommand(const std::vector<std::string>& args, std::FILE* in, std::FILE* out, std::FILE* err) {
  if (args.empty()) return Usage(err, "missing subcommand");
  if (args[0] == "--help" || args[0] == "help") {
    std::fputs(kUsage, out);
    return 0;
  }
  if (args[0] == "encode") return Encode(args, out, err);
  if (args[0] == "decode") return Decode(args, in, out, err);
  return Usage(err, "unknown subcommand '" + args[0] + "'");
}

}  // namespace qm
