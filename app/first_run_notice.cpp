#include "app/first_run_notice.h"

#include "app/instance_names.h"
#include "base/path_variables.h"
#include "platform/file_util.h"

namespace qm {

FirstRunFacts GatherFirstRunFacts(const ConfigStore& config, unsigned instance, bool serviceProfile) {
  FirstRunFacts facts;
  facts.instance = instance;
  const std::string port = config.GetString("modem.port");
  if (config.GetInt("modem.emulation") == 1) {
    facts.modem = "the built-in emulator";
  } else if (port.empty()) {
    facts.modem = "no modem yet (\"modem.port\" is empty)";
  } else {
    facts.modem = "the modem on " + port;
  }
  facts.log = InstanceLogPath(ExpandPathVariables(config.GetString("logger.common"), serviceProfile), instance);
  facts.tables = DirName(ExpandPathVariables(config.GetString("inbox.filename"), serviceProfile));
  const std::string status = config.GetString("status.file");
  if (!status.empty()) {
    facts.status = ExpandPathVariables(InstanceStatusPath(status, instance).value_or(status), serviceProfile);
  }
  return facts;
}

std::string FirstRunNotice(const FirstRunFacts& facts) {
  std::string text = std::string(kProductTitle) + " " QM_VERSION + TitleSuffix(facts.instance) + " is running on " +
                     facts.modem + ".\n";
  text += "  log:     " + facts.log + "\n";
  text += "  tables:  " + facts.tables + "/ (inbox, outbox, sent, failed)\n";
  if (!facts.status.empty()) text += "  status:  " + facts.status + "\n";
  const std::string ask = "qmctl status" + (facts.instance > 0 ? " --instance " + std::to_string(facts.instance) : "");
  text += "Ask it with \"" + ask + "\"; stop it with Ctrl+C.\n";
  return text;
}

}  // namespace qm
