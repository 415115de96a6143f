// Giving memory freed by a finished step back to the system.
#pragma once

namespace ravelin::cli {

// The tables a step builds grow by reallocation, and the allocator keeps what they leave
// behind in the arena of the thread that built them (a job's thread), where the steps that
// follow on other threads cannot use it. Called between steps, so that a run's peak is what
// it holds, not what it once held.
void ReturnFreedMemory();

}  // namespace ravelin::cli
