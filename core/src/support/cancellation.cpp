#include <quotalume/support/cancellation.hpp>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <system_error>

namespace quotalume {
namespace {

thread_local const Cancellation* installed = nullptr;

}  // namespace

Cancellation::Cancellation() : descriptor_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (descriptor_ < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
}

Cancellation::~Cancellation() {
    ::close(descriptor_);
}

void Cancellation::raise() noexcept {
    raised_.store(true, std::memory_order_release);
    const std::uint64_t one = 1;
    (void)!::write(descriptor_, &one, sizeof one);
}

const Cancellation* Cancellation::current() noexcept {
    return installed;
}

bool Cancellation::requested() noexcept {
    return installed != nullptr && installed->raised();
}

Cancellation::Scope::Scope(const Cancellation& cancellation) noexcept : previous_(installed) {
    installed = &cancellation;
}

Cancellation::Scope::~Scope() {
    installed = previous_;
}

}  // namespace quotalume
