// An FTP client for fetching files and listings in passive mode, on Asio.
//
// Connect opens the control connection (to the proxy when the method uses
// one), reads the greeting, runs the login dialogue of the proxy method,
// asks for the feature list (FEAT), announces the client name with CLNT when
// the server offers it, and sets ASCII mode (TYPE A). Listings use MLSD when
// the features offer MLSD or MLST, else LIST. Every passive data connection
// goes to the address of the control connection, whatever address the PASV
// reply names. Each step is bounded by the session's time-outs.
//
// Failures throw FtpError; a failure of the control connection itself (a
// time-out, a reset, a malformed reply) also closes it, so Connected() then
// tells the truth. Errors writing the local file throw platform::IoError.
//
// Thread safety: one thread uses the client at a time, except Cancel, which
// any thread may call at any moment.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "metar/ftp_reply.h"
#include "metar/ftp_settings.h"
#include "platform/platform.h"

namespace sqv64 {

class FtpClient {
 public:
  // Local files are written through `platform`, which must outlive the
  // client.
  explicit FtpClient(platform::Platform& platform);
  ~FtpClient();
  FtpClient(const FtpClient&) = delete;
  FtpClient& operator=(const FtpClient&) = delete;

  // The session the next Connect opens.
  void Configure(const FtpSessionSettings& session);
  const FtpSessionSettings& session() const;

  // The connection test: whether the control connection is open. A
  // connection the server has closed, or on which it has said something
  // unasked (such as "421"), is closed here and reported as not connected.
  bool Connected();

  // Opens the session, closing any earlier one first.
  void Connect();
  void ChangeDirectory(const std::string& directory);
  // The lines of a detailed listing of the current directory. The lines of
  // the last listing that succeeded stay available through LastListing.
  std::vector<std::string> List();
  const std::vector<std::string>& LastListing() const;
  // Retrieves `remote_name` into `local_path`, which is deleted and created
  // empty first and then receives the data as it arrives.
  void Get(const std::string& remote_name, const std::string& local_path);
  // Sends QUIT and closes the connection; never throws.
  void Quit();

  // Ends the operation in progress at once and closes the connection; every
  // later operation fails at once. For stopping the service without waiting
  // out a time-out.
  void Cancel();
  // Whether Cancel was called.
  bool Cancelled() const;

 private:
  class Session;
  std::unique_ptr<Session> session_;
};

}  // namespace sqv64
