// Reading back what a writer produced: lines of a text and the fields of a
// delimited line, empty fields kept (they carry meaning in the per-frame
// CSV).
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace velumar::testing {

inline std::vector<std::string> Split(const std::string &line, char sep)
{
    std::vector<std::string> out(1);
    for (char c : line) {
        if (c == sep) out.emplace_back();
        else out.back() += c;
    }
    return out;
}

inline std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

} // namespace velumar::testing
