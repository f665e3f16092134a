#include "metar/network_probe.h"

#include <gtest/gtest.h>

namespace sqv64 {
namespace {

TEST(NetworkProbeTest, OnlineWhenTheFirstOwnAddressIsARealOne) {
  std::optional<std::vector<std::string>> addresses;
  NetworkProbe probe([&] { return addresses; });
  EXPECT_FALSE(probe.online());

  struct Step {
    std::optional<std::vector<std::string>> addresses;
    bool online;
    bool changed;
  };
  const std::vector<Step> steps = {
      {std::vector<std::string>{"192.0.2.10"}, true, true},
      {std::vector<std::string>{"192.0.2.10", "127.0.0.1"}, true, false},
      {std::nullopt, true, false},  // a failed check keeps the state
      {std::vector<std::string>{}, false, true},
      {std::vector<std::string>{"127.0.0.1", "192.0.2.10"}, false, false},
      {std::vector<std::string>{""}, false, false},
      {std::vector<std::string>{"10.0.0.1"}, true, true},
  };
  for (std::size_t index = 0; index < steps.size(); ++index) {
    addresses = steps[index].addresses;
    EXPECT_EQ(probe.Check(), steps[index].changed) << "step " << index;
    EXPECT_EQ(probe.online(), steps[index].online) << "step " << index;
  }
}

}  // namespace
}  // namespace sqv64
