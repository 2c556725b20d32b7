#include "crash_note.h"

#include <algorithm>
#include <csignal>
#include <cstring>

#include <unistd.h>

namespace ortavia::mpi {
namespace {

thread_local char t_note[1024] = {};

const char* SignalName(int sig) {
  switch (sig) {
    case SIGSEGV: return "segmentation fault";
    case SIGBUS: return "bus error";
    case SIGFPE: return "floating-point exception";
    case SIGILL: return "illegal instruction";
    case SIGABRT: return "aborted";
    default: return "crashed";
  }
}

void WriteAll(const char* text) {
  std::size_t left = std::strlen(text);
  while (left > 0) {
    const ssize_t n = write(STDERR_FILENO, text, left);
    if (n <= 0) return;
    text += n;
    left -= static_cast<std::size_t>(n);
  }
}

extern "C" void OnCrash(int sig) {
  // Only async-signal-safe calls from here on.
  if (t_note[0] != '\0') {
    WriteAll(t_note);
    WriteAll(": ");
    WriteAll(SignalName(sig));
    WriteAll("\n");
  }
  _exit(4);
}

}  // namespace

void InstallCrashNote() {
  struct sigaction action {};
  action.sa_handler = OnCrash;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) sigaction(sig, &action, nullptr);
}

void SetCrashNote(const std::string& text) {
  const std::size_t n = std::min(text.size(), sizeof t_note - 1);
  std::memcpy(t_note, text.data(), n);
  t_note[n] = '\0';
}

}  // namespace ortavia::mpi
