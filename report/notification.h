#pragma once
// The e-mail notification at the end of a run: its settings (profile section "EMailSettings"),
// the short report and the delivery with the report attached when it was written.
#include <string>

#include "external/tools/mail.h"

namespace ortavia {

inline constexpr const char* kEmailSettingsSection = "EMailSettings";
// The fixed sender of every message.
inline constexpr const char* kMailSender = "ortavia-notification@varnellsoftware.com";
inline constexpr const char* kTestMailBody = "This is a test email!";
inline constexpr const char* kMailSentLog = "email sent!";
inline constexpr const char* kNotificationFailed = "Unable to send email. Please check your settings";
inline constexpr const char* kNeedServerMessage = "You must provide a SMTP server address";
inline constexpr const char* kNeedAddressesMessage = "Recipients address and SMTP server address are needed!";
inline constexpr const char* kTestMailSent = "Email sent to specified addresses.\nPlease check if you received it";
inline constexpr const char* kTestMailFailed = "Unable to send the email.";

struct MailSettings {
  bool sendEmail = true;
  std::string recipients;  // comma-separated
  std::string smtpServer;
  std::string subject;
  std::string user;      // SMTP login; empty: the server is used without one
  std::string password;  // never in the profile (report/mail_password.h)
  std::string sender;    // From address; empty: kMailSender (servers with a login refuse it)
  bool operator==(const MailSettings&) const = default;
};

// Reads "bSendEmail" (on only for the text "1"), "SMTP_To", "SMTP_Server", "SMTP_Subject",
// "SMTP_User" and "SMTP_From", and the password from its own file.
MailSettings ReadMailSettings();
// Writes "SMTP_Server", "SMTP_Subject", "SMTP_To" and "bSendEmail", in this order, then
// "SMTP_User", "SMTP_From" and the password file.
bool WriteMailSettings(const MailSettings& settings);
// The message of a notification or test mail: server, recipients, login and sender.
MailMessage MailMessageFor(const MailSettings& settings);

// "Ortavia - Process Finished": the subject of a notification whose subject field is empty.
std::string DefaultMailSubject();
// The short report of a run.
std::string NotificationBody(const std::string& computer, const std::string& user,
                             const std::string& elapsed, const std::string& resultText);
// Whether a notification is to be sent: on, with recipients and a server.
bool NotificationWanted(const MailSettings& settings);

// The notification at the end of a run: nothing unless wanted; the report is attached when
// reportPath is not empty (give it only when the report was written).
struct NotificationResult {
  bool attempted = false;
  MailResult mail;
};
NotificationResult SendRunNotification(const MailSettings& settings, const std::string& elapsed,
                                       const std::string& resultText, const std::string& reportPath,
                                       const MailOptions& options = {});

}  // namespace ortavia
