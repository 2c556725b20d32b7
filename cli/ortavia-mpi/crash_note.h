#pragma once
// A rank that crashes while warping names itself and the image on stderr and ends with exit code 4
// (a process error), which mpirun passes on as the run's exit code after stopping the others.
#include <string>

namespace ortavia::mpi {

// Installs the handlers of the crash signals (segmentation fault, bus error, floating-point
// exception, illegal instruction, abort). Call after MPI_Init, which installs its own.
void InstallCrashNote();

// What this thread is doing, written out if it crashes; empty: nothing worth naming.
void SetCrashNote(const std::string& text);

}  // namespace ortavia::mpi
