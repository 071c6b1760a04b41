// A strict little JSON reader for checking velumar-cli's output: objects,
// strings, numbers and null, which is all the tool writes. Anything else,
// or anything malformed, makes Parse fail.
#pragma once

#include <cctype>
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
        if (!r.Value(v, 0) || (r.Blank(), r.pos_ != text.size())) return std::nullopt;
        return v;
    }

private:
    explicit JsonReader(std::string_view s) : s_(s) {}

    char Peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }
    void Blank()
    {
        while (Peek() == ' ' || Peek() == '\t' || Peek() == '\r' || Peek() == '\n') ++pos_;
    }
    bool Eat(char c) { return Blank(), Peek() == c && (++pos_, true); }
    bool Digits()
    {
        const std::size_t from = pos_;
        while (std::isdigit(static_cast<unsigned char>(Peek()))) ++pos_;
        return pos_ > from;
    }

    bool Value(Json &v, int depth)
    {
        Blank();
        if (depth > 16) return false;
        if (Peek() == '"') return v.type = Json::String, Str(v.string);
        if (s_.substr(pos_, 4) == "null") return pos_ += 4, true;
        if (Peek() != '{') return Number(v);
        v.type = Json::Object;
        ++pos_;
        if (Eat('}')) return true;
        do {
            std::string key;
            Json member;
            if (!(Blank(), Peek() == '"') || !Str(key) || !Eat(':') || !Value(member, depth + 1)) return false;
            v.object.emplace_back(std::move(key), std::move(member));
        } while (Eat(','));
        return Eat('}');
    }

    bool Number(Json &v)  // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    {
        const std::size_t start = pos_;
        if (Peek() == '-') ++pos_;
        if (Peek() == '0') ++pos_;
        else if (!Digits()) return false;
        if (Peek() == '.' && (++pos_, !Digits())) return false;
        if (Peek() == 'e' || Peek() == 'E') {
            if (++pos_, Peek() == '+' || Peek() == '-') ++pos_;
            if (!Digits()) return false;
        }
        v.type = Json::Number;
        return std::from_chars(s_.data() + start, s_.data() + pos_, v.number).ptr == s_.data() + pos_;
    }

    // Escapes are decoded except \uXXXX, which is kept as written: the
    // checks compare those textually.
    bool Str(std::string &out)
    {
        for (++pos_; pos_ < s_.size();) {
            const char c = s_[pos_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            const char e = Peek();
            const std::size_t simple = std::string_view("\"\\/bfnrt").find(e);
            if (simple != std::string_view::npos) {
                out += "\"\\/\b\f\n\r\t"[simple];
                ++pos_;
            } else if (e == 'u' && pos_ + 5 <= s_.size() &&
                       s_.substr(pos_ + 1, 4).find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos) {
                out.append(1, '\\').append(s_.substr(pos_, 5));
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
