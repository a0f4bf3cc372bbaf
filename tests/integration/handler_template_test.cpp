// Handler templates filled with message values, the handlers' filters, and
// the handler list as the configuration holds it.
#include "integration/handler_template.h"

#include <gtest/gtest.h>

#include "base/config_store.h"
#include "base/logger.h"
#include "integration/cmdline_handler.h"
#include "integration/handler_list.h"
#include "integration/url_handler.h"
#include "integration/worker_pool.h"

namespace qm {
namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

std::string EnvValue(const Env& env, const std::string& name) {
  for (const auto& [key, value] : env) {
    if (key == name) return value;
  }
  return "<unset>";
}

SMSMessage Message() {
  SMSMessage message("+4917011111", "+4917022222", "a<b|\"c\"'d\r\nnext", 4000000000u);
  message.reference = 77;
  message.custom = "order 5";
  message.timestamp = 1700000000;
  return message;
}

TEST(HandlerTemplate, CommandsReferToValuesQuotedForWhereTheyStand) {
  const HandlerValues values = ValuesOf(Message(), HandlerStatus::kSent, 0);
  EXPECT_EQ(values.internalId, "4000000000");
  EXPECT_EQ(values.id, "77");
  EXPECT_EQ(values.status, "sent");
  EXPECT_EQ(values.date.size(), 19u);  // %Y-%m-%d %H:%M:%S

  const ShellTemplate filled =
      FillShellTemplate("log _FROM_ \"to _TO_ _INTERNALID_/_ID_\" 'body _BODY_' x_STATUS_y \\_BODY_", values);
  EXPECT_EQ(filled.script,
            "log \"${QM_FROM}\" \"to ${QM_TO} ${QM_INTERNALID}/${QM_ID}\" 'body '\"${QM_BODY}\"'' "
            "x\"${QM_STATUS}\"y \\_BODY_");
  // The text keeps its line breaks as %0d%0a and doubles "'"; nothing else.
  EXPECT_EQ(EnvValue(filled.environment, "QM_BODY"), "a<b|\"c\"''d%0d%0anext");
  EXPECT_EQ(EnvValue(filled.environment, "QM_ERROR"), EnvValue(filled.environment, "QM_BODY"));
  EXPECT_EQ(EnvValue(filled.environment, "QM_CUSTOM"), "order 5");

  // A received message has no status: the placeholder stays as written, and
  // a value that names a placeholder is never filled in again.
  SMSMessage tricky = Message();
  tricky.from = "_BODY_";
  const ShellTemplate received = FillShellTemplate("echo _STATUS_ _FROM_", ValuesOf(tricky, HandlerStatus::kNone, 0));
  EXPECT_EQ(received.script, "echo _STATUS_ \"${QM_FROM}\"");
  EXPECT_EQ(EnvValue(received.environment, "QM_FROM"), "_BODY_");
}

TEST(HandlerTemplate, UrlsCarryEveryValueEncodedSoNoneSplitsTheRequest) {
  EXPECT_EQ(UrlEncode("Hello world, 100%"), "Hello+world,+100%25");
  EXPECT_EQ(UrlEncode("+49 \xC3\xA9$-.!*'()"), "%2b49+%c3%a9$-.!*'()");
  SMSMessage message = Message();
  message.custom = "a b\r\nHost: evil";
  const std::string url =
      FillUrlTemplate("http://h/p?f=_FROM_&b=_BODY_&c=_CUSTOM_&i=_INTERNALID_&s=_STATUS_&d=_DATE_&x=_TIMESTAMP_",
                      ValuesOf(message, HandlerStatus::kDelivered, 0));
  const std::string date = ValuesOf(message, HandlerStatus::kDelivered, 0).date;
  EXPECT_EQ(url, "http://h/p?f=%2b4917011111&b=a%3cb%7c%22c%22'd%250d%250anext&c=a%20b%0d%0aHost:%20evil"
                 "&i=4000000000&s=delivered&d=" + date.substr(0, 10) + "%20" + date.substr(11) + "&x=1700000000");
  EXPECT_EQ(url.find_first_of(" \r\n"), std::string::npos);
}

TEST(HandlerList, LoadsTheConfiguredKindsMatchesAndSavesThemBack) {
  ConfigStore config;
  config.LoadFromText(
      "handler.0.type=cmdline\nhandler.0.name=crm\nhandler.0.cmd=crm _BODY_\nhandler.0.path=/tmp\n"
      "handler.0.body_filter=ABC\nhandler.0.log=1\n"
      "handler.1.type=COM\nhandler.1.name=subscriber\n"
      "handler.2.type=url\nhandler.2.name=hook\nhandler.2.url=http://h/_BODY_\nhandler.2.event=2\n"
      "handler.2.inactive=1\n"
      "handler.3.type=\nhandler.4.type=cmdline\nhandler.4.name=after the end\n");
  Logger log("", nullptr);
  WorkerPool pool(1, 1);
  HandlerList list(HandlerServices{log, config, pool, {}, {}});
  list.Load(config);
  const auto handlers = list.Snapshot();
  ASSERT_EQ(handlers.size(), 2u);
  EXPECT_EQ(handlers[0]->TypeName(), "cmdline");
  EXPECT_EQ(static_cast<const CmdLineSMSHandler&>(*handlers[0]).path, "/tmp");
  EXPECT_EQ(handlers[1]->TypeName(), "url");
  EXPECT_EQ(handlers[1]->event, HandlerEvent::kDelivery);

  SMSMessage message = Message();
  message.body = "xabcx";
  EXPECT_TRUE(handlers[0]->Matches(message));
  message.body = "xab cx";
  EXPECT_FALSE(handlers[0]->Matches(message));
  EXPECT_FALSE(handlers[1]->Matches(message));  // inactive
  handlers[1]->active = true;
  EXPECT_TRUE(handlers[1]->Matches(message));  // no filters
  handlers[0]->bodyFilter = "\xD0\x9F\xD0\xA0\xD0\x98";  // ПРИ
  message.body = "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";  // привет
  EXPECT_TRUE(handlers[0]->Matches(message));

  ConfigStore saved;
  list.Save(saved);
  EXPECT_EQ(saved.GetString("handler.1.type"), "url");
  EXPECT_EQ(saved.GetString("handler.1.url"), "http://h/_BODY_");
  EXPECT_EQ(saved.GetString("handler.1.inactive"), "0");
  EXPECT_EQ(saved.GetString("handler.2.type"), "");
  HandlerList reloaded(HandlerServices{log, config, pool, {}, {}});
  reloaded.Load(saved);
  ASSERT_EQ(reloaded.Snapshot().size(), 2u);
  EXPECT_EQ(static_cast<const CmdLineSMSHandler&>(*reloaded.Snapshot()[0]).cmd, "crm _BODY_");
}

}  // namespace
}  // namespace qm
