#pragma once
// Mail delivery over SMTP through libcurl: the server field, the recipient list, a message with
// an optional attachment, time-outs, and a pump so that the window stays alive while sending.
#include <functional>
#include <string>
#include <vector>

namespace ortavia {

// Where to deliver: the server field as "host", "host:port", "smtp://host[:port]" or
// "smtps://host[:port]" (IPv6 hosts in brackets; user:password@ before the host for servers that
// ask for a login). Plain "host" uses port 25; a bare port 465 means TLS from the start.
struct SmtpTarget {
  std::string url;    // smtp:// or smtps:// URL for libcurl; empty when refused
  std::string error;  // why the field was refused
};
SmtpTarget ParseSmtpServer(const std::string& field);

// The addresses of a recipient field (separated by commas or semicolons, blanks around them and
// empty entries ignored). False with the first bad entry named when an entry is no plain
// address: it must have one '@' with text on both sides, and no blank, control character or
// angle bracket (one pair around the whole address is allowed).
bool SplitRecipients(const std::string& field, std::vector<std::string>* addresses, std::string* error);

// A header text on one line: every control character (line breaks included) becomes a blank, so
// no text can add header lines.
std::string OneHeaderLine(const std::string& text);

struct MailMessage {
  std::string server;       // the server field
  std::string recipients;   // the recipient field
  std::string sender;
  std::string subject;
  std::string body;
  std::string attachment;   // file to attach; empty: none
  std::string user;         // SMTP login; empty: none (or the one in the server address)
  std::string password;
};

struct MailOptions {
  long connectTimeoutMs = 15000;  // reaching the server
  long totalTimeoutMs = 120000;   // the whole conversation, attachment included
  std::function<void()> pump;     // called about every 50 ms while sending
};

struct MailResult {
  bool sent = false;
  std::string error;  // the server's answer or the connection failure; empty when sent
};

MailResult SendMail(const MailMessage& message, const MailOptions& options = {});

}  // namespace ortavia
