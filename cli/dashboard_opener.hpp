#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace quotalume::cli {

// What a click on a notification of `watch` does: it starts the tray application with
// `--show`. A running one takes that over its single-instance socket and opens its dashboard,
// so the new process ends at once; otherwise the new one runs with the dashboard open.
class DashboardOpener {
public:
    // A name → its path on PATH, empty when missing.
    using Find = std::function<std::string(const std::string&)>;
    // Starts `program` detached with `arguments`; `activationToken` (may be empty) goes into its
    // environment, never onto its command line. False when it could not.
    using Start =
        std::function<bool(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& activationToken)>;

    // `besideUs`: the folder of the running quotalume-cli, where an installed quotalume lives.
    DashboardOpener(std::filesystem::path besideUs, Find find, Start start);

    // False when no quotalume was found, or it could not start. A token that is not a valid
    // one is left out.
    bool open(const std::string& activationToken) const;

private:
    std::filesystem::path besideUs_;
    Find find_;
    Start start_;
};

}  // namespace quotalume::cli
