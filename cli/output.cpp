#include <velumar/cli/cli.h>

#include <velumar/text/texts.h>

#include <charconv>
#include <cmath>

namespace velumar::cli {

std::string JsonNumber(double value)
{
    if (!std::isfinite(value)) return "null";
    // The shortest text that reads back to exactly this double.
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc()) return "null";
    return std::string(buffer, end);
}

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 when there is none.
std::size_t Utf8Length(std::string_view s, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    std::size_t n;
    std::uint32_t cp;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) { n = 2; cp = c & 0x1Fu; }
    else if (c >= 0xE0 && c <= 0xEF) { n = 3; cp = c & 0x0Fu; }
    else if (c >= 0xF0 && c <= 0xF4) { n = 4; cp = c & 0x07u; }
    else return 0;
    if (s.size() - i < n) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0u) != 0x80u) return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3Fu);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

void AppendOptional(std::string &out, const std::optional<double> &value)
{
    out += value ? JsonNumber(*value) : "null";
}

void AppendMovs(std::string &out, const char *key, const double (&movs)[M_MOV_COUNT], bool with_adb)
{
    out += ',';
    out += JsonString(key);
    out += ":{";
    bool first = true;
    for (std::int32_t i = 0; i < M_MOV_COUNT; ++i) {
        if (i == M_MOV_ADB && !with_adb) continue;
        if (!first) out += ',';
        first = false;
        const char *name = get_mov_name(i);
        out += JsonString(name != nullptr ? name : "");
        out += ':';
        out += JsonNumber(movs[i]);
    }
    out += '}';
}

std::string Printf(const char *format, double value)
{
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

std::string OrDash(const std::optional<double> &value, const char *format)
{
    return value ? Printf(format, *value) : std::string(text::get(text::IDS_CLI_NOT_AVAILABLE));
}

// Pads a UTF-8 string with blanks to `width` characters.
std::string Pad(std::string_view s, std::size_t width)
{
    std::size_t chars = 0;
    for (unsigned char c : s)
        if ((c & 0xC0u) != 0x80u) ++chars;
    std::string out(s);
    if (chars < width) out.append(width - chars, ' ');
    return out;
}

} // namespace

std::string JsonString(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = Utf8Length(text, i);
        if (n == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(text.substr(i, n));
            i += n;
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                out += buffer;
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    out += '"';
    return out;
}

std::string ResultJsonMembers(const GradeResult &result)
{
    const M_RESULTS &m = result.model;
    std::string out;
    out += "\"odg\":" + JsonNumber(m.odg);
    out += ",\"di\":" + JsonNumber(m.di);
    out += ",\"grade_text\":" + JsonString(text::get(text::grade_category(m.odg)));
    out += ",\"frames\":" + std::to_string(m.frames);
    out += ",\"channels\":" + std::to_string(m.channels);
    out += ",\"values\":" + std::to_string(result.stats.values);
    out += ",\"time_s\":" + JsonNumber(result.stats.total_time / 100.0);
    out += ",\"speed\":";
    AppendOptional(out, result.stats.Speed());
    out += ",\"rtf\":";
    AppendOptional(out, result.stats.RealTimeFactor(result.sample_rate));
    AppendMovs(out, "movs", m.movs, true);
    if (m.channels == 2) {
        AppendMovs(out, "movs_ch1", m.channel_movs[0], false);
        AppendMovs(out, "movs_ch2", m.channel_movs[1], false);
    }
    return out;
}

std::string ResultJson(const GradeResult &result)
{
    std::string out = "{";
    out += ResultJsonMembers(result);
    out += '}';
    return out;
}

std::string ResultText(const GradeResult &result, const std::string &reference, const std::string &test)
{
    using text::get;
    const M_RESULTS &m = result.model;
    const RunStats &s = result.stats;
    std::string out;
    auto line = [&](std::uint32_t label, const std::string &value) {
        out += get(label);
        out += ' ';
        out += value;
        out += '\n';
    };
    line(text::IDS_CLI_REFERENCE_LABEL, reference);
    line(text::IDS_CLI_TEST_LABEL, test);
    line(text::IDS_CLI_ODG_LABEL, Printf("%f", m.odg));
    line(text::IDS_CLI_GRADE_LABEL, std::string(get(text::grade_category(m.odg))));
    line(text::IDS_CLI_DI_LABEL, Printf("%f", m.di));
    line(text::IDS_CLI_TIME_LABEL, FormatDuration(s.total_time));
    line(text::IDS_CLI_SPEED_LABEL, OrDash(s.Speed(), "%.2f"));
    line(text::IDS_CLI_RTF_LABEL, OrDash(s.RealTimeFactor(result.sample_rate), "%.2f"));
    line(text::IDS_CLI_FRAMES_LABEL, std::to_string(m.frames));
    line(text::IDS_CLI_CHANNELS_LABEL, std::to_string(m.channels));
    line(text::IDS_CLI_VALUES_LABEL, std::to_string(s.values));

    out += '\n';
    out += get(text::IDS_CLI_MOVS_TITLE);
    out += '\n';
    const bool stereo = m.channels == 2;
    constexpr std::size_t kName = 18;
    constexpr std::size_t kColumn = 16;
    if (stereo) {
        out += "  " + Pad("", kName) + Pad(get(text::IDS_CLI_MOVS_NETWORK), kColumn) +
               Pad(get(text::IDS_CLI_CHANNEL_1), kColumn) + std::string(get(text::IDS_CLI_CHANNEL_2)) + '\n';
    }
    for (std::int32_t i = 0; i < M_MOV_COUNT; ++i) {
        const char *name = get_mov_name(i);
        out += "  " + Pad(name != nullptr ? name : "", kName);
        if (!stereo) {
            out += Printf("%.6g", m.movs[i]) + '\n';
            continue;
        }
        out += Pad(Printf("%.6g", m.movs[i]), kColumn);
        if (i == M_MOV_ADB) {
            // ADB is binaural: there is no value per channel.
            out += Pad(get(text::IDS_CLI_NOT_AVAILABLE), kColumn) + std::string(get(text::IDS_CLI_NOT_AVAILABLE));
        } else {
            out += Pad(Printf("%.6g", m.channel_movs[0][i]), kColumn) + Printf("%.6g", m.channel_movs[1][i]);
        }
        out += '\n';
    }
    return out;
}

} // namespace velumar::cli
