// process_probe.h - looking at processes a test did not start itself (a launcher that a
// launcher restarted): alive or not, its executable, its file locks; and signalling it.
#pragma once

#include <string>

namespace testsupport {

// True while `pid` names a process that has not ended (a zombie counts as ended).
bool processAlive(int pid);
// Sends `signalNumber` (kSigTerm, kSigKill of child_process.h) to `pid`.
void signalProcess(int pid, int signalNumber);
// Target of /proc/PID/exe ("" when it cannot be read); it ends in " (deleted)" when the
// file the process runs was renamed over or removed.
std::string processExecutable(int pid);

enum class LockRole { None, Holds, Waits };
// What `pid` does with flock locks right now, from /proc/locks: waits for one (blocked in
// the kernel; said even when it also holds another), holds one, or neither.
LockRole flockRole(int pid);

} // namespace testsupport
