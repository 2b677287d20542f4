#include <quotalume/json_decoding_error.hpp>
#include <quotalume/quotalume_error.hpp>
#include <quotalume/text.hpp>
#include <quotalume/uuid.hpp>
#include <quotalume/webhook_configuration_store.hpp>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace quotalume {
namespace {

using nlohmann::json;

// The file holds four short strings; anything this large is not ours.
constexpr off_t largestFile = 1 << 20;

[[noreturn]] void readFailure(long long code) {
    throw QuotalumeError::webhook(LocalizedMessage("error.config_read", {std::to_string(code)}));
}

[[noreturn]] void writeFailure(int code) {
    throw QuotalumeError::webhook(LocalizedMessage("error.config_write", {std::to_string(code)}));
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int close() {
        int result = fd_ >= 0 ? ::close(fd_) : 0;
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

// Removes the temporary file on every way out unless the rename took it away.
class TemporaryPath {
public:
    explicit TemporaryPath(std::string path) : path_(std::move(path)) {}
    ~TemporaryPath() {
        if (!renamed_) {
            ::unlink(path_.c_str());
        }
    }
    TemporaryPath(const TemporaryPath&) = delete;
    TemporaryPath& operator=(const TemporaryPath&) = delete;
    const char* c_str() const { return path_.c_str(); }
    void renamed() { renamed_ = true; }

private:
    std::string path_;
    bool renamed_ = false;
};

// Every missing folder on the way is created 0700; existing ones are left as they are.
void createDirectories(const std::filesystem::path& directory) {
    if (directory.empty() || ::mkdir(directory.c_str(), 0700) == 0 || errno == EEXIST) {
        return;
    }
    if (errno != ENOENT) {
        writeFailure(errno);
    }
    createDirectories(directory.parent_path());
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        writeFailure(errno);
    }
}

std::string encode(const WebhookConfiguration& configuration) {
    try {
        return json(configuration).dump(2) + "\n";
    } catch (const json::type_error&) {
        writeFailure(EILSEQ);  // text that is not UTF-8
    }
}

}  // namespace

WebhookConfigurationStore::FileOperations WebhookConfigurationStore::FileOperations::system() {
    return {::write, ::fsync, ::rename};
}

WebhookConfigurationStore::WebhookConfigurationStore(std::optional<std::filesystem::path> directory,
                                                     FileOperations operations)
    : directory_(directory ? std::move(*directory) : defaultDirectory()),
      operations_(std::move(operations)) {}

std::filesystem::path WebhookConfigurationStore::defaultDirectory(
    const std::function<const char*(const char*)>& environment) {
    auto lookup = [&](const char* name) -> std::string {
        const char* value = environment ? environment(name) : std::getenv(name);
        return value != nullptr ? value : "";
    };
    std::filesystem::path dataHome = lookup("XDG_DATA_HOME");
    if (!dataHome.is_absolute()) {
        std::filesystem::path home = lookup("HOME");
        if (!home.is_absolute()) {
            home = userHomeDirectory();
        }
        if (!home.is_absolute()) {
            throw std::system_error(ENOENT, std::system_category(),
                                    "no home directory for the webhook settings");
        }
        dataHome = home / ".local" / "share";
    }
    return dataHome / "Quotalume";
}

WebhookConfiguration WebhookConfigurationStore::load() const {
    const std::filesystem::path path = url();
    // Non-blocking, so that a FIFO in the file's place cannot stall the caller.
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return {};
        }
        readFailure(errno);
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        readFailure(errno);
    }
    if (S_ISDIR(status.st_mode)) {
        readFailure(EISDIR);
    }
    if (!S_ISREG(status.st_mode)) {
        readFailure(EINVAL);
    }
    if (status.st_size > largestFile) {
        readFailure(EFBIG);
    }
    std::string content;
    char buffer[4096];
    for (;;) {
        ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            readFailure(errno);
        }
        if (count == 0) {
            break;
        }
        content.append(buffer, static_cast<std::size_t>(count));
        if (content.size() > static_cast<std::size_t>(largestFile)) {
            readFailure(EFBIG);
        }
    }

    try {
        return json::parse(content).get<WebhookConfiguration>();
    } catch (const json::parse_error&) {
        readFailure(3840);
    } catch (const JSONDecodingError& error) {
        readFailure(error.code());
    }
}

void WebhookConfigurationStore::save(const WebhookConfiguration& configuration) const {
    const std::string content = encode(configuration);
    createDirectories(directory_);

    TemporaryPath temporary((directory_ / (".webhook-" + randomUUID() + ".tmp")).string());
    // Exclusive and owner-only from the first instant: the file holds the credentials.
    Descriptor file(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (file.get() < 0) {
        writeFailure(errno);
    }
    // A strict umask may have narrowed the mode; the owner still needs to read the file back.
    if (::fchmod(file.get(), 0600) != 0) {
        writeFailure(errno);
    }
    for (std::size_t written = 0; written < content.size();) {
        ssize_t count =
            operations_.write(file.get(), content.data() + written, content.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            writeFailure(count < 0 ? errno : EIO);
        }
        written += static_cast<std::size_t>(count);
    }
    if (operations_.fsync(file.get()) != 0) {
        writeFailure(errno);
    }
    if (file.close() != 0) {
        writeFailure(errno);
    }
    if (operations_.rename(temporary.c_str(), url().c_str()) != 0) {
        writeFailure(errno);
    }
    temporary.renamed();

    // Makes the rename itself durable; the new file is already in place, so a failure here
    // is not a failed save.
    Descriptor folder(::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) {
        ::fsync(folder.get());
    }
}

}  // namespace quotalume
