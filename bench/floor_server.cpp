// The floor of the transfer benchmarks: a server that does only what the
// work needs, one connection at a time, on 127.0.0.1.
//
//   floor_server save PORT FOLDER   reads the request line, then the payload
//                                   in 1 MiB reads, writes it to a new file,
//                                   fsyncs it and renames it to FOLDER/saved
//   floor_server fetch PORT FILE    reads the request line, then sends FILE
//                                   with sendfile under TCP_CORK
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kChunk = 1 << 20;

// Reads up to the request line's LF; the bytes after it stay in `buffer`.
std::size_t SkipRequestLine(int client, std::vector<char>& buffer, std::size_t& rest_start) {
  std::size_t filled = 0;
  for (;;) {
    ssize_t got = ::read(client, buffer.data() + filled, buffer.size() - filled);
    if (got <= 0)
      return 0;
    filled += static_cast<std::size_t>(got);
    void* end = std::memchr(buffer.data(), '\n', filled);
    if (end != nullptr) {
      rest_start = static_cast<std::size_t>(static_cast<char*>(end) - buffer.data()) + 1;
      return filled;
    }
  }
}

void Save(int client, const std::string& folder) {
  std::vector<char> buffer(kChunk);
  std::size_t rest = 0;
  std::size_t filled = SkipRequestLine(client, buffer, rest);
  std::string staging = folder + "/staging.tmp";
  int file = ::open(staging.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (file < 0 || filled == 0)
    return;
  bool ok = ::write(file, buffer.data() + rest, filled - rest) >= 0;
  while (ok) {
    ssize_t got = ::read(client, buffer.data(), buffer.size());
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    ok = ::write(file, buffer.data(), static_cast<std::size_t>(got)) == got;
  }
  ok = ok && ::fsync(file) == 0;
  ::close(file);
  if (ok)
    std::rename(staging.c_str(), (folder + "/saved").c_str());
}

void Fetch(int client, const std::string& path) {
  std::vector<char> buffer(4096);
  std::size_t rest = 0;
  if (SkipRequestLine(client, buffer, rest) == 0)
    return;
  int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0)
    return;
  int on = 1;
  ::setsockopt(client, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
  while (::sendfile(client, file, nullptr, std::size_t{1} << 30) > 0) {
  }
  int off = 0;
  ::setsockopt(client, IPPROTO_TCP, TCP_CORK, &off, sizeof off);
  ::close(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[1], "save") != 0 && std::strcmp(argv[1], "fetch") != 0)) {
    std::fprintf(stderr, "usage: %s save|fetch PORT FOLDER|FILE\n", argv[0]);
    return 2;
  }
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[2])));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 64) != 0) {
    std::perror("listen");
    return 1;
  }
  bool save = std::strcmp(argv[1], "save") == 0;
  for (;;) {
    int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0)
      continue;
    if (save)
      Save(client, argv[3]);
    else
      Fetch(client, argv[3]);
    ::close(client);
  }
}
