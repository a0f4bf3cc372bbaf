#include "app/startup.h"

#include <cstdio>

#include <unistd.h>

#include <iostream>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/config_locations.h"
#include "app/first_run_notice.h"
#include "app/information_switches.h"
#include "app/instance_names.h"
#include "app/main_frame.h"
#include "app/message_box.h"
#include "app/notifier.h"
#include "app/one_shot_actions.h"
#include "app/port_wizard.h"
#include "app/sms_source_thread.h"
#include "base/config_store.h"
#include "base/logger.h"
#include "base/path_variables.h"
#include "gateway/command_queue_sink.h"
#include "gateway/driver_counters.h"
#include "gateway/driver_timers.h"
#include "com/automation_server.h"
#include "gateway/gateway.h"
#include "gateway/service_thread.h"
#include "integration/handler_events.h"
#include "integration/handler_list.h"
#include "integration/http_client.h"
#include "integration/message_replay.h"
#include "integration/source_list.h"
#include "integration/worker_pool.h"
#include "modem/async_serial_emulator.h"
#include "modem/modem_sender.h"
#include "platform/autostart.h"
#include "platform/desktop_notifications.h"
#include "platform/environment.h"
#include "platform/file_util.h"
#include "platform/instance_lock.h"
#include "platform/key_store.h"
#include "platform/signals.h"
#include "platform/systemd_unit.h"
#include "sms/message.h"
#include "storage/table_setup.h"
#include "web/session_token.h"
#include "web/web_server.h"

namespace qm {
namespace {

std::unique_ptr<Logger> CreateLogger(const ConfigStore& config, unsigned instance, bool serviceProfile) {
  const std::string path =
      InstanceLogPath(ExpandPathVariables(config.GetString("logger.common"), serviceProfile), instance);
  if (!path.empty()) MakeDirectories(DirName(path), 0700);
  auto log = std::make_unique<Logger>(path, &config);
  const int threshold = Logger::ThresholdForLevel(config.GetInt("logger.level"));
  if (threshold >= 0) log->SetLevel(threshold);
  log->SetMaxSizeKb(static_cast<uint32_t>(std::max(config.GetInt("logger.maxsize"), 0)));
  return log;
}

constexpr std::size_t kRequestWorkers = 4;
constexpr std::size_t kRequestQueueLimit = 1000;

// Everything the driver keeps running between start-up and exit. Members are
// built in order and destroyed in reverse, after the threads have stopped.
class Driver {
 public:
  Driver(const StartupOptions& options, std::string programFolder)
      : options_(options),
        programFolder_(std::move(programFolder)),
        appName_(ApplicationName(options.instance)),
        locations_(MakeConfigLocations(options.instance, programFolder_, options.serviceProfile)) {}

  ~Driver() { SetMessageBoxLogger(nullptr); }

  bool Initialise();
  int InstallOrUninstall();
  int Run();

 private:
  bool TrayMode() const { return !options_.service; }
  void StartThreads();
  void StopThreads();
  void SaveEverything();

  const StartupOptions options_;
  const std::string programFolder_;
  const std::string appName_;
  const ConfigLocations locations_;

  ConfigStore config_;
  TableSet tables_;
  std::unique_ptr<Logger> log_;
  CommandQueue commands_;
  CommandQueueSink modemEvents_{commands_};
  std::unique_ptr<AsyncSerialComm> transport_;
  std::unique_ptr<ModemSender> sender_;
  std::unique_ptr<DesktopNotifications> notifications_;
  std::unique_ptr<Notifier> notifier_;
  std::unique_ptr<DriverTimers> timers_;
  DriverCounters counters_;
  std::unique_ptr<CMainFrame> frame_;
  std::unique_ptr<WorkerPool> requests_;
  std::unique_ptr<HandlerList> handlers_;
  std::unique_ptr<HandlerEvents> handlerEvents_;
  std::unique_ptr<MessageReplay> replay_;
  std::unique_ptr<SourceList> sources_;
  std::unique_ptr<AutomationServer> automation_;
  std::unique_ptr<WebServer> web_;
  std::unique_ptr<Gateway> gateway_;
  std::unique_ptr<CServiceThread> commandThread_;
  std::unique_ptr<SMSSourceThread> sourceThread_;
};

bool Driver::Initialise() {
  if (!LoadConfiguration(config_, locations_)) return false;

  std::string error;
  std::vector<std::string> tableNotices;
  if (!InitialiseTables(config_, options_.instance, options_.serviceProfile, tables_, error, &tableNotices)) {
    ShowMessageBox("Error", error);
    return false;
  }
  message_ids::SetNext(int64_t{config_.GetInt("message.id")} + 1);
  SetAutoTonSettings(AutoTonSettings{config_.GetInt("auto_ton.length"), config_.GetInt("auto_ton.long"),
                                     config_.GetInt("auto_ton.short")});

  log_ = CreateLogger(config_, options_.instance, options_.serviceProfile);
  SetMessageBoxLogger(log_.get());
  for (const std::string& notice : tableNotices) log_->Write(LogLevel::kError, notice);

  if (config_.GetInt("modem.emulation") == 1) {
    transport_ = std::make_unique<AsyncSerialEmulator>(config_, *log_, modemEvents_);
  } else {
    transport_ = std::make_unique<AsyncSerialComm>(config_, *log_);
  }
  sender_ = std::make_unique<ModemSender>(*transport_, modemEvents_, *log_);
  transport_->SetReplyTimeout(static_cast<uint32_t>(std::max(config_.GetInt("sender.timeout"), 0)));

  config_.SetInt("autostart", AutostartQuery(appName_) ? 1 : 0);
  return true;
}

int Driver::InstallOrUninstall() {
  const ServiceResult result = options_.install
                                   ? InstallService(ServiceUnitRequest{appName_, options_.instance, {}, programFolder_})
                                   : UninstallService(appName_);
  for (const ServiceLogLine& line : result.log) log_->Write(line.level, line.text);
  return 0;
}

void Driver::StartThreads() {
  // The reader of received messages listens before the port is read, so
  // that nothing the modem says first is missed.
  gateway_->StartReader();
  transport_->StartReader();
  sender_->Start();
  commandThread_->Start();
  timers_->Start();
  // What a pass takes is posted after the sources lock is left.
  sourceThread_ = std::make_unique<SMSSourceThread>([this](uint32_t pass) {
    for (auto& item : sources_->Poll(pass)) commands_.Push(DriverCommand(CMD_SOURCE_MESSAGE, 0, std::move(item)));
  });
  sourceThread_->Start();
}

void Driver::StopThreads() {
  // The sending worker first, so that it starts no new submission while the
  // others wind down (what they still queue stays queued and goes back to
  // the outbox); then producers before the consumers they feed. Every wait
  // of every thread wakes on its stop, and each is joined before anything it
  // uses is saved or destroyed.
  sender_->SignalStop();
  web_->Stop();       // before the command thread and the tables its requests use
  handlers_->Stop();  // a command handler being waited for is not waited for any longer
  sources_->Stop();   // a fetch in progress ends: its process group, transfer or query is cut
  sourceThread_->Stop();
  timers_->Stop();
  commandThread_->Stop();
  automation_->Stop();  // after the command thread, which tells it of status changes
  sender_->Stop();
  transport_->KillReader();
  // Last, once no line can come: what it still holds is handed to the
  // command queue, which SaveEverything drains.
  gateway_->StopReader();
  // Requests still running are cut short; the ones waiting are dropped.
  requests_->Stop();
}

void Driver::SaveEverything() {
  // Nothing that was handed to a thread is lost: queued results and incoming
  // messages are executed, and messages waiting for the modem go back to the
  // outbox.
  gateway_->DrainAtExit();
  config_.SetInt("message.id", message_ids::Last());
  handlers_->Save(config_);
  sources_->Save(config_);
  if (!SaveConfiguration(config_, locations_)) log_->Write(LogLevel::kError, "The configuration could not be saved");
  for (FileDatabase* table : {tables_.inbox.get(), tables_.outbox.get(), tables_.sent.get(), tables_.failed.get(),
                              tables_.addrbook.get()}) {
    if (table == nullptr) continue;  // an address book left out at start
    if (table->Save() != 0) {
      log_->Write(LogLevel::kError, "Error saving " + table->FileName() + ": " + table->LastError().text);
    }
  }
}

int Driver::Run() {
  const bool tray = TrayMode();
  DesktopNotificationOptions notifyOptions;
  notifyOptions.log = [this](LogLevel level, const std::string& text) { log_->Write(level, text); };
  Notifier::BalloonSender balloons;
  if (tray && !options_.noIcon) {
    notifications_ = std::make_unique<DesktopNotifications>(notifyOptions);
    balloons = [this](const std::string& title, const std::string& text) { notifications_->Send(title, text); };
  }
  notifier_ = std::make_unique<Notifier>(log_.get(), &config_, !tray, balloons);
  timers_ = std::make_unique<DriverTimers>();
  frame_ = std::make_unique<CMainFrame>(FrameContext{config_, locations_, *log_, tables_, *transport_, commands_,
                                                     *timers_, *notifier_, counters_, options_.instance,
                                                     options_.serviceProfile});
  timers_->SetHandler([this](uint32_t id) { return frame_->OnTimer(id); });
  // URL requests of handlers wait on a few threads of their own; a backlog
  // beyond the queue is refused and logged rather than grown without end.
  requests_ = std::make_unique<WorkerPool>(kRequestWorkers, kRequestQueueLimit);
  HttpOptions http;
  http.caFile = config_.GetString("http.ca_file");
  handlers_ = std::make_unique<HandlerList>(HandlerServices{*log_, config_, *requests_, http, {}});
  handlers_->Load(config_);
  handlerEvents_ = std::make_unique<HandlerEvents>(*handlers_, *log_);
  replay_ = std::make_unique<MessageReplay>(tables_, *handlers_);
  sources_ = std::make_unique<SourceList>(SourceServices{
      *log_, config_, http, {}, [this](const std::vector<ReplayRequest>& requests) { replay_->Run(requests); }});
  sources_->Load(config_);
  gateway_ = std::make_unique<Gateway>(
      GatewayContext{config_, *log_, tables_, *transport_, *sender_, commands_, *timers_, *frame_, counters_});
  // The web server's event streams hear the message flows on their way to
  // the handlers and automation clients.
  web_ = std::make_unique<WebServer>(WebContext{config_, *log_, tables_, commands_, *transport_, counters_,
                                                gateway_->UssdWaiters(), gateway_->Snapshot(), options_.instance},
                                     handlerEvents_.get());
  gateway_->SetObservers(&web_->Observers());
  commandThread_ = std::make_unique<CServiceThread>(commands_, *gateway_);
  automation_ = std::make_unique<AutomationServer>(AutomationContext{
      config_, *log_, tables_, commands_, *transport_, *sender_, counters_, *handlers_, gateway_->UssdWaiters(),
      [this] { return SaveConfiguration(config_, locations_); }, gateway_->Snapshot(),
      [this](int seconds) { frame_->SetPollingTimer(seconds); }, gateway_->MemoryReads()});
  handlerEvents_->SetStatusFollower(
      [this](int32_t id, MessageStatus status) { automation_->StatusChanged(id, status); });
  gateway_->SetUssdFollower([this](const std::string& text, uint32_t code, const std::string& recipient) {
    automation_->UssdReplied(text, code, recipient);
    web_->UssdReplied(text, code);
  });

  if (tray && config_.GetString("modem.port").empty()) {
    const PortWizardResult wizard = RunPortWizard(
        config_, [this] { return DetectAttachedModems(config_); }, std::cin, std::cout, StdinIsTerminal());
    log_->Write(wizard.stored ? LogLevel::kDetail : LogLevel::kWarning, wizard.message);
    if (!wizard.stored) std::cerr << wizard.message << '\n';
    if (wizard.stored) SaveConfiguration(config_, locations_);
  }

  log_->Write(LogLevel::kDetail, std::string(kProductTitle) + " " QM_VERSION " started" + TitleSuffix(options_.instance) +
                     (tray ? " (session)" : " (service)") + ", program folder " + programFolder_);
  if (tray && StdoutIsTerminal()) {
    std::cout << FirstRunNotice(GatherFirstRunFacts(config_, options_.instance, options_.serviceProfile)) << std::flush;
  }
  // Caught before any thread runs, so that a stop request always goes through
  // the exit sequence.
  SignalWatcher signals(ShutdownSignals(tray), [this](int) { frame_->PostCommand(kFrameExit); });
  if (!signals.ok()) log_->Write(LogLevel::kError, "Termination signals cannot be caught; stop the driver with its Exit command");
  StartThreads();
  // Without its bus the driver runs on; the reason is in the log.
  automation_->Start(!tray, options_.instance);
  bool newToken = false;
  const std::string token = SessionToken(config_, newToken);
  if (newToken) SaveConfiguration(config_, locations_);
  // The only place the token is shown: the console's address with it.
  if (const std::string console = web_->Start(token); !console.empty()) {
    log_->Write(LogLevel::kDetail, WebConsoleLine(console));
    if (StdoutIsTerminal()) std::cout << WebConsoleLine(console) << '\n' << std::flush;
  }

  if (tray) {
    if (config_.GetInt("start.bubble") != 0) {
      frame_->ShowBalloon("Quillmoor GSM Modem Driver started",
                          "Double-click the icon to open the main window\nRight button click to open the main menu");
    }
    if (config_.GetInt("start.connect") != 0) frame_->PostCommand(kFrameConnect);
  } else if (config_.GetInt("start.connect") != 0) {
    commands_.Push(DriverCommand(CMD_CONNECT));
  }

  const int exitCode = frame_->RunLoop();
  log_->Write(LogLevel::kDetail, "Exiting");
  StopThreads();
  SaveEverything();
  log_->Write(LogLevel::kDetail, "Stopped");
  return exitCode;
}

}  // namespace

int RunDriver(int argc, const char* const* argv) {
  if (const InformationSwitch which = FindInformationSwitch(argc, argv); which != InformationSwitch::kNone) {
    std::fputs(InformationText(which).c_str(), stdout);
    return 0;
  }
  const std::string commandLine = JoinCommandLine(argc, argv);
  const StartupOptions options = ParseCommandLine(commandLine);
  ApplySignalDefaults(!options.service);
  InitHttpClient();  // before any thread starts
  const std::string programFolder = CurrentFolder();

  // One copy per instance and data: the lock lies in the folder of the
  // instance's tables and configuration, so every way of starting the driver
  // on the same data (session or service, with or without a runtime folder)
  // meets it. A second copy ends at once, silently.
  const ConfigLocations locations = MakeConfigLocations(options.instance, programFolder, options.serviceProfile);
  SysError folderError;
  if (!MakeDirectories(locations.userFolder, 0700, &folderError)) {
    ShowMessageBox("Error", "Error creating directory " + locations.userFolder + ": " + folderError.text);
    return 0;
  }
  InstanceLock lock = InstanceLock::Acquire(locations.userFolder, MutexName(options.instance));
  if (lock.status() == InstanceLock::Status::kAlreadyRunning) return 0;
  if (lock.status() != InstanceLock::Status::kAcquired) {
    ShowMessageBox("Error", "The instance lock " + lock.Path() + " can't be created: " + lock.Error().text);
    return 0;
  }

  if (options.exitSwitch != ExitSwitch::kNone) {
    return RunExitSwitch(options, programFolder);
  }
  if (options.cfgService && !OpenKeyRoot(KeyRoot::kServiceAccount)) {
    ShowMessageBox("Error", "Can't open system user key");
  }

  Driver driver(options, programFolder);
  if (!driver.Initialise()) return 0;
  if (options.install || options.uninstall) return driver.InstallOrUninstall();
  return driver.Run();
}

}  // namespace qm
