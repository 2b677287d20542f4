#include "dashboard_opener.hpp"

#include <quotalume/coordination/local_protocol.hpp>

#include <unistd.h>

#include <system_error>

namespace quotalume::cli {

DashboardOpener::DashboardOpener(std::filesystem::path besideUs, Find find, Start start)
    : besideUs_(std::move(besideUs)), find_(std::move(find)), start_(std::move(start)) {}

bool DashboardOpener::open(const std::string& activationToken) const {
    // The one installed with us first: another on PATH may be another version.
    std::string program = (besideUs_ / "quotalume").string();
    std::error_code error;
    if (!std::filesystem::is_regular_file(program, error) || ::access(program.c_str(), X_OK) != 0) {
        program = find_("quotalume");
    }
    if (program.empty()) {
        return false;
    }
    return start_(program, {"--show"},
                  local_protocol::isValidToken(activationToken) ? activationToken : std::string());
}

}  // namespace quotalume::cli
