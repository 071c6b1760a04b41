#include "messages.h"

#include <cstdarg>
#include <cstdio>

namespace velumar::model {
namespace {

// The destination of the public call running on this thread; null outside
// any call (and for calls on instances without a handler).
thread_local const MessageSink *t_sink = nullptr;

} // namespace

void say(const char *text)
{
    const MessageSink *sink = t_sink;
    if (sink != nullptr && sink->handler != nullptr)
        sink->handler(sink->user, text);
    else
        std::fputs(text, stdout);
}

void sayf(const char *format, ...)
{
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    say(line);
}

SinkScope::SinkScope(const MessageSink *sink) : previous_(t_sink) { t_sink = sink; }

SinkScope::~SinkScope() { t_sink = previous_; }

} // namespace velumar::model
