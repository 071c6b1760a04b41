// Where the library's diagnostic lines go.
//
// Every line an instance prints, from its creation to its destruction, goes
// to the message handler given at creation, or to standard output when there
// is none. Many stages and helpers print without holding the instance (the
// FFT toolkit, the accumulators), so each public call names the destination
// for its own duration with a SinkScope; say() sends a line there. Nothing
// outlives the call: between calls no destination is remembered outside the
// instances, and a call on another thread has its own.
#pragma once

#include <velumar/model.h>

namespace velumar::model {

struct MessageSink {
    velumar_message_handler handler;  // null: standard output
    void *user;
};

// Sends `text` (normally one line ending in '\n') to the destination of the
// public call running on this thread.
void say(const char *text);
// The same for a printf-style line; longer lines are cut at 255 bytes.
void sayf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Names the destination of say() until the end of the enclosing public call;
// restores the previous one, so a handler may itself call into the library.
class SinkScope {
public:
    explicit SinkScope(const MessageSink *sink);
    ~SinkScope();
    SinkScope(const SinkScope &) = delete;
    SinkScope &operator=(const SinkScope &) = delete;

private:
    const MessageSink *previous_;
};

} // namespace velumar::model
