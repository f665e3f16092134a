// An in-process server for the protocol's tests: a TCP server on a free
// loopback port running the real dispatcher over a temporary store, with a
// weather side that records what it is asked.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/command_dispatcher.h"
#include "protocol/tcp_server.h"
#include "protocol_client.h"
#include "support/temporary_folder.h"
#include "support/test_platform.h"

namespace sqv64::testing_support {

class RecordingWeather final : public WeatherCommands {
 public:
  std::string ListAirports() override { return Record("ListAirports", {}), airports; }
  void SaveMetarSettings(std::string_view payload) override {
    Record("SaveMetarSettings", payload);
  }
  void AddAirports(std::string_view payload) override { Record("AddAirports", payload); }
  void RemoveAirports(std::string_view payload) override { Record("RemoveAirports", payload); }
  void MarkSettingsChanged() override { Record("MarkSettingsChanged", {}); }
  void SetSettingsChanged() override { Record("SetSettingsChanged", {}); }
  std::optional<std::string> ReadWeatherFile(const std::string& path) override {
    Record("ReadWeatherFile", path);
    return weather_file;
  }
  WeatherStatus Status() override {
    Record("Status", {});
    return status;
  }

  // Every call so far, as "Name" or "Name:argument".
  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

  std::string airports;
  std::optional<std::string> weather_file;
  WeatherStatus status;

 private:
  void Record(std::string_view name, std::string_view argument) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(argument.empty() ? std::string(name)
                                      : std::string(name) + ":" + std::string(argument));
  }

  std::mutex mutex_;
  std::vector<std::string> calls_;
};

class TestServer {
 public:
  explicit TestServer(TcpServerOptions options = {})
      : server_(options, [this](Connection& connection) {
          ++connections_;
          return TCPServerExecute(connection, context_);
        }) {
    server_.Start(0);
  }

  ProtocolClient Client(const std::string& host = "127.0.0.1") const {
    return ProtocolClient(host, server_.port(), std::chrono::seconds(10));
  }

  TemporaryFolder& store() { return store_; }
  TestPlatform& platform() { return platform_; }
  RecordingWeather& weather() { return weather_; }
  TcpServer& server() { return server_; }
  // How many connections the server has begun to serve.
  int Connections() const { return connections_; }

 private:
  TestPlatform platform_;
  TemporaryFolder store_;
  WorkingFolder folder_{platform_, store_.ServerPath()};
  EventLog log_{folder_};
  RecordingWeather weather_;
  CommandContext context_{folder_, log_, weather_};
  std::atomic<int> connections_{0};
  TcpServer server_;
};

}  // namespace sqv64::testing_support
