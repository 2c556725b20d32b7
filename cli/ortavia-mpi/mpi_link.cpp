#include "mpi_link.h"

#include <chrono>
#include <thread>
#include <vector>

#include <mpi.h>
#include <unistd.h>

namespace ortavia::mpi {

int Rank() {
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  return rank;
}

int Size() {
  int size = 1;
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  return size;
}

void Send(int dest, Tag tag, const std::string& bytes) {
  MPI_Send(bytes.data(), static_cast<int>(bytes.size()), MPI_CHAR, dest, tag, MPI_COMM_WORLD);
}

bool Poll(int source, Tag tag, std::string* bytes, int* from) {
  int waiting = 0;
  MPI_Status status;
  MPI_Iprobe(source, tag, MPI_COMM_WORLD, &waiting, &status);
  if (!waiting) return false;
  int count = 0;
  MPI_Get_count(&status, MPI_CHAR, &count);
  std::vector<char> buffer(count > 0 ? count : 1);
  MPI_Recv(buffer.data(), count, MPI_CHAR, status.MPI_SOURCE, tag, MPI_COMM_WORLD,
           MPI_STATUS_IGNORE);
  bytes->assign(buffer.data(), count);
  if (from) *from = status.MPI_SOURCE;
  return true;
}

bool Wait(int source, Tag tag, std::string* bytes, const std::function<bool()>& giveUp,
          int* from) {
  while (!Poll(source, tag, bytes, from)) {
    if (giveUp && giveUp()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::string HostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

std::string ReadyText(const std::string& cause) {
  return HostName() + "\n" + std::to_string(getpid()) + "\n" + cause;
}

Ready ParseReady(const std::string& text) {
  Ready ready;
  const std::size_t a = text.find('\n');
  const std::size_t b = a == std::string::npos ? a : text.find('\n', a + 1);
  if (b == std::string::npos) {
    ready.cause = "garbled ready message";
    return ready;
  }
  ready.host = text.substr(0, a);
  ready.pid = std::strtol(text.substr(a + 1, b - a - 1).c_str(), nullptr, 10);
  ready.cause = text.substr(b + 1);
  return ready;
}

}  // namespace ortavia::mpi
