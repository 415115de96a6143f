// Ctrl-C and SIGTERM on the command line. By default a signal removes the temporary files
// of the outputs being written (the core's registry) and ends the program with 128 + the
// signal's number (130 for Ctrl-C), so an interrupted extraction leaves nothing behind.
// While a StopOnInterrupt lives (a scan), the first signal only asks the work to stop, so
// that what it found is kept and saved; a second one ends the program as above.
#pragma once

namespace ravelin::cli {

// Installs the SIGINT and SIGTERM handlers (main calls it once).
void InstallInterruptHandlers();

// Turns the first SIGINT/SIGTERM into a stop request for its lifetime.
class StopOnInterrupt {
 public:
  StopOnInterrupt();
  ~StopOnInterrupt();
  StopOnInterrupt(const StopOnInterrupt&) = delete;
  StopOnInterrupt& operator=(const StopOnInterrupt&) = delete;

  // True once, after a signal asked to stop.
  bool TakeRequest();
  // A signal asked to stop at some point of this object's life.
  bool Requested() const;
  // The exit code for a run that stopped so: 128 + the signal's number (130 for Ctrl-C,
  // 143 for SIGTERM).
  int ExitCode() const;
};

}  // namespace ravelin::cli
