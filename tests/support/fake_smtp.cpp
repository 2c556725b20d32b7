#include "support/fake_smtp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace ortavia::test {
namespace {

int ListenLoopback(int* port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = ntohs(addr.sin_port);
  return fd;
}

void Send(int fd, const std::string& text) { (void)!::send(fd, text.data(), text.size(), MSG_NOSIGNAL); }

// Reads one CRLF-ended line; false when the peer is gone or the server stops.
bool ReadLine(int fd, std::string& buffer, std::string& line, const std::atomic<bool>& stop) {
  for (;;) {
    const auto end = buffer.find("\r\n");
    if (end != std::string::npos) {
      line = buffer.substr(0, end);
      buffer.erase(0, end + 2);
      return true;
    }
    pollfd p{fd, POLLIN, 0};
    if (stop.load()) return false;
    if (::poll(&p, 1, 100) <= 0) continue;
    char chunk[4096];
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(n));
  }
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

FakeSmtpServer::FakeSmtpServer(Mode mode) : mode_(mode) {
  listenFd_ = ListenLoopback(&port_);
  thread_ = std::thread([this] { Serve(); });
}

FakeSmtpServer::~FakeSmtpServer() {
  stop_ = true;
  thread_.join();
  if (listenFd_ >= 0) ::close(listenFd_);
}

int FakeSmtpServer::ClosedPort() {
  int port = 0;
  const int fd = ListenLoopback(&port);
  ::close(fd);
  return port;
}

std::vector<std::string> FakeSmtpServer::Commands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return commands_;
}

std::vector<std::string> FakeSmtpServer::Messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

void FakeSmtpServer::Serve() {
  while (!stop_.load() && listenFd_ >= 0) {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++connections_;
    Session(fd);
    ::close(fd);
  }
}

void FakeSmtpServer::Session(int fd) {
  std::string buffer, line;
  if (mode_ == Mode::Silent) {
    while (ReadLine(fd, buffer, line, stop_)) {
    }
    return;
  }
  if (mode_ == Mode::RefuseGreeting) {
    Send(fd, "554 5.3.2 no service for you\r\n");
    return;
  }
  Send(fd, "220 fake.test ESMTP\r\n");
  while (ReadLine(fd, buffer, line, stop_)) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      commands_.push_back(line);
    }
    if (StartsWith(line, "EHLO") || StartsWith(line, "HELO")) {
      Send(fd, mode_ == Mode::OfferStartTls ? "250-fake.test\r\n250-STARTTLS\r\n250 8BITMIME\r\n"
                                            : "250-fake.test\r\n250 8BITMIME\r\n");
    } else if (StartsWith(line, "STARTTLS")) {
      Send(fd, "454 4.7.0 TLS not available\r\n");
    } else if (StartsWith(line, "MAIL FROM")) {
      Send(fd, "250 2.1.0 Ok\r\n");
    } else if (StartsWith(line, "RCPT TO")) {
      Send(fd, mode_ == Mode::RefuseRecipient ? "550 5.1.1 mailbox unknown\r\n" : "250 2.1.5 Ok\r\n");
    } else if (StartsWith(line, "DATA")) {
      Send(fd, "354 End data with <CR><LF>.<CR><LF>\r\n");
      std::string data, dataLine;
      while (ReadLine(fd, buffer, dataLine, stop_) && dataLine != ".")
        data += (StartsWith(dataLine, "..") ? dataLine.substr(1) : dataLine) + "\n";
      {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(data);
      }
      Send(fd, "250 2.0.0 Ok: queued\r\n");
    } else if (StartsWith(line, "QUIT")) {
      Send(fd, "221 2.0.0 Bye\r\n");
      return;
    } else if (StartsWith(line, "RSET") || StartsWith(line, "NOOP")) {
      Send(fd, "250 2.0.0 Ok\r\n");
    } else {
      Send(fd, "502 5.5.2 command not recognised\r\n");
    }
  }
}

std::string DecodeBase64(const std::string& text) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (char c : text) {
    const int v = value(c);
    if (v < 0) continue;
    bits = (bits << 6) | static_cast<unsigned>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

}  // namespace ortavia::test
