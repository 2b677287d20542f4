#pragma once

namespace quotalume {

// libcurl's process-wide set-up, done once whichever thread gets here first. Throws
// std::runtime_error when libcurl cannot be initialised.
void ensureCurlInitialized();

}  // namespace quotalume
