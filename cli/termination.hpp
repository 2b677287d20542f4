#pragma once

namespace quotalume::cli {

// On SIGINT, SIGTERM or SIGHUP, ends every Codex child still running (with its whole process
// group) and then dies of the signal as it would have, so a status bar that stops us leaves
// nothing behind.
void endChildrenOnTermination();

}  // namespace quotalume::cli
