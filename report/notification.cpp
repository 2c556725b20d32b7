#include "report/notification.h"

#include <cstdio>

#include "external/tools/profile.h"
#include "external/tools/sysinfo.h"
#include "report/mail_password.h"

namespace ortavia {

MailSettings ReadMailSettings() {
  MailSettings s;
  s.sendEmail = GT_GetUserProfileString(kEmailSettingsSection, "bSendEmail", "1") == "1";
  s.recipients = GT_GetUserProfileString(kEmailSettingsSection, "SMTP_To", "");
  s.smtpServer = GT_GetUserProfileString(kEmailSettingsSection, "SMTP_Server", "");
  s.subject = GT_GetUserProfileString(kEmailSettingsSection, "SMTP_Subject", "");
  s.user = GT_GetUserProfileString(kEmailSettingsSection, "SMTP_User", "");
  s.sender = GT_GetUserProfileString(kEmailSettingsSection, "SMTP_From", "");
  s.password = LoadMailPassword();
  return s;
}

bool WriteMailSettings(const MailSettings& s) {
  return GT_WriteUserProfileString(kEmailSettingsSection, "SMTP_Server", s.smtpServer.c_str()) &&
         GT_WriteUserProfileString(kEmailSettingsSection, "SMTP_Subject", s.subject.c_str()) &&
         GT_WriteUserProfileString(kEmailSettingsSection, "SMTP_To", s.recipients.c_str()) &&
         GT_WriteUserProfileString(kEmailSettingsSection, "bSendEmail", s.sendEmail ? "1" : "0") &&
         GT_WriteUserProfileString(kEmailSettingsSection, "SMTP_User", s.user.c_str()) &&
         GT_WriteUserProfileString(kEmailSettingsSection, "SMTP_From", s.sender.c_str()) &&
         StoreMailPassword(s.password);
}

MailMessage MailMessageFor(const MailSettings& s) {
  MailMessage m;
  m.server = s.smtpServer;
  m.recipients = s.recipients;
  m.sender = s.sender.empty() ? kMailSender : s.sender;
  m.user = s.user;
  m.password = s.password;
  return m;
}

std::string DefaultMailSubject() { return "Ortavia - Process Finished"; }

std::string NotificationBody(const std::string& computer, const std::string& user,
                             const std::string& elapsed, const std::string& resultText) {
  return "Short Report\n-------\n\n- Computer Name:" + computer + "\n- User Name:" + user +
         "\n- Process Time: " + elapsed + "\n- " + resultText + "\n\n\nFull report:\n\n";
}

bool NotificationWanted(const MailSettings& s) {
  return s.sendEmail && !s.recipients.empty() && !s.smtpServer.empty();
}

NotificationResult SendRunNotification(const MailSettings& settings, const std::string& elapsed,
                                       const std::string& resultText, const std::string& reportPath,
                                       const MailOptions& options) {
  NotificationResult result;
  if (!NotificationWanted(settings)) return result;
  result.attempted = true;
  MailMessage m = MailMessageFor(settings);
  m.subject = settings.subject.empty() ? DefaultMailSubject() : settings.subject;
  m.body = NotificationBody(GT_GetComputerName(), GT_GetUserName(), elapsed, resultText);
  m.attachment = reportPath;
  result.mail = SendMail(m, options);
  return result;
}

}  // namespace ortavia
