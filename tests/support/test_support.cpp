#include "test_support.hpp"

#ifdef QUOTALUME_UNDER_ASAN
// GCC's runtime has the call but ships no header for it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace quotalume::test {

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quotalume-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    // Resolved, so that paths compare equal to what a child sees as its working directory.
    path_ = std::filesystem::canonical(pattern);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::write(const std::string& name, std::string_view content) const {
    auto file = path_ / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    return file;
}

std::string TempDir::read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

FakeCodexHome::FakeCodexHome(std::string_view script) {
    write("script", script);
}

std::string FakeCodexHome::executable() {
    return QUOTALUME_FAKE_APP_SERVER;
}

std::vector<std::string> FakeCodexHome::receivedLines() const {
    std::vector<std::string> lines;
    std::istringstream in(read("received"));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<nlohmann::json> FakeCodexHome::receivedMessages() const {
    std::vector<nlohmann::json> messages;
    for (const auto& line : receivedLines()) {
        messages.push_back(nlohmann::json::parse(line));
    }
    return messages;
}

nlohmann::json FakeCodexHome::launchInfo() const {
    return nlohmann::json::parse(read("launch.json"));
}

pid_t FakeCodexHome::launchedPid() const {
    pid_t pid = 0;
    eventually([&] {
        const auto info = nlohmann::json::parse(read("launch.json"), nullptr, false);
        return (pid = info.is_object() ? info.value("pid", pid_t{0}) : 0) != 0;
    });
    return pid;
}

std::size_t FakeCodexHome::starts() const {
    const auto lines = receivedLines();
    return std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("\"initialize\"") != std::string::npos;
    });
}

namespace {

void setOrUnset(const std::string& name, const char* value) {
    value != nullptr ? ::setenv(name.c_str(), value, 1) : ::unsetenv(name.c_str());
}

}  // namespace

ScopedEnvironment::ScopedEnvironment(std::string name, const char* value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) {
        previous_ = old;
    }
    setOrUnset(name_, value);
}

ScopedEnvironment::~ScopedEnvironment() {
    setOrUnset(name_, previous_ ? previous_->c_str() : nullptr);
}

std::function<const char*(const char*)> environmentOf(
    std::map<std::string, std::string> variables) {
    return [variables = std::move(variables)](const char* name) -> const char* {
        auto found = variables.find(name);
        return found == variables.end() ? nullptr : found->second.c_str();
    };
}

ScopedUmask::ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}
ScopedUmask::~ScopedUmask() {
    ::umask(previous_);
}

mode_t modeOf(const std::filesystem::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

std::vector<std::string> entriesOf(const std::filesystem::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        // The usage timeline's database, with its WAL files, lives beside what is checked.
        if (!entry.path().filename().string().starts_with("usage.sqlite3")) {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

int errnoOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const std::system_error& error) {
        return error.code().value();
    }
    return 0;
}

UsageSnapshot reading(double observedAt, std::optional<WindowReading> fiveHour,
                      std::optional<WindowReading> weekly, std::string account) {
    RateBucket bucket;
    if (fiveHour) {
        bucket.primary = RateWindow{fiveHour->used, 300, fiveHour->resetsAt};
    }
    if (weekly) {
        bucket.secondary = RateWindow{weekly->used, 10080, weekly->resetsAt};
    }
    return {dateFromUnixSeconds(observedAt), std::move(account), {bucket}};
}

std::string hmacSHA256Hex(const std::string& key, const std::string& message) {
    unsigned char code[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(message.data()), message.size(), code, &length);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += "0123456789abcdef"[code[i] >> 4];
        hex += "0123456789abcdef"[code[i] & 0xF];
    }
    return hex;
}

int openDescriptorCount() {
    return static_cast<int>(
        std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

bool hasChildren() {
    siginfo_t info{};
    return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 || errno != ECHILD;
}

std::vector<WriteFault> writeFaults() {
    const auto real = FileOperations::system();
    // Fails the step, with errno set to `error`.
    auto fails = [](int error) {
        errno = error;
        return true;
    };
    auto opening = [=](int error) {
        FileOperations operations = real;
        operations.open = [=](const char* path, int flags, mode_t mode) {
            return fails(error) ? -1 : real.open(path, flags, mode);
        };
        return operations;
    };
    auto writing = [=](int error) {
        FileOperations operations = real;
        operations.write = [=](int fd, const void* data, std::size_t size) -> ssize_t {
            // A write of nothing (error 0) is reported as EIO.
            return fails(error) ? (error == 0 ? 0 : -1) : real.write(fd, data, size);
        };
        return operations;
    };
    FileOperations syncing = real;
    syncing.fsync = [=](int fd) { return fails(EIO) ? -1 : real.fsync(fd); };
    FileOperations renaming = real;
    renaming.rename = [=](const char* from, const char* to) {
        return fails(EXDEV) ? -1 : real.rename(from, to);
    };
    return {
        {"refused", opening(EACCES), EACCES},
        {"read-only", opening(EROFS), EROFS},
        {"disk full", writing(ENOSPC), ENOSPC},
        {"no progress", writing(0), EIO},
        {"fsync", syncing, EIO},
        {"rename", renaming, EXDEV},
    };
}

bool processAlive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return false;
    }
    // The state follows the command name, which is in parentheses and may hold anything.
    auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        ::usleep(5000);
    }
    return true;
}

std::size_t liveHeapBytes() {
#if defined(QUOTALUME_UNDER_ASAN)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

}  // namespace quotalume::test
