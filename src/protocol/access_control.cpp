#include "protocol/access_control.h"

#include <vector>

namespace sqv64 {
namespace {

using std::chrono::steady_clock;

constexpr std::chrono::seconds kCheckInterval{1};
constexpr std::chrono::minutes kRefusalInterval{1};
// Addresses remembered by the refusal throttle at most; refusals from
// further addresses within the minute go unlogged.
constexpr std::size_t kMostRefusedAddresses = 4096;

}  // namespace

AccessControl::AccessControl(const WorkingFolder& folder, EventLog& log, Clock clock)
    : folder_(folder), log_(log), clock_(std::move(clock)) {
  if (!clock_)
    clock_ = [] { return steady_clock::now(); };
}

std::shared_ptr<const AccessList> AccessControl::Current() {
  std::lock_guard<std::mutex> lock(list_mutex_);
  steady_clock::time_point now = clock_();
  if (list_ && checked_ && now - *checked_ < kCheckInterval)
    return list_;
  checked_ = now;
  std::optional<platform::EntryStamp> stamp =
      folder_.platform().StampOf(folder_.PathOf(kAccessFileName));
  if (!list_ || stamp != stamp_) {
    stamp_ = stamp;
    list_ = Load(stamp);
  }
  return list_;
}

std::shared_ptr<const AccessList> AccessControl::Load(
    const std::optional<platform::EntryStamp>& stamp) {
  using namespace platform;
  if (!stamp)
    return std::make_shared<const AccessList>(AccessList::EveryoneMayWrite());
  AccessList list = AccessList::EveryoneMayWrite();
  if (!stamp->regular) {
    list = AccessList::OnlyLoopback("it is not a plain file");
  } else if (stamp->size > kLargestAccessFile) {
    list = AccessList::OnlyLoopback("it is larger than " +
                                    std::to_string(kLargestAccessFile / 1024) + " KiB");
  } else {
    std::unique_ptr<File> file =
        folder_.platform().OpenFile(folder_.PathOf(kAccessFileName), FileAccess::kRead,
                                    FileShare::kReadWrite, FileCreation::kOpenExisting);
    std::string text;
    bool readable = file != nullptr;
    if (readable) {
      try {
        text.resize(kLargestAccessFile + 1);
        text.resize(file->Read(text.data(), text.size()));
      } catch (const IoError&) {
        readable = false;
      }
    }
    if (!readable)
      list = AccessList::OnlyLoopback("it cannot be read");
    else if (text.size() > kLargestAccessFile)
      list = AccessList::OnlyLoopback("it is larger than " +
                                      std::to_string(kLargestAccessFile / 1024) + " KiB");
    else
      list = AccessList::Parse(text);
  }
  if (list.only_loopback()) {
    // A log that cannot be written must not leave the server without a list.
    try {
      log_.WriteLog(log_.TimeField() + " ACCESS " + std::string(kAccessFileName) + ": " +
                    list.problem() + "; only loopback clients are served");
    } catch (const IoError&) {
    }
  }
  return std::make_shared<const AccessList>(std::move(list));
}

std::optional<std::string> AccessControl::RefusalLine(const asio::ip::address& address,
                                                      std::string_view what) {
  std::string client = Unmapped(address).to_string();
  {
    std::lock_guard<std::mutex> lock(refusal_mutex_);
    steady_clock::time_point now = clock_();
    auto found = refused_.find(client);
    if (found != refused_.end()) {
      if (now - found->second < kRefusalInterval)
        return std::nullopt;
      found->second = now;
    } else {
      if (refused_.size() >= kMostRefusedAddresses) {
        std::erase_if(refused_,
                      [&](const auto& entry) { return now - entry.second >= kRefusalInterval; });
        if (refused_.size() >= kMostRefusedAddresses)
          return std::nullopt;
      }
      refused_.emplace(client, now);
    }
  }
  return log_.TimeField() + " REFUSED " + std::string(what) + " from " + client;
}

}  // namespace sqv64
