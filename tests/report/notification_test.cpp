#include "report/notification.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "external/tools/profile.h"
#include "support/fake_smtp.h"
#include "support/test_env.h"

namespace ortavia {
namespace {

using test::FakeSmtpServer;

TEST(Notification, SettingsRoundTripThroughTheProfile) {
  const MailSettings written{false, "a@b.example, c@d.example", "smtp.example.com:587", "Block 7"};
  ASSERT_TRUE(WriteMailSettings(written));
  EXPECT_EQ(GT_GetUserProfileString("EMailSettings", "bSendEmail", "?"), "0");
  EXPECT_EQ(GT_GetUserProfileString("EMailSettings", "SMTP_To", "?"), "a@b.example, c@d.example");
  EXPECT_EQ(GT_GetUserProfileString("EMailSettings", "SMTP_Server", "?"), "smtp.example.com:587");
  EXPECT_EQ(GT_GetUserProfileString("EMailSettings", "SMTP_Subject", "?"), "Block 7");
  EXPECT_EQ(ReadMailSettings(), written);
  // Only the text "1" switches sending on.
  for (const auto& [text, on] : {std::pair{"1", true}, {"0", false}, {"yes", false}, {"", false}}) {
    GT_WriteUserProfileString("EMailSettings", "bSendEmail", text);
    EXPECT_EQ(ReadMailSettings().sendEmail, on) << text;
  }
}

TEST(Notification, WantedOnlyWhenOnWithRecipientsAndServer) {
  struct Case {
    MailSettings s;
    bool wanted;
  };
  const Case cases[] = {
      {{true, "a@b.example", "host", ""}, true},
      {{false, "a@b.example", "host", ""}, false},
      {{true, "", "host", ""}, false},
      {{true, "a@b.example", "", ""}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(NotificationWanted(c.s), c.wanted) << c.s.recipients << "|" << c.s.smtpServer;
}

TEST(Notification, BodyAndDefaultSubject) {
  EXPECT_EQ(DefaultMailSubject(), "Ortavia - Process Finished");
  EXPECT_EQ(NotificationBody("ws-12", "ann", "0:01:05", "Process aborted by user"),
            "Short Report\n-------\n\n- Computer Name:ws-12\n- User Name:ann\n- Process Time: 0:01:05\n"
            "- Process aborted by user\n\n\nFull report:\n\n");
}

std::string SubjectOf(const std::string& data) {
  const auto at = data.find("\nSubject: ");
  return at == std::string::npos ? "" : data.substr(at + 10, data.find('\n', at + 1) - at - 10);
}

TEST(Notification, SentWithTheReportOnlyWhenItWasWritten) {
  const auto folder = test::MakeTempDir("notify");
  const std::string report = (folder / "report.txt").string();
  std::ofstream(report) << "Process result: Process DONE\n";
  struct Case {
    MailSettings settings;
    std::string reportPath;
    bool attempted;
    const char* subject;
    bool attached;
  };
  FakeSmtpServer server;
  const std::string address = server.Address();
  const Case cases[] = {
      {{true, "ops@x.example", address, ""}, report, true, "Ortavia - Process Finished", true},
      {{true, "ops@x.example", address, "Block 7 done"}, "", true, "Block 7 done", false},
      {{true, "", address, ""}, report, false, "", false},
      {{false, "ops@x.example", address, ""}, report, false, "", false},
  };
  size_t delivered = 0;
  for (const Case& c : cases) {
    const NotificationResult r = SendRunNotification(c.settings, "0:00:07", "Process DONE", c.reportPath);
    EXPECT_EQ(r.attempted, c.attempted);
    if (!c.attempted) {
      EXPECT_EQ(server.Messages().size(), delivered) << "nothing sent";
      continue;
    }
    ASSERT_TRUE(r.mail.sent) << r.mail.error;
    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), ++delivered);
    const std::string& data = messages.back();
    EXPECT_EQ(SubjectOf(data), c.subject);
    EXPECT_EQ(data.find("filename=\"report.txt\"") != std::string::npos, c.attached);
    EXPECT_NE(data.find("Process Time: 0:00:07"), std::string::npos) << data;
  }
  EXPECT_EQ(server.Commands().front().rfind("EHLO", 0), 0u);
  EXPECT_NE(server.Commands()[1].find("MAIL FROM:<ortavia-notification@varnellsoftware.com>"), std::string::npos);
}

}  // namespace
}  // namespace ortavia
