#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace quotalume::cli {

// A mistake in how the program was called: reported with the usage hint, exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Options in "--name value" or "--name=value" form; flags take no value.
class Arguments {
public:
    explicit Arguments(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {}

    bool flag(const std::string& name);
    std::optional<std::string> value(const std::string& name);
    // Takes every argument still left, in order: the operands, once the options are taken.
    std::vector<std::string> rest() { return std::exchange(arguments_, {}); }
    // Fails with a UsageError naming the first argument nobody asked for.
    void finish() const;

private:
    std::vector<std::string> arguments_;
};

enum ExitStatus { success = 0, failure = 1, usage = 2 };

}  // namespace quotalume::cli
