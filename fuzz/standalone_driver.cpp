// Runs a libFuzzer target without libFuzzer, so the gcc builds of the test suite exercise it:
// every file of the corpus folders first, then random mutations of those entries until the
// time budget is spent. The seed is fixed; the input that failed is kept to replay it.
//
//   <target>_check [-max_total_time=SECONDS] [-dict=FILE] [-seed=N] CORPUS_DIR_OR_FILE...
//
// Exits 0 when every input ran cleanly, 1 when the target failed on one (it is written to
// crash-<target> in the working folder), 2 on bad arguments.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Present in sanitizer builds: called when a sanitizer ends the process.
extern "C" __attribute__((weak)) void __sanitizer_set_death_callback(void (*callback)());

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

constexpr std::size_t maximumInputBytes = 64 * 1024;

// The input being run, for the crash handlers.
const std::uint8_t* currentData = nullptr;
std::size_t currentSize = 0;
char crashPath[512] = "crash";

// Writes the input that was running; async-signal-safe.
void saveCurrentInput() {
    if (currentData == nullptr) {
        return;  // between inputs, e.g. a leak found at exit
    }
    int file = ::open(crashPath, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (file < 0) {
        return;
    }
    for (std::size_t written = 0; written < currentSize;) {
        ssize_t count = ::write(file, currentData + written, currentSize - written);
        if (count <= 0) {
            break;
        }
        written += static_cast<std::size_t>(count);
    }
    ::close(file);
    static const char note[] = "\nfuzz check: the failing input is saved as ";
    (void)!::write(STDERR_FILENO, note, sizeof note - 1);
    (void)!::write(STDERR_FILENO, crashPath, std::strlen(crashPath));
    (void)!::write(STDERR_FILENO, "\n", 1);
}

void onFatalSignal(int number) {
    saveCurrentInput();
    ::signal(number, SIG_DFL);
    ::raise(number);
}

void installCrashHandlers() {
    if (__sanitizer_set_death_callback != nullptr) {
        // The sanitizers report faults themselves; only their end and abort() are ours.
        __sanitizer_set_death_callback(saveCurrentInput);
        ::signal(SIGABRT, onFatalSignal);
        return;
    }
    for (int number : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
        ::signal(number, onFatalSignal);
    }
}

std::optional<Bytes> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// One entry of a dictionary line `name="value"` or `"value"`, with the escapes \\ \" \xNN.
std::optional<Bytes> parseDictionaryEntry(std::string_view line) {
    auto open = line.find('"');
    auto close = line.rfind('"');
    if (open == std::string_view::npos || close == open) {
        return std::nullopt;
    }
    std::string_view name = line.substr(0, open);
    if (name.find_first_not_of(
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_@ \t=") !=
            std::string_view::npos ||
        line.substr(close + 1).find_first_not_of(" \t\r") != std::string_view::npos) {
        return std::nullopt;
    }
    Bytes token;
    for (std::size_t i = open + 1; i < close; ++i) {
        char c = line[i];
        if (c != '\\') {
            token.push_back(static_cast<std::uint8_t>(c));
            continue;
        }
        if (++i == close) {
            return std::nullopt;
        }
        if (line[i] == '\\' || line[i] == '"') {
            token.push_back(static_cast<std::uint8_t>(line[i]));
        } else if (line[i] == 'x' && i + 2 < close && hexDigit(line[i + 1]) >= 0 &&
                   hexDigit(line[i + 2]) >= 0) {
            token.push_back(
                static_cast<std::uint8_t>(hexDigit(line[i + 1]) * 16 + hexDigit(line[i + 2])));
            i += 2;
        } else {
            return std::nullopt;
        }
    }
    if (token.empty()) {
        return std::nullopt;
    }
    return token;
}

std::optional<std::vector<Bytes>> readDictionary(const fs::path& path) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "fuzz check: cannot read the dictionary %s\n", path.c_str());
        return std::nullopt;
    }
    std::vector<Bytes> tokens;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        auto start = line.find_first_not_of(" \t\r");
        if (start == std::string::npos || line[start] == '#') {
            continue;
        }
        auto token = parseDictionaryEntry(std::string_view(line).substr(start));
        if (!token) {
            std::fprintf(stderr, "fuzz check: %s:%d: not a dictionary entry\n", path.c_str(),
                         number);
            return std::nullopt;
        }
        tokens.push_back(std::move(*token));
    }
    return tokens;
}

class Mutator {
public:
    Mutator(std::uint64_t seed, const std::vector<Bytes>& corpus, const std::vector<Bytes>& tokens)
        : random_(seed), corpus_(corpus), tokens_(tokens) {}

    // A corpus entry, or now and then the previous mutant, with one to five changes.
    Bytes next(const Bytes& previous) {
        Bytes input =
            !previous.empty() && below(4) == 0 ? previous : corpus_[below(corpus_.size())];
        for (std::size_t changes = 1 + below(5); changes > 0; --changes) {
            mutate(input);
        }
        if (input.size() > maximumInputBytes) {
            input.resize(maximumInputBytes);
        }
        return input;
    }

private:
    std::size_t below(std::size_t limit) {
        return limit == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, limit - 1)(random_);
    }
    std::uint8_t byte() { return static_cast<std::uint8_t>(below(256)); }
    // A byte that tends to matter to parsers more often than a uniform one.
    std::uint8_t interestingByte() {
        static constexpr std::uint8_t bytes[] = {0,    '\n', '\r', '"',  '\\', '{',  '}',
                                                 '[',  ']',  ':',  ',',  '0',  '-',  'e',
                                                 0x7f, 0x80, 0xbf, 0xc0, 0xed, 0xf4, 0xff};
        return below(2) == 0 ? byte() : bytes[below(std::size(bytes))];
    }

    void insert(Bytes& input, std::size_t at, const Bytes& piece, std::size_t from,
                std::size_t count) {
        input.insert(input.begin() + static_cast<std::ptrdiff_t>(at),
                     piece.begin() + static_cast<std::ptrdiff_t>(from),
                     piece.begin() + static_cast<std::ptrdiff_t>(from + count));
    }

    void mutate(Bytes& input) {
        const std::size_t size = input.size();
        switch (below(9)) {
            case 0:  // flip a bit
                if (size > 0) {
                    input[below(size)] ^= static_cast<std::uint8_t>(1u << below(8));
                }
                break;
            case 1:  // insert bytes
                input.insert(input.begin() + static_cast<std::ptrdiff_t>(below(size + 1)),
                             1 + below(4), interestingByte());
                break;
            case 2:  // erase a range
                if (size > 0) {
                    std::size_t at = below(size);
                    std::size_t count = 1 + below(std::min<std::size_t>(size - at, 16));
                    input.erase(input.begin() + static_cast<std::ptrdiff_t>(at),
                                input.begin() + static_cast<std::ptrdiff_t>(at + count));
                }
                break;
            case 3:  // replace a byte
                if (size > 0) {
                    input[below(size)] = interestingByte();
                }
                break;
            case 4:  // truncate
                input.resize(below(size + 1));
                break;
            case 5: {  // duplicate a chunk, sometimes many times over
                if (size == 0) {
                    break;
                }
                std::size_t from = below(size);
                std::size_t count = 1 + below(size - from);
                Bytes chunk(input.begin() + static_cast<std::ptrdiff_t>(from),
                            input.begin() + static_cast<std::ptrdiff_t>(from + count));
                std::size_t at = below(size + 1);
                for (std::size_t copies = below(8) == 0 ? 1 + below(64) : 1;
                     copies > 0 && input.size() + count <= maximumInputBytes; --copies) {
                    insert(input, at, chunk, 0, count);
                }
                break;
            }
            case 6:
            case 7: {  // insert or overwrite a dictionary token
                if (tokens_.empty()) {
                    break;
                }
                const Bytes& token = tokens_[below(tokens_.size())];
                std::size_t at = below(size + 1);
                if (below(2) == 0 || at + token.size() > size) {
                    insert(input, at, token, 0, token.size());
                } else {
                    std::copy(token.begin(), token.end(),
                              input.begin() + static_cast<std::ptrdiff_t>(at));
                }
                break;
            }
            case 8: {  // splice in a piece of another corpus entry
                const Bytes& other = corpus_[below(corpus_.size())];
                if (other.empty()) {
                    break;
                }
                std::size_t from = below(other.size());
                insert(input, below(size + 1), other, from, 1 + below(other.size() - from));
                break;
            }
        }
    }

    std::mt19937_64 random_;
    const std::vector<Bytes>& corpus_;
    const std::vector<Bytes>& tokens_;
};

// Runs one input from an allocation of exactly its size, so reads past its end are caught.
bool run(const Bytes& input) {
    auto copy = std::make_unique<std::uint8_t[]>(std::max<std::size_t>(input.size(), 1));
    std::copy(input.begin(), input.end(), copy.get());
    currentData = copy.get();
    currentSize = input.size();
    bool passed = true;
    try {
        int status = LLVMFuzzerTestOneInput(copy.get(), input.size());
        // -1 only keeps an input out of the corpus; other values are not defined.
        if (status != 0 && status != -1) {
            std::fprintf(stderr, "fuzz check: the target returned %d\n", status);
            passed = false;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "fuzz check: the target threw: %s\n", error.what());
        passed = false;
    }
    if (!passed) {
        saveCurrentInput();
    }
    currentData = nullptr;
    currentSize = 0;
    return passed;
}

struct Options {
    double seconds = 10;
    std::uint64_t seed = 0x5eed;
    std::optional<fs::path> dictionary;
    std::vector<fs::path> inputs;
};

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string_view argument(argv[i]);
        try {
            if (argument.starts_with("-max_total_time=")) {
                options.seconds = std::stod(std::string(argument.substr(16)));
            } else if (argument.starts_with("-seed=")) {
                options.seed = std::stoull(std::string(argument.substr(6)));
            } else if (argument.starts_with("-dict=")) {
                options.dictionary = fs::path(argument.substr(6));
            } else if (argument.starts_with("-")) {
                std::fprintf(stderr, "fuzz check: unknown option %s\n", argv[i]);
                return std::nullopt;
            } else {
                options.inputs.emplace_back(argument);
            }
        } catch (const std::exception&) {
            std::fprintf(stderr, "fuzz check: bad value in %s\n", argv[i]);
            return std::nullopt;
        }
    }
    if (options.inputs.empty()) {
        std::fprintf(stderr,
                     "usage: %s [-max_total_time=SECONDS] [-dict=FILE] [-seed=N] "
                     "CORPUS_DIR_OR_FILE...\n",
                     argc > 0 ? argv[0] : "fuzz-check");
        return std::nullopt;
    }
    return options;
}

// The files named and those of the folders named, each folder's in name order.
std::optional<std::vector<fs::path>> listInputs(const std::vector<fs::path>& inputs) {
    std::vector<fs::path> files;
    for (const auto& input : inputs) {
        std::error_code error;
        if (!fs::is_directory(input, error)) {
            files.push_back(input);
            continue;
        }
        std::vector<fs::path> entries;
        for (const auto& entry : fs::directory_iterator(input, error)) {
            if (entry.is_regular_file(error)) {
                entries.push_back(entry.path());
            }
        }
        if (error) {
            std::fprintf(stderr, "fuzz check: cannot list %s\n", input.c_str());
            return std::nullopt;
        }
        std::sort(entries.begin(), entries.end());
        files.insert(files.end(), entries.begin(), entries.end());
    }
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    auto options = parseOptions(argc, argv);
    if (!options) {
        return 2;
    }
    std::string target = fs::path(argv[0]).filename().string();
    std::snprintf(crashPath, sizeof crashPath, "crash-%s", target.c_str());
    std::vector<Bytes> tokens;
    if (options->dictionary) {
        auto read = readDictionary(*options->dictionary);
        if (!read) {
            return 2;
        }
        tokens = std::move(*read);
    }
    auto files = listInputs(options->inputs);
    if (!files) {
        return 2;
    }
    installCrashHandlers();

    const auto start = std::chrono::steady_clock::now();
    std::vector<Bytes> corpus;
    for (const auto& file : *files) {
        auto input = readFile(file);
        if (!input) {
            std::fprintf(stderr, "fuzz check: cannot read %s\n", file.c_str());
            return 2;
        }
        if (!run(*input)) {
            std::fprintf(stderr, "fuzz check: %s failed on %s\n", target.c_str(), file.c_str());
            return 1;
        }
        corpus.push_back(std::move(*input));
    }
    if (corpus.empty()) {
        corpus.emplace_back();
    }

    const auto end = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 std::chrono::duration<double>(std::max(options->seconds, 0.0)));
    Mutator mutator(options->seed, corpus, tokens);
    std::uint64_t executions = corpus.size();
    Bytes previous;
    while (std::chrono::steady_clock::now() < end) {
        previous = mutator.next(previous);
        if (!run(previous)) {
            std::fprintf(stderr, "fuzz check: %s failed on execution %llu of seed %llu\n",
                         target.c_str(), static_cast<unsigned long long>(executions),
                         static_cast<unsigned long long>(options->seed));
            return 1;
        }
        ++executions;
    }
    auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %llu executions (%zu corpus files, %zu dictionary tokens) in %.1f s\n",
                target.c_str(), static_cast<unsigned long long>(executions), files->size(),
                tokens.size(), elapsed);
    return 0;
}
