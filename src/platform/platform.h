// The one interface between the server and its operating system: files with
// share modes, directory enumeration, free space, clocks and date formats,
// the service manager, the service's registry value, the system event log and
// the network probe. It is implemented once for POSIX (posix/) and once for
// Windows (windows/); everything above it is portable.
//
// Paths are 8-bit texts in Windows-1251, built by plain concatenation with
// "\" as the separator ("/" is accepted as well). The implementation turns
// them into native paths in one place (NativePath), so that no caller ever
// re-encodes a name.
//
// Failures to open, create, delete or find something are results (nullptr,
// false, nullopt); errors on a file that is already open throw IoError. A
// path that holds a NUL byte names nothing: every operation refuses it as
// it would a missing file, before the system sees it, since the system
// would read the path only up to that byte.
//
// Only regular files are opened: a folder, a FIFO, a socket or a device
// (on Windows anything that is not a file on a disk) is refused as if it
// were missing, and the attempt never waits for another process.
//
// Thread safety: every member may be called from any thread at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sqv64::platform {

// An input/output error on an open file; its message reads like the
// system's own ("I/O error 28").
class IoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class FileAccess { kRead, kWrite, kReadWrite };

// What other openers may do with the file while this handle is open. Windows
// enforces it for every process; POSIX has no mandatory share modes and
// ignores it.
enum class FileShare { kNone, kRead, kReadWrite };

// A connected stream socket as the operating system knows it: a descriptor
// on POSIX, a SOCKET on Windows.
using NativeSocket = std::intptr_t;

// What one File::SendToSocket call did.
struct SocketSend {
  enum class Outcome {
    kSent,         // `bytes` (at least one) went out
    kEndOfFile,    // the position is at the end of the file
    kSocketFull,   // the socket takes nothing now; wait until it can write
    kUnsupported,  // this file or socket cannot send this way; nothing went out
  };
  Outcome outcome = Outcome::kUnsupported;
  std::size_t bytes = 0;
};

// One state of a file, as the file system tells it: which file it is on its
// volume, its size, and when its content and its entry last changed. A file
// whose stamp is unchanged has, as far as the system can tell, the same
// content. `settled` is set when the last change lies far enough back (two
// seconds) that a change within the file times' granularity would have
// shown in them.
struct FileStamp {
  std::uint64_t volume = 0;
  std::uint64_t identity = 0;
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // in the system's own units
  std::int64_t changed = 0;
  bool settled = false;
  bool operator==(const FileStamp&) const = default;
};

enum class FileCreation {
  kOpenExisting,  // fails when there is no file
  kCreateAlways,  // creates the file or truncates the one there
  kCreateNew,     // fails when an entry of that name exists
  kOpenAlways,    // opens the file, creating it empty when missing
};

// An open file. Destroying it closes it and ignores errors; call Close to
// see them. One File is used by one thread at a time.
class File {
 public:
  virtual ~File() = default;

  // Reads up to `size` bytes; fewer only at the end of the file.
  virtual std::size_t Read(void* buffer, std::size_t size) = 0;
  // Writes all `size` bytes at the current position.
  virtual void Write(const void* data, std::size_t size) = 0;
  // The file's size, at least as recent as the opening of this File and
  // as the last write through it; what other processes change after the
  // opening may or may not show.
  virtual std::uint64_t Size() = 0;
  virtual void Seek(std::uint64_t offset) = 0;
  virtual void SeekToEnd() = 0;
  // Returns once the written data is on the disk itself.
  virtual void Sync() = 0;
  virtual void Close() = 0;
  // Sends up to `size` bytes from the current position to the connected,
  // non-blocking `socket` in the kernel, without copying them through this
  // process, and moves the position past them. Throws IoError when reading
  // the file or writing the socket fails. Files that cannot do this answer
  // kUnsupported; the caller then reads and sends them itself. On POSIX the
  // process ignores SIGPIPE from the first call on.
  virtual SocketSend SendToSocket(NativeSocket /*socket*/, std::size_t /*size*/) { return {}; }
  // The file's stamp as of its opening; nullopt where the system cannot
  // tell it.
  virtual std::optional<FileStamp> Stamp() { return std::nullopt; }
};

// An open folder, through which its files are opened by name, without the
// folder's path being looked up again for each file. Any number of threads
// may open files through one Folder at once.
class Folder {
 public:
  virtual ~Folder() = default;

  // As Platform::OpenFile for the folder's path followed by `name`, which
  // holds no separator.
  virtual std::unique_ptr<File> OpenFile(const std::string& name, FileAccess access,
                                         FileShare share, FileCreation creation) = 0;
};

// What a directory entry is in itself; a symbolic link (on Windows any
// reparse point) is a link whatever it points to.
enum class EntryKind { kMissing, kFile, kDirectory, kLink, kOther };

// Whether `path` holds a NUL byte, which no path of this platform may hold.
inline bool HoldsNul(std::string_view path) {
  return path.find('\0') != std::string_view::npos;
}

struct DirectoryEntry {
  std::string name;  // 8-bit, as the file system reports it
  bool is_directory = false;
};

// The local date and time of one moment, formatted the way the system's
// regional settings (or, on POSIX, LC_TIME) want them.
struct LocalDateTime {
  std::string short_date;  // for example "08.12.2020"
  std::string long_time;   // for example "9:05:07"
};

struct UtcTime {
  int year = 0;
  int month = 0;  // 1 to 12
  int day = 0;
  int hour = 0;
  int minute = 0;
};

// What a directory entry says of a file, for noticing that it changed: two
// stamps of an unchanged file are equal.
struct EntryStamp {
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // last write, in the system's own units
  bool regular = false;       // a plain file: no folder, device or pipe
  bool operator==(const EntryStamp&) const = default;
};

// The value "ImagePath" of the service's configuration key, as stored.
struct ImagePathValue {
  enum class Type { kString, kExpandableString, kOther };
  Type type = Type::kOther;
  std::string text;  // 8-bit, no variables expanded, no quotes removed
};

// The properties the service is registered with.
struct ServiceRegistration {
  std::string name;          // "SQuv64"
  std::string display_name;  // "Server Quvara64"
  std::string executable;    // full path, unquoted
};

// What the service manager drives. Start and Stop run on the service thread;
// a Start that returns false means the start was refused.
class ServiceHandler {
 public:
  virtual ~ServiceHandler() = default;
  virtual bool Start() = 0;
  virtual void Stop() = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Files and folders.
  virtual std::unique_ptr<File> OpenFile(const std::string& path, FileAccess access,
                                         FileShare share, FileCreation creation) = 0;
  // The folder `path` (which ends with a separator), for opening many of
  // its files; nullptr when it is no folder or cannot be opened.
  virtual std::unique_ptr<Folder> OpenFolder(const std::string& path) = 0;
  // Whether `path` names a file (not a folder).
  virtual bool FileExists(const std::string& path) = 0;
  // Whether any directory entry (file or folder) has this name.
  virtual bool EntryExists(const std::string& path) = 0;
  // The stamp of the entry `path`, without opening it; nullopt when there
  // is none.
  virtual std::optional<EntryStamp> StampOf(const std::string& path) = 0;
  // What the entry of this name is, without following a link.
  virtual EntryKind KindOfEntry(const std::string& path) = 0;
  virtual bool DeleteFile(const std::string& path) = 0;
  // Renames `from` to `to` in one step, replacing a file at `to`.
  virtual bool ReplaceFile(const std::string& from, const std::string& to) = 0;
  virtual bool CreateDirectory(const std::string& path) = 0;
  // Entries of `folder` (which ends with a separator) whose names match
  // `pattern` ("*" and "?", letter case ignored); every kind of entry is
  // included, "." and ".." are not. The order is the file system's.
  virtual std::vector<DirectoryEntry> ListDirectory(const std::string& folder,
                                                    std::string_view pattern) = 0;
  // Bytes available to this process on the volume that holds `folder`.
  virtual std::optional<std::uint64_t> FreeBytes(const std::string& folder) = 0;
  virtual bool SetCurrentDirectory(const std::string& path) = 0;
  // The path in the form the operating system's calls take: separators and
  // character encoding converted.
  virtual std::string NativePath(const std::string& path) = 0;
  // The separator that ends the working folder ("\" on Windows, "/" here).
  virtual char PathSeparator() = 0;

  // Clocks.
  virtual LocalDateTime CurrentLocalDateTime() = 0;
  virtual UtcTime CurrentUtcTime() = 0;

  // Service host.
  virtual std::optional<ImagePathValue> ReadImagePath() = 0;
  // Full path of the running executable, 8-bit.
  virtual std::string ExecutablePath() = 0;
  // An error entry in the system event log, with the executable's file name
  // as its source.
  virtual void WriteSystemEventLog(const std::string& message) = 0;
  // Runs `handler` under the service manager until it is told to stop;
  // returns the process's exit status.
  virtual int RunService(ServiceHandler& handler) = 0;
  // Register or remove the service; the error text on failure.
  virtual std::optional<std::string> InstallService(const ServiceRegistration& service) = 0;
  virtual std::optional<std::string> UninstallService(const ServiceRegistration& service) = 0;

  // Network probe: the host's own IPv4 addresses, in the system's order;
  // nullopt when they cannot be found out.
  virtual std::optional<std::vector<std::string>> OwnIPv4Addresses() = 0;

  // Whether the process's standard error is a terminal a person watches
  // (command-line tools show progress there).
  virtual bool StandardErrorIsTerminal() = 0;
};

// The platform the process runs on. It lives for the whole process.
Platform& DefaultPlatform();

// The process's command-line arguments as UTF-8, the program first. POSIX
// passes `argv` on as it is; Windows reads the UTF-16 command line, so that
// names survive whatever code page the console uses.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Makes the console show the UTF-8 that the process writes: on Windows its
// output code page is UTF-8 until the process ends; POSIX terminals take
// UTF-8 as it is.
void ShowUtf8OnConsole();

// Readies a TCP socket (its native handle) that is about to be bound and to
// listen. On POSIX a restarted server binds its port again while connections
// of the old one linger (SO_REUSEADDR, which never lets two listeners share
// a port there). On Windows SO_REUSEADDR would let another process take the
// same port, so the socket takes it for itself alone (SO_EXCLUSIVEADDRUSE)
// and a port in use fails the bind. False when the option cannot be set.
bool PrepareListeningSocket(std::uintptr_t native_socket);

}  // namespace sqv64::platform
