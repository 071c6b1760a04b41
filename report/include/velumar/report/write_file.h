// Finishing an output file the same way wherever one is written (the HTML
// reports, the per-frame values; the command-line tool and the wizard): a
// failure anywhere, to open, to write or to close, is one answer, so that
// no caller reports a half-written file as saved.
#pragma once

#include <fstream>
#include <functional>
#include <ostream>

namespace velumar::report {

// Runs `write` on `out` and closes it. True when the file was open, `write`
// threw nothing and everything reached the file.
bool write_and_close(std::ofstream &out, const std::function<void(std::ostream &)> &write);

} // namespace velumar::report
