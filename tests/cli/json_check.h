// A strict little JSON reader for checking velumar-cli's output: objects,
// strings, numbers and null, which is all the tool writes. Anything else,
// or anything malformed, makes Parse fail.
#pragma once

#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velumar::testing {

struct Json {
    enum Type { Null, Number, String, Object } type = Null;
    double number = 0.0;
    std::string string;
    std::vector<std::pair<std::string, Json>> object;  // in document order

    const Json *Find(std::string_view key) const
    {
        for (const auto &[k, v] : object)
            if (k == key) return &v;
        return nullptr;
    }
};

class JsonReader {
public:
    static std::optional<Json> Parse(std::string_view text)
    {
        JsonReader r{text};
        Json v;
        if (!r.Value(v, 0)) return std::nullopt;
        r.Blank();
        if (r.pos_ != text.size()) return std::nullopt;
        return v;
    }

private:
    explicit JsonReader(std::string_view s) : s_(s) {}

    void Blank()
    {
        while (pos_ < s_.size() && std::string_view(" \t\r\n").find(s_[pos_]) != std::string_view::npos) ++pos_;
    }
    bool Eat(char c)
    {
        Blank();
        return pos_ < s_.size() && s_[pos_] == c && (++pos_, true);
    }
    bool Digits()
    {
        const std::size_t from = pos_;
        while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
        return pos_ > from;
    }

    bool Value(Json &v, int depth)
    {
        Blank();
        if (depth > 16 || pos_ >= s_.size()) return false;
        if (s_[pos_] == '"') return v.type = Json::String, Str(v.string);
        if (s_.substr(pos_, 4) == "null") return pos_ += 4, true;
        if (s_[pos_] != '{') return Number(v);
        v.type = Json::Object;
        ++pos_;
        if (Eat('}')) return true;
        do {
            std::string key;
            Json member;
            if (!Eat('"') || (--pos_, !Str(key)) || !Eat(':') || !Value(member, depth + 1)) return false;
            v.object.emplace_back(std::move(key), std::move(member));
        } while (Eat(','));
        return Eat('}');
    }

    bool Number(Json &v)  // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    {
        const std::size_t start = pos_;
        if (s_[pos_] == '-') ++pos_;
        if (pos_ < s_.size() && s_[pos_] == '0') ++pos_;
        else if (!Digits()) return false;
        if (pos_ < s_.size() && s_[pos_] == '.' && (++pos_, !Digits())) return false;
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            if (++pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
            if (!Digits()) return false;
        }
        v.type = Json::Number;
        return std::from_chars(s_.data() + start, s_.data() + pos_, v.number).ptr == s_.data() + pos_;
    }

    bool Str(std::string &out)
    {
        ++pos_;
        while (pos_ < s_.size()) {
            const auto c = static_cast<unsigned char>(s_[pos_++]);
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c != '\\') {
                out += static_cast<char>(c);
            } else if (pos_ < s_.size() && std::string_view("\"\\/bfnrt").find(s_[pos_]) != std::string_view::npos) {
                const char e = s_[pos_++];
                out += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e == 'b' ? '\b' : e == 'f' ? '\f' : e;
            } else if (pos_ < s_.size() && s_[pos_] == 'u') {
                unsigned cp = 0;  // kept as \uXXXX: the checks here compare escapes textually
                const auto r = std::from_chars(s_.data() + pos_ + 1, s_.data() + std::min(s_.size(), pos_ + 5), cp, 16);
                if (r.ptr != s_.data() + pos_ + 5) return false;
                out += "\\u" + std::string(s_.substr(pos_ + 1, 4));
                pos_ += 5;
            } else {
                return false;
            }
        }
        return false;
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

} // namespace velumar::testing
