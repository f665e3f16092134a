#include "service/sqv64_service.h"

#include <exception>

#include "metar/metar_settings.h"
#include "metar/weather_service.h"
#include "protocol/access_control.h"
#include "protocol/command_context.h"
#include "protocol/command_dispatcher.h"
#include "protocol/tcp_server.h"
#include "service/image_path.h"
#include "service/port_file.h"
#include "storage/event_log.h"
#include "storage/staged_file.h"
#include "storage/working_folder.h"

namespace sqv64 {
namespace {

constexpr std::string_view kDefaultWorkingFolder = "c:\\";

std::optional<WeatherRunStatus> RunOf(const std::optional<RunRecord>& record) {
  if (!record)
    return std::nullopt;
  WeatherRunStatus run;
  run.kind = std::string(RunKindName(record->kind));
  run.started = record->started;
  run.succeeded = record->outcome.succeeded;
  run.error = record->outcome.error;
  run.reports_filed = record->outcome.reports_filed;
  return run;
}

// The protocol's view of the weather side.
class WeatherCommandsOf final : public WeatherCommands {
 public:
  explicit WeatherCommandsOf(WeatherService& weather) : weather_(weather) {}
  std::string ListAirports() override { return weather_.ListAirports(); }
  void SaveMetarSettings(std::string_view payload) override { weather_.SaveMetarSettings(payload); }
  void AddAirports(std::string_view payload) override { weather_.AddAirports(payload); }
  void RemoveAirports(std::string_view payload) override { weather_.RemoveAirports(payload); }
  void MarkSettingsChanged() override { weather_.MarkSettingsChanged(); }
  void SetSettingsChanged() override { weather_.SetSettingsChanged(); }
  std::optional<std::string> ReadWeatherFile(const std::string& path) override {
    return weather_.ReadWeatherFile(path);
  }
  WeatherStatus Status() override {
    WeatherServiceStatus from = weather_.Status();
    WeatherStatus status;
    status.download_type = from.download_type;
    status.transport = from.transport;
    status.airports = from.airports;
    status.last_cycle_run = RunOf(from.health.last_cycle_run);
    status.last_station_run = RunOf(from.health.last_station_run);
    status.last_run = RunOf(from.health.last_run);
    status.next_run_kind = from.next_run_kind;
    status.next_run = from.next_run;
    for (std::size_t i = 0; i < from.airports.size() && i < from.last_reports.size(); ++i) {
      AirportReportStatus report;
      report.code = from.airports[i];
      if (from.last_reports[i]) {
        report.time_line = from.last_reports[i]->time_line;
        report.report = from.last_reports[i]->report;
      }
      status.last_reports.push_back(std::move(report));
    }
    return status;
  }

 private:
  WeatherService& weather_;
};

WeatherServiceOptions WeatherOptions(EventLog& log) {
  WeatherServiceOptions options;
  options.event_log = &log;
  return options;
}

unsigned NetworkThreads() {
  return std::max(2u, std::thread::hardware_concurrency());
}
unsigned BlockingThreads() {
  return std::max(8u, 2 * std::thread::hardware_concurrency());
}

}  // namespace

struct TSQuv64::Components {
  Components(platform::Platform& platform, std::string folder_path)
      : folder(platform, std::move(folder_path)), log(folder) {}

  WorkingFolder folder;
  EventLog log;
  // Seeds its own random generator from the clock.
  WeatherService weather{folder, WeatherOptions(log)};
  WeatherCommandsOf weather_commands{weather};
  AccessControl access{folder, log};
  CommandContext context{folder, log, weather_commands, &access, std::chrono::system_clock::now()};
  std::unique_ptr<TcpServer> server;
  std::uint16_t port = kDefaultPort;
};

TSQuv64::TSQuv64(platform::Platform& platform, ServiceOptions options)
    : platform_(platform), options_(options) {}

TSQuv64::~TSQuv64() {
  if (components_ && components_->server) {
    components_->server->Stop();
  }
  if (components_) {
    components_->weather.Stop();
  }
}

bool TSQuv64::Start() {
  try {
    return ServiceStart();
  } catch (const std::exception& error) {
    platform_.WriteSystemEventLog(std::string("Service failed on start: ") + error.what());
    return false;
  }
}

void TSQuv64::Stop() {
  try {
    ServiceStop();
  } catch (const std::exception& error) {
    platform_.WriteSystemEventLog(std::string("Service failed on stop: ") + error.what());
  }
}

bool TSQuv64::ServiceStart() {
  using platform::ImagePathValue;
  std::string folder(kDefaultWorkingFolder);
  bool started = false;
  std::optional<ImagePathValue> image_path = platform_.ReadImagePath();
  if (image_path && (image_path->type == ImagePathValue::Type::kString ||
                     image_path->type == ImagePathValue::Type::kExpandableString)) {
    std::string image_folder = FolderOfImagePath(image_path->text, platform_.PathSeparator());
    if (!image_folder.empty()) {
      folder = image_folder;
      started = platform_.SetCurrentDirectory(folder);
    }
  }
  components_ = std::make_unique<Components>(platform_, folder);
  Components& parts = *components_;
  parts.port = ReadPortFile(parts.folder, kDefaultPort);
  parts.log.WriteLog(parts.log.TimeField() + " START (" + folder + ")");
  // A refused start ends the process at once: it must not create folders
  // or take the port in a folder that is not the service's.
  if (!started) {
    return false;
  }
  RemoveStaleStagedFiles(parts.folder);
  RemoveStaleStagedFiles(parts.folder, "metar\\");
  EnsureMetarFolders(parts.folder);
  // Read access.txt now, so that a malformed one is logged at the start.
  parts.access.Current();
  TcpServerOptions server_options;
  server_options.idle_timeout = options_.idle_timeout;
  server_options.network_threads = NetworkThreads();
  server_options.blocking_threads = BlockingThreads();
  parts.server = std::make_unique<TcpServer>(server_options, [&parts](Connection& connection) {
    return TCPServerExecute(connection, parts.context);
  });
  parts.server->Start(parts.port);
  parts.weather.Start();
  return true;
}

void TSQuv64::ServiceStop() {
  if (!components_) {
    return;
  }
  Components& parts = *components_;
  if (parts.server) {
    parts.server->Stop();
  }
  // The timers go before anything they use.
  parts.weather.Stop();
  parts.log.WriteLog(parts.log.TimeField() + " STOP");
}

const std::string& TSQuv64::working_folder() const {
  static const std::string default_folder(kDefaultWorkingFolder);
  return components_ ? components_->folder.path() : default_folder;
}

std::uint16_t TSQuv64::listening_port() const {
  return components_ && components_->server ? components_->server->port() : 0;
}

}  // namespace sqv64
