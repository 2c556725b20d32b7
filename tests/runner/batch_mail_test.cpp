// ortavia-batch run --mail-to LIST --smtp-server S [--subject T].
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "runner/batch_options.h"
#include "runner/batch_runner.h"
#include "runner/sample_project.h"
#include "support/fake_smtp.h"
#include "support/test_env.h"

namespace ortavia {
namespace {

namespace fs = std::filesystem;
using test::FakeSmtpServer;

std::vector<std::string> RunArgs(const SampleFiles& f, const std::string& out) {
  std::vector<std::string> a = {"run", "--dem", f.dem, "--passport", f.passport, "--eo", f.orientations,
                                "--gsd", "0.5", "--out", out, "--overwrite", "--images"};
  a.insert(a.end(), f.images.begin(), f.images.end());
  return a;
}

TEST(BatchMail, OptionsGoTogetherAndAreCheckedBeforeTheRun) {
  SampleFiles f;
  f.dem = "dem.tif";
  f.passport = "cam.bcc";
  f.orientations = "eo.txt";
  f.images = {"a.tif"};
  struct Case {
    std::vector<std::string> extra;
    const char* error;  // start of the refusal; empty = accepted
    bool send;
  };
  const Case cases[] = {
      {{}, "", false},
      {{"--mail-to", "ops@a.example", "--smtp-server", "mail.a.example:2525"}, "", true},
      {{"--mail-to", "ops@a.example, b@c.example", "--smtp-server", "smtps://mail.a.example", "--subject", "Block 7"}, "", true},
      {{"--mail-to", "ops@a.example"}, "--mail-to and --smtp-server go together", false},
      {{"--smtp-server", "mail.a.example"}, "--mail-to and --smtp-server go together", false},
      {{"--subject", "x"}, "--subject needs --mail-to and --smtp-server", false},
      {{"--mail-to", "nobody", "--smtp-server", "mail.a.example"}, "--mail-to: not an e-mail address", false},
      {{"--mail-to", "ops@a.example", "--smtp-server", "http://mail.a.example"}, "--smtp-server: ", false},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = RunArgs(f, "/tmp/out");
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    BatchCommand cmd;
    const std::string error = ParseBatchCommand(args, &cmd);
    if (*c.error == '\0') {
      EXPECT_EQ(error, "") << c.extra.size();
      EXPECT_EQ(cmd.mail.sendEmail, c.send);
    } else {
      EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
  }
  BatchCommand cmd;
  std::vector<std::string> args = RunArgs(f, "/tmp/out");
  for (const char* a : {"--mail-to", "x@y.example", "--smtp-server", "h", "--subject", "S 1"}) args.push_back(a);
  ASSERT_EQ(ParseBatchCommand(args, &cmd), "");
  EXPECT_EQ(cmd.mail, (MailSettings{true, "x@y.example", "h", "S 1"}));
}

class BatchMailRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new fs::path(test::MakeTempDir("batchmail"));
    files_ = new SampleFiles;
    SampleOptions o;
    o.images = 2;
    o.width = 240;
    o.height = 180;
    o.demSize = 48;
    ASSERT_EQ(WriteSampleProject((*dir_ / "p").string(), o, {}, files_), "");
  }
  static void TearDownTestSuite() {
    delete files_;
    delete dir_;
  }
  int Run(const std::vector<std::string>& extra) {
    std::vector<std::string> args = RunArgs(*files_, (*dir_ / "out").string());
    args.insert(args.end(), extra.begin(), extra.end());
    BatchIo io;
    io.ctx.log = [this](const std::string& l) { log += l + "\n"; };
    io.error = [this](const std::string& e) { errors += e + "\n"; };
    io.out = [](const std::string&) {};
    return RunBatchCommand(args, io);
  }
  static fs::path* dir_;
  static SampleFiles* files_;
  std::string log, errors;
};
fs::path* BatchMailRun::dir_ = nullptr;
SampleFiles* BatchMailRun::files_ = nullptr;

TEST_F(BatchMailRun, AGoodRunIsMailedWithItsReport) {
  FakeSmtpServer server;
  EXPECT_EQ(Run({"--mail-to", "ops@a.example", "--smtp-server", server.Address(), "--subject", "Block 7"}), kBatchDone);
  ASSERT_EQ(server.Messages().size(), 1u) << errors;
  const std::string data = server.Messages()[0];
  EXPECT_NE(data.find("\nSubject: Block 7\n"), std::string::npos);
  EXPECT_NE(data.find("- Process DONE"), std::string::npos);
  const size_t part = data.find("filename=\"report.txt\"");
  ASSERT_NE(part, std::string::npos);
  const size_t body = data.find("\n\n", part) + 2;
  std::ifstream in(*dir_ / "out" / "report.txt");
  std::stringstream report;
  report << in.rdbuf();
  EXPECT_EQ(test::DecodeBase64(data.substr(body, data.find("\n--", body) - body)), report.str());
  EXPECT_NE(log.find("email sent!"), std::string::npos);
  EXPECT_EQ(errors, "");
}

TEST_F(BatchMailRun, AFailedMailIsToldAndKeepsTheExitCode) {
  FakeSmtpServer refusing(FakeSmtpServer::Mode::RefuseRecipient);
  for (const std::string& server : {refusing.Address(), "127.0.0.1:" + std::to_string(FakeSmtpServer::ClosedPort())}) {
    errors.clear();
    EXPECT_EQ(Run({"--mail-to", "ops@a.example", "--smtp-server", server}), kBatchDone) << server;
    EXPECT_NE(errors.find("Unable to send email to ops@a.example through " + server + ": "), std::string::npos) << errors;
    EXPECT_TRUE(fs::exists(*dir_ / "out" / "report.txt"));
    if (server == refusing.Address()) {
      EXPECT_NE(errors.find("550"), std::string::npos) << "the server's answer is named";
    }
  }
}

}  // namespace
}  // namespace ortavia
