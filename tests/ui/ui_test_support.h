// Helpers for the wizard tests: a message box that records what it was
// asked to show and answers from a script, and generated WAV pairs.
#pragma once

#include "message_box.h"

#include <test_wav.h>

#include <QList>

#include <functional>
#include <string>

namespace velumar::uitest {

// Stands in for the real message boxes. Every request is recorded; a
// question is answered with the next scripted answer (Yes when none is
// left, so a forgotten script shows up as an unexpected Yes in the test).
class MessageRecorder {
public:
    velumar::ui::MessageBoxFn fn();

    void answer(QMessageBox::StandardButton b) { answers_.append(b); }
    // Called whenever a box is shown, before it is answered.
    void onShow(std::function<void()> hook) { on_show_ = std::move(hook); }
    int count() const { return static_cast<int>(shown_.size()); }
    velumar::ui::MessageRequest last() const { return shown_.isEmpty() ? velumar::ui::MessageRequest{} : shown_.last(); }
    // Whether the busy cursor was still up when the last box was shown.
    bool lastShownBusy() const { return !busy_.isEmpty() && busy_.last(); }
    void clear()
    {
        shown_.clear();
        answers_.clear();
        busy_.clear();
        on_show_ = nullptr;
    }

private:
    QList<velumar::ui::MessageRequest> shown_;
    QList<QMessageBox::StandardButton> answers_;
    QList<bool> busy_;
    std::function<void()> on_show_;
};

// A reference file of `frames` sample frames of a music-like signal and a
// test file with noise added, written into `dir`.
struct WavPair {
    std::string reference;
    std::string test;
};
WavPair WriteWavPair(const velumar::testing::TempDir &dir, std::uint32_t frames, std::uint16_t channels);

// Number of file descriptors this process has open.
int OpenDescriptorCount();

} // namespace velumar::uitest
