#pragma once

#include "ports.hpp"

#include <chrono>

namespace quotalume {

class SystemClock final : public WallClock {
public:
    Date now() const override { return std::chrono::system_clock::now(); }
};

}  // namespace quotalume
