// A strict little JSON reader for checking velumar-cli's output: it accepts
// exactly the grammar of JSON and keeps numbers as the doubles they read as.
#pragma once

#include <charconv>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velumar::testing {

struct Json {
    enum Type { Null, Bool, Number, String, Array, Object } type = Null;
    bool boolean = false;
    double number = 0.0;
    std::string string;
    std::vector<Json> array;
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
    // The single value `text` holds (surrounding blanks allowed), or nothing
    // when it is not exactly one well-formed JSON value.
    static std::optional<Json> Parse(std::string_view text)
    {
        JsonReader r(text);
        Json value;
        r.Blank();
        if (!r.Value(value, 0)) return std::nullopt;
        r.Blank();
        if (r.pos_ != text.size()) return std::nullopt;
        return value;
    }

private:
    explicit JsonReader(std::string_view text) : s_(text) {}

    void Blank()
    {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }
    bool Eat(char c)
    {
        Blank();
        if (pos_ < s_.size() && s_[pos_] == c) return ++pos_, true;
        return false;
    }
    bool Word(std::string_view w)
    {
        if (s_.substr(pos_, w.size()) != w) return false;
        pos_ += w.size();
        return true;
    }

    bool Value(Json &v, int depth)
    {
        if (depth > 64) return false;
        Blank();
        if (pos_ >= s_.size()) return false;
        const char c = s_[pos_];
        if (c == '{') return ObjectValue(v, depth);
        if (c == '[') return ArrayValue(v, depth);
        if (c == '"') return v.type = Json::String, Str(v.string);
        if (Word("null")) return v.type = Json::Null, true;
        if (Word("true")) return v.type = Json::Bool, v.boolean = true, true;
        if (Word("false")) return v.type = Json::Bool, v.boolean = false, true;
        return NumberValue(v);
    }

    bool ObjectValue(Json &v, int depth)
    {
        v.type = Json::Object;
        ++pos_;
        if (Eat('}')) return true;
        do {
            std::string key;
            Blank();
            if (pos_ >= s_.size() || s_[pos_] != '"' || !Str(key) || !Eat(':')) return false;
            Json member;
            if (!Value(member, depth + 1)) return false;
            v.object.emplace_back(std::move(key), std::move(member));
        } while (Eat(','));
        return Eat('}');
    }

    bool ArrayValue(Json &v, int depth)
    {
        v.type = Json::Array;
        ++pos_;
        if (Eat(']')) return true;
        do {
            Json item;
            if (!Value(item, depth + 1)) return false;
            v.array.push_back(std::move(item));
        } while (Eat(','));
        return Eat(']');
    }

    bool NumberValue(Json &v)
    {
        // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
        const std::size_t start = pos_;
        auto digits = [&] {
            const std::size_t from = pos_;
            while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
            return pos_ > from;
        };
        if (pos_ < s_.size() && s_[pos_] == '-') ++pos_;
        if (pos_ < s_.size() && s_[pos_] == '0') ++pos_;
        else if (!digits()) return false;
        if (pos_ < s_.size() && s_[pos_] == '.' && (++pos_, !digits())) return false;
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
            if (!digits()) return false;
        }
        v.type = Json::Number;
        const auto [end, ec] = std::from_chars(s_.data() + start, s_.data() + pos_, v.number);
        return ec == std::errc() && end == s_.data() + pos_;
    }

    bool Str(std::string &out)
    {
        ++pos_;  // opening quote
        while (pos_ < s_.size()) {
            const auto c = static_cast<unsigned char>(s_[pos_++]);
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (pos_ >= s_.size()) return false;
            const char e = s_[pos_++];
            switch (e) {
            case '"': case '\\': case '/': out += e; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned cp = 0;
                if (s_.size() - pos_ < 4) return false;
                const auto [end, ec] = std::from_chars(s_.data() + pos_, s_.data() + pos_ + 4, cp, 16);
                if (ec != std::errc() || end != s_.data() + pos_ + 4) return false;
                pos_ += 4;
                // Enough for the checks here: the code point as UTF-8, no
                // surrogate pairs.
                if (cp < 0x80) out += static_cast<char>(cp);
                else if (cp < 0x800) out += {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
                else out += {static_cast<char>(0xE0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                             static_cast<char>(0x80 | (cp & 0x3F))};
                break;
            }
            default: return false;
            }
        }
        return false;
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

} // namespace velumar::testing
