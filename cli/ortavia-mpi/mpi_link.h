#pragma once
// The few messages the ranks exchange, over MPI_COMM_WORLD as byte strings. Nothing here blocks
// for long: waits poll with short sleeps, so that a waiting rank leaves its core to the others
// (Open MPI's blocking receive spins) and still notices Stop.
#include <functional>
#include <string>

namespace ortavia::mpi {

enum Tag : int {
  kStart = 1,  // rank 0 -> others: ClusterStart
  kReady,      // others -> rank 0: host, pid and why the rank cannot take part (empty: it can)
  kWork,       // rank 0 -> others: the next position to warp, -1 for none
  kReport,     // others -> rank 0: an ImageReport, which also asks for the next position
  kAbort,      // rank 0 -> others: stop the image in progress
};

int Rank();
int Size();

void Send(int dest, Tag tag, const std::string& bytes);

// Receives a waiting message of `tag` from `source` (MPI_ANY_SOURCE allowed); false when none.
bool Poll(int source, Tag tag, std::string* bytes, int* from = nullptr);

// Polls until a message arrives (true) or giveUp() says so (false).
bool Wait(int source, Tag tag, std::string* bytes, const std::function<bool()>& giveUp,
          int* from = nullptr);

// "host\npid\ncause" of the ready message, and back.
std::string ReadyText(const std::string& cause);
struct Ready {
  std::string host;
  long pid = 0;
  std::string cause;
};
Ready ParseReady(const std::string& text);

std::string HostName();

}  // namespace ortavia::mpi
