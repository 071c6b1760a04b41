// Small helpers shared by the model tests.
#pragma once

#include <velumar/model.h>

#include "golden_signals.h"
#include "state.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

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

// Deterministic pseudo-random numbers; uniform() lies in [-1, 1).
using Random = velumar::golden::Rng;

} // namespace velumar::test
