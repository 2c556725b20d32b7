#include "external/tools/mail.h"

#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>

namespace ortavia {
namespace {

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

bool HasControlOrBlank(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](unsigned char c) { return c <= 32 || c == 127; });
}

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), s.begin(),
                    [](char p, char c) { return std::tolower(static_cast<unsigned char>(c)) == p; });
}

bool IsHostName(const std::string& host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_';
  });
}

bool IsBracketedIpv6(const std::string& host) {
  return host.size() > 2 && host.front() == '[' && host.back() == ']' &&
         std::all_of(host.begin() + 1, host.end() - 1,
                     [](unsigned char c) { return std::isxdigit(c) || c == ':' || c == '.'; });
}

std::string Base64(const std::string& in) {
  static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    const unsigned n = (static_cast<unsigned char>(in[i]) << 16) |
                       (i + 1 < in.size() ? static_cast<unsigned char>(in[i + 1]) << 8 : 0) |
                       (i + 2 < in.size() ? static_cast<unsigned char>(in[i + 2]) : 0);
    out += table[(n >> 18) & 63];
    out += table[(n >> 12) & 63];
    out += i + 1 < in.size() ? table[(n >> 6) & 63] : '=';
    out += i + 2 < in.size() ? table[n & 63] : '=';
  }
  return out;
}

// A header value; text beyond ASCII as an encoded word.
std::string HeaderText(const std::string& text) {
  const std::string line = OneHeaderLine(text);
  const bool ascii = std::all_of(line.begin(), line.end(), [](unsigned char c) { return c < 128; });
  return ascii ? line : "=?UTF-8?B?" + Base64(line) + "?=";
}

// "Wed, 09 Dec 2026 08:15:46 +0000", independent of the process locale.
std::string MailDate() {
  static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  gmtime_r(&now, &t);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", days[t.tm_wday], t.tm_mday,
                months[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

std::string MessageId() {
  static std::atomic<unsigned> counter{0};
  return "<" + std::to_string(std::time(nullptr)) + "." + std::to_string(getpid()) + "." +
         std::to_string(counter++) + "@ortavia>";
}

void EnsureCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// What the server said last, and its first refusal (a reply starting with 4 or 5).
struct ServerReplies {
  std::string refusal;
};

int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  if (type != CURLINFO_HEADER_IN) return 0;
  auto* replies = static_cast<ServerReplies*>(user);
  const std::string line = Trim(std::string(data, size));
  if (replies->refusal.empty() && !line.empty() && (line[0] == '4' || line[0] == '5'))
    replies->refusal = line;
  return 0;
}

// CURL and CURLM are both void: each handle kind gets its own deleter.
struct EasyDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct MultiDeleter {
  void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
struct CurlDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
  void operator()(curl_mime* m) const { curl_mime_free(m); }
};

}  // namespace

std::string OneHeaderLine(const std::string& text) {
  std::string line = text;
  for (char& c : line)
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = ' ';
  return line;
}

SmtpTarget ParseSmtpServer(const std::string& field) {
  SmtpTarget target;
  std::string rest = Trim(field);
  if (rest.empty()) return {{}, "no SMTP server given"};
  if (HasControlOrBlank(rest)) return {{}, "the SMTP server address contains a blank or a control character"};
  std::string scheme;
  if (StartsWithNoCase(rest, "smtp://")) {
    scheme = "smtp";
    rest.erase(0, 7);
  } else if (StartsWithNoCase(rest, "smtps://")) {
    scheme = "smtps";
    rest.erase(0, 8);
  } else if (rest.find("://") != std::string::npos) {
    return {{}, "the SMTP server address must start with smtp:// or smtps://, or be a host name"};
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  if (rest.find_first_of("/?#") != std::string::npos)
    return {{}, "only a host and a port may follow the scheme of the SMTP server address"};
  std::string userinfo;
  if (const auto at = rest.rfind('@'); at != std::string::npos) {
    userinfo = rest.substr(0, at + 1);
    rest.erase(0, at + 1);
  }
  std::string host = rest, port;
  if (!rest.empty() && rest.front() == '[') {
    const auto close = rest.find(']');
    if (close == std::string::npos) return {{}, "the SMTP server address has an unclosed '['"};
    host = rest.substr(0, close + 1);
    const std::string after = rest.substr(close + 1);
    if (!after.empty() && after.front() != ':') return {{}, "unexpected text after the server's IPv6 address"};
    if (!after.empty()) port = after.substr(1);
    if (!IsBracketedIpv6(host)) return {{}, "not an IPv6 address: " + host};
  } else {
    if (std::count(rest.begin(), rest.end(), ':') > 1)
      return {{}, "an IPv6 server address must be written in brackets, as [::1]:25"};
    if (const auto colon = rest.find(':'); colon != std::string::npos) {
      host = rest.substr(0, colon);
      port = rest.substr(colon + 1);
      if (port.empty()) return {{}, "no port after ':' in the SMTP server address"};
    }
    if (!IsHostName(host)) return {{}, "not a host name: \"" + host + "\""};
  }
  if (!port.empty()) {
    const bool digits = port.size() <= 5 && std::all_of(port.begin(), port.end(), ::isdigit);
    const long number = digits ? std::stol(port) : 0;
    if (number < 1 || number > 65535) return {{}, "not a port number: \"" + port + "\""};
    port = std::to_string(number);
  }
  // A bare port 465 is the submission port with TLS from the first byte.
  if (scheme.empty()) scheme = port == "465" ? "smtps" : "smtp";
  target.url = scheme + "://" + userinfo + host + (port.empty() ? "" : ":" + port);
  return target;
}

bool SplitRecipients(const std::string& field, std::vector<std::string>* addresses, std::string* error) {
  std::vector<std::string> found;
  size_t start = 0;
  while (start <= field.size()) {
    const size_t end = std::min(field.find_first_of(",;", start), field.size());
    std::string entry = Trim(field.substr(start, end - start));
    start = end + 1;
    if (entry.empty()) continue;
    if (entry.size() > 2 && entry.front() == '<' && entry.back() == '>') entry = entry.substr(1, entry.size() - 2);
    const auto at = entry.find('@');
    const bool bad = HasControlOrBlank(entry) || entry.find_first_of("<>\"()") != std::string::npos ||
                     std::count(entry.begin(), entry.end(), '@') != 1 || at == 0 || at + 1 == entry.size();
    if (bad) {
      if (error) *error = "not an e-mail address: \"" + OneHeaderLine(entry) + "\"";
      return false;
    }
    found.push_back(entry);
  }
  if (found.empty()) {
    if (error) *error = "no recipient given";
    return false;
  }
  if (addresses) *addresses = std::move(found);
  return true;
}

MailResult SendMail(const MailMessage& message, const MailOptions& options) {
  const SmtpTarget target = ParseSmtpServer(message.server);
  if (target.url.empty()) return {false, target.error};
  std::vector<std::string> to, from;
  std::string error;
  if (!SplitRecipients(message.recipients, &to, &error)) return {false, error};
  if (!SplitRecipients(message.sender, &from, &error) || from.size() != 1)
    return {false, "bad sender address: " + error};
  if (!message.attachment.empty() && !std::ifstream(message.attachment, std::ios::binary))
    return {false, "cannot read the attachment " + message.attachment};

  EnsureCurl();
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
  if (!easy || !multi) return {false, "cannot start the mail transfer"};
  CURL* c = easy.get();

  curl_slist* rcpt = nullptr;
  for (const auto& a : to) rcpt = curl_slist_append(rcpt, ("<" + a + ">").c_str());
  std::unique_ptr<curl_slist, CurlDeleter> rcptList(rcpt);
  std::string toHeader = "To: ";
  for (size_t i = 0; i < to.size(); ++i) toHeader += (i ? ", " : "") + to[i];
  curl_slist* headers = nullptr;
  for (const std::string& h : {"Date: " + MailDate(), "From: Ortavia <" + from[0] + ">", toHeader,
                               "Subject: " + HeaderText(message.subject), "Message-ID: " + MessageId()})
    headers = curl_slist_append(headers, h.c_str());
  std::unique_ptr<curl_slist, CurlDeleter> headerList(headers);

  // Mail lines end in CRLF; the encoder keeps those as line breaks instead of escaping them.
  std::string body;
  for (size_t i = 0; i < message.body.size(); ++i) {
    if (message.body[i] == '\n' && (i == 0 || message.body[i - 1] != '\r')) body += '\r';
    body += message.body[i];
  }
  std::unique_ptr<curl_mime, CurlDeleter> mime(curl_mime_init(c));
  curl_mimepart* text = curl_mime_addpart(mime.get());
  curl_mime_data(text, body.c_str(), body.size());
  curl_mime_type(text, "text/plain; charset=UTF-8");
  curl_mime_encoder(text, "quoted-printable");
  if (!message.attachment.empty()) {
    curl_mimepart* file = curl_mime_addpart(mime.get());
    curl_mime_filedata(file, message.attachment.c_str());
    curl_mime_type(file, "text/plain");
    curl_mime_encoder(file, "base64");
  }

  ServerReplies replies;
  char errorBuffer[CURL_ERROR_SIZE] = {};
  const std::string mailFrom = "<" + from[0] + ">";
  curl_easy_setopt(c, CURLOPT_URL, target.url.c_str());
  curl_easy_setopt(c, CURLOPT_MAIL_FROM, mailFrom.c_str());
  if (!message.user.empty()) {
    curl_easy_setopt(c, CURLOPT_USERNAME, message.user.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, message.password.c_str());
  }
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcptList.get());
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headerList.get());
  curl_easy_setopt(c, CURLOPT_MIMEPOST, mime.get());
  // STARTTLS whenever the server offers it; smtps:// speaks TLS from the start.
  curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, options.totalTimeoutMs);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, OnDebug);
  curl_easy_setopt(c, CURLOPT_DEBUGDATA, &replies);

  // The multi interface lets the window run between the waits.
  curl_multi_add_handle(multi.get(), c);
  int running = 1;
  while (running) {
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) break;
    if (running) curl_multi_poll(multi.get(), nullptr, 0, 50, nullptr);
    if (options.pump) options.pump();
  }
  CURLcode code = CURLE_SEND_ERROR;
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(multi.get(), &left))
    if (msg->msg == CURLMSG_DONE) code = msg->data.result;
  curl_multi_remove_handle(multi.get(), c);
  // The handle goes before the lists and the message it points to.
  multi.reset();
  easy.reset();

  if (code == CURLE_OK) return {true, {}};
  if (!replies.refusal.empty()) return {false, "the server answered: " + replies.refusal};
  return {false, errorBuffer[0] ? std::string(errorBuffer) : std::string(curl_easy_strerror(code))};
}

}  // namespace ortavia
