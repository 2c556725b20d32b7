#pragma once
// An SMTP server on a loopback port, in a thread of the test process, that records what it is
// told. It can also stay silent, refuse, or offer STARTTLS and then decline it.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ortavia::test {

class FakeSmtpServer {
 public:
  enum class Mode {
    Accept,           // takes every message
    Silent,           // accepts the connection and never says a word
    RefuseRecipient,  // 550 to every RCPT TO
    RefuseGreeting,   // 554 instead of the greeting
    OfferStartTls,    // lists STARTTLS in its EHLO reply and answers 454 when asked
  };

  explicit FakeSmtpServer(Mode mode = Mode::Accept);
  ~FakeSmtpServer();
  FakeSmtpServer(const FakeSmtpServer&) = delete;
  FakeSmtpServer& operator=(const FakeSmtpServer&) = delete;

  int Port() const { return port_; }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

  // The commands received (one line each, without CRLF) and the DATA of every message, with the
  // dot-stuffing undone; copies, safe while the server runs.
  std::vector<std::string> Commands() const;
  std::vector<std::string> Messages() const;
  int Connections() const { return connections_.load(); }

  // A port on which nothing listens.
  static int ClosedPort();

 private:
  void Serve();
  void Session(int fd);

  Mode mode_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> commands_;
  std::vector<std::string> messages_;
  std::thread thread_;
};

// Decodes base64 text (line breaks ignored).
std::string DecodeBase64(const std::string& text);

}  // namespace ortavia::test
