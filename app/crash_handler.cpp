#include "app/crash_handler.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <execinfo.h>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include "external/tools/sysinfo.h"

namespace ortavia::ui {

namespace {

constexpr const char* kMeaning[] = {
    "0 SEH exception.",
    "1 C++ terminate() call.",
    "2 C++ unexpected() call.",
    "3 C++ pure virtual function call.",
    "4 C++ new operator fault.",
    "5 Buffer overrun error.",
    "6 Invalid parameter exception.",
    "7 C++ SIGABRT signal (abort).",
    "8 C++ SIGFPE signal (floating point exception).",
    "9 C++ SIGILL signal (illegal instruction).",
    "10 C++ SIGINT signal.",
    "11 C++ SIGSEGV signal (invalid storage access)",
    "12 C++ SIGTERM signal (termination request).",
};

// Faults only: SIGINT and SIGTERM are how the desktop asks a program to quit (logout, kill), not
// crashes, so they keep their default action and leave no report.
constexpr int kSignals[] = {SIGABRT, SIGFPE, SIGILL, SIGSEGV, SIGBUS};
constexpr std::size_t kPropertyLimit = 1023;  // the reporter's 1024-byte property buffers

// Prepared at installation; the handlers only read them.
std::string g_header;
std::string g_folder;
std::string g_appName;
bool g_installed = false;
volatile std::sig_atomic_t g_reporting = 0;
std::terminate_handler g_previousTerminate = nullptr;
struct sigaction g_previous[sizeof(kSignals) / sizeof(kSignals[0])];

int ExceptionCode(int sig) {
  switch (sig) {
    case SIGABRT: return 7;
    case SIGFPE: return 8;
    case SIGILL: return 9;
    case SIGSEGV: return 11;
    case SIGBUS: return 11;
    default: return 0;
  }
}

// Async-signal-safe number formatting.
char* AppendUnsigned(char* out, unsigned long long v, int minDigits = 1) {
  char tmp[24];
  int n = 0;
  do {
    tmp[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v > 0 || n < minDigits);
  while (n > 0) *out++ = tmp[--n];
  return out;
}

void WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n <= 0) return;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}
void WriteText(int fd, const char* text) { WriteAll(fd, text, std::strlen(text)); }

// UTC civil date from a day count (Howard Hinnant's algorithm), without library calls.
void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

void WriteReport(int code, int sig) {
  if (g_reporting) return;
  g_reporting = 1;
  const std::time_t now = std::time(nullptr);
  long long y;
  unsigned mo, d;
  CivilFromDays(now / 86400, y, mo, d);
  const long long secs = now % 86400;

  // <folder>/<app>_YYYYMMDD-HHMMSS_<pid>.txt
  char path[4096];
  char* p = path;
  const std::size_t fixed = g_folder.size() + g_appName.size() + 64;
  if (fixed >= sizeof(path)) return;
  std::memcpy(p, g_folder.data(), g_folder.size());
  p += g_folder.size();
  *p++ = '/';
  std::memcpy(p, g_appName.data(), g_appName.size());
  p += g_appName.size();
  *p++ = '_';
  p = AppendUnsigned(p, static_cast<unsigned long long>(y), 4);
  p = AppendUnsigned(p, mo, 2);
  p = AppendUnsigned(p, d, 2);
  *p++ = '-';
  p = AppendUnsigned(p, static_cast<unsigned long long>(secs / 3600), 2);
  p = AppendUnsigned(p, static_cast<unsigned long long>(secs / 60 % 60), 2);
  p = AppendUnsigned(p, static_cast<unsigned long long>(secs % 60), 2);
  *p++ = '_';
  p = AppendUnsigned(p, static_cast<unsigned long long>(::getpid()));
  std::memcpy(p, ".txt", 5);

  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  WriteAll(fd, g_header.data(), g_header.size());
  char line[96];
  char* q = line;
  const char* label = "ExceptionType: ";
  std::memcpy(q, label, std::strlen(label));
  q += std::strlen(label);
  q = AppendUnsigned(q, static_cast<unsigned long long>(code));
  *q++ = '\n';
  WriteAll(fd, line, static_cast<std::size_t>(q - line));
  WriteText(fd, kMeaning[code]);
  WriteText(fd, "\n");
  if (sig != 0) {
    q = line;
    const char* sl = "Signal: ";
    std::memcpy(q, sl, std::strlen(sl));
    q += std::strlen(sl);
    q = AppendUnsigned(q, static_cast<unsigned long long>(sig));
    *q++ = '\n';
    WriteAll(fd, line, static_cast<std::size_t>(q - line));
  }
  WriteText(fd, "\nCall stack:\n");
  void* frames[64];
  const int n = ::backtrace(frames, 64);
  ::backtrace_symbols_fd(frames, n, fd);
  ::close(fd);
}

void OnSignal(int sig) {
  WriteReport(ExceptionCode(sig), sig);
  // Let the default action end the process (and leave a core file where the system keeps them).
  std::signal(sig, SIG_DFL);
  ::raise(sig);
}

void OnTerminate() {
  WriteReport(1, 0);
  std::signal(SIGABRT, SIG_DFL);
  std::abort();
}

std::string Limited(std::string text) {
  if (text.size() > kPropertyLimit) text.resize(kPropertyLimit);
  return text;
}

}  // namespace

std::string ExceptionTypeMeaning() {
  std::string text;
  for (std::size_t i = 0; i < std::size(kMeaning); ++i) {
    if (i > 0) text += '\n';
    text += kMeaning[i];
  }
  return text + ";";
}

std::vector<std::pair<std::string, std::string>> StandardCrashProperties() {
  std::vector<std::pair<std::string, std::string>> props = {
      {"ExceptionTypeMeaning", ExceptionTypeMeaning()},
      {"OS_Info", Limited(GT_GetOSInfo())},
      {"Screen_Pixel_Depth", Limited(GT_GetPixelDepth())},
      {"Screen_Resolution", Limited(GT_GetResolution())},
      {"RAM_Info", Limited(GT_GetRAMInfo())},
  };
  const auto adapters = GT_GetDisplayAdaptersList();
  for (std::size_t i = 0; i < adapters.size(); ++i)
    props.emplace_back("Graphic_Adapter_" + std::to_string(i), Limited(adapters[i]));
  return props;
}

std::string CrashReportHeader() { return g_header; }

bool InstallCrashHandler(const CrashReportSettings& s, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(s.folder, ec);
  if (!std::filesystem::is_directory(s.folder, ec)) {
    if (error) *error = "Cannot create the crash report folder " + s.folder;
    return false;
  }
  const std::string probe = s.folder + "/.probe";
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    if (error) *error = "Cannot write into the crash report folder " + s.folder;
    return false;
  }
  ::close(fd);
  ::unlink(probe.c_str());

  char subject[512];
  std::snprintf(subject, sizeof subject, "%s (ver. %s) Error report", s.appName.c_str(), s.version.c_str());
  std::string header;
  header += "Subject: " + std::string(subject) + "\n";
  header += "Application: " + s.appName + "\n";
  header += "Version: " + s.version + "\n";
  header += "Recipient: " + s.recipient + "\n";
  header += "URL: " + s.url + "\n";
  header += "Restart: " + s.restartCommand + "\n";
  header += "\n";
  for (const auto& [name, value] : s.properties) header += "[" + name + "]\n" + value + "\n";
  header += "\n";

  g_header = std::move(header);
  g_folder = s.folder;
  g_appName = s.appName;
  g_reporting = 0;
  if (!g_installed) {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
      struct sigaction sa {};
      sa.sa_handler = OnSignal;
      sigemptyset(&sa.sa_mask);
      sa.sa_flags = SA_RESETHAND;
      sigaction(kSignals[i], &sa, &g_previous[i]);
    }
    g_previousTerminate = std::set_terminate(OnTerminate);
    g_installed = true;
  }
  return true;
}

void UninstallCrashHandler() {
  if (!g_installed) return;
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
  std::set_terminate(g_previousTerminate);
  g_installed = false;
}

}  // namespace ortavia::ui
