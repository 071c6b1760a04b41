// Small helpers shared by the model tests.
#pragma once

#include <velumar/model.h>

#include "state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velumar::test {

struct InstanceDeleter {
    void operator()(M_STATE *s) const { destroy_method(s); }
};
using Instance = std::unique_ptr<M_STATE, InstanceDeleter>;

inline M_SETTINGS settings(bool stereo, double level = 92.0)
{
    M_SETTINGS s{};
    s.version = 0;
    s.listening_level_db = level;
    s.sample_rate = 48000;
    s.channel_mode = stereo ? 1 : 0;
    return s;
}

// A fresh instance; its creation line on standard output is swallowed.
inline Instance make_instance(bool stereo, double level = 92.0)
{
    const M_SETTINGS s = settings(stereo, level);
    testing::internal::CaptureStdout();
    Instance instance(create_method(&s));
    testing::internal::GetCapturedStdout();
    return instance;
}

// Whatever `fn` prints to standard output.
template <class Fn>
std::string stdout_of(Fn &&fn)
{
    testing::internal::CaptureStdout();
    fn();
    return testing::internal::GetCapturedStdout();
}

// Deterministic pseudo-random numbers (xorshift64*), independent of the
// standard library's distributions.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed ? seed : 0x9E3779B97F4A7C15ull) {}
    std::uint64_t next()
    {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1Dull;
    }
    // Uniform in [-1, 1).
    double uniform() { return static_cast<double>(next() >> 11) * (2.0 / 9007199254740992.0) - 1.0; }

private:
    std::uint64_t state_;
};

} // namespace velumar::test
