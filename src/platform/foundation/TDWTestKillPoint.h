#pragma once

// A crash test's way to stop the program at a chosen durable write (a store
// save or a safe-file commit), to show that a kill at any such point loses
// nothing the next run cannot finish. Inert unless the environment variable
// TDW_TEST_KILL_AT_WRITE is set when the program starts:
//   0  the writes are only counted (writesSoFar());
//   n  the process kills itself with SIGKILL just before its n-th write, so
//      nothing is flushed, closed or rolled back on the way out.
namespace TDWTestKillPoint {

// Called by the writers just before a write becomes durable.
void beforeDurableWrite();
// The writes counted so far; 0 when the variable is not set.
int writesSoFar();

} // namespace TDWTestKillPoint
