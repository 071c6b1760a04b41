#include <velumar/cli/cli.h>

#include <velumar/app/any_format.h>
#include <velumar/text/texts.h>

#include <cmath>
#include <cstdio>

namespace velumar::cli {

namespace {

Json Optional(const std::optional<double> &value)
{
    return value ? Json(*value) : Json(nullptr);
}

Json Movs(const double (&movs)[M_MOV_COUNT], bool with_adb)
{
    Json object = Json::object();
    for (std::int32_t i = 0; i < M_MOV_COUNT; ++i) {
        if (i == M_MOV_ADB && !with_adb) continue;
        const char *name = get_mov_name(i);
        object[name != nullptr ? name : ""] = movs[i];
    }
    return object;
}

// Every real number of the report in one style: fixed point with six
// decimals, the style of the grade itself; magnitudes from 1e9 on (the
// model's stand-ins for undefined values, such as 1e100) in exponent form,
// where fixed point would print a hundred digits; "—" when not finite.
std::string Number(double value)
{
    if (!std::isfinite(value)) return std::string(text::get(text::IDS_CLI_NOT_AVAILABLE));
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, std::fabs(value) < 1e9 ? "%.6f" : "%.6e", value);
    return buffer;
}

std::string OrDash(const std::optional<double> &value)
{
    return value ? Number(*value) : std::string(text::get(text::IDS_CLI_NOT_AVAILABLE));
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

Json CheckJson(const app::PairCheck &check)
{
    Json object = Json::object();
    object["delay_samples"] = check.delay_samples;
    object["delay_ms"] = check.delay_ms;
    object["correlation"] = check.correlation;
    object["delay_trusted"] = check.delay_trusted;
    object["gain_db"] = check.gain_db;
    object["inverted"] = check.inverted;
    object["swapped"] = check.swapped;
    object["silent"] = check.silent;
    object["clipped"] = check.clipped;
    object["clipped_values"] = check.test_clipped_values;
    object["warnings"] = check.warnings;
    return object;
}

Json AppliedJson(const app::Applied &applied)
{
    Json object = Json::object();
    object["delay_samples"] = applied.delay_samples;
    object["gain_db"] = applied.gain_db;
    object["aligned"] = applied.aligned;
    object["delay_untrusted"] = applied.delay_untrusted;
    object["level_matched"] = applied.level_matched;
    object["inverted_back"] = applied.inverted_back;
    object["clipped_values"] = applied.clipped_values;
    return object;
}

Json ResultJson(const GradeResult &result)
{
    const M_RESULTS &m = result.model;
    const bool graded = result.graded();
    // Without a grade the model's in-band failure value must not look like
    // one: grade, index, category and MOVs are null.
    auto or_null = [&](Json value) { return graded ? std::move(value) : Json(nullptr); };
    Json object = Json::object();
    object["graded"] = graded;
    object["odg"] = or_null(m.odg);
    object["di"] = or_null(m.di);
    object["grade_text"] = or_null(text::get(text::grade_category(m.odg)));
    object["reason"] = graded ? Json(nullptr) : Json(result.reason);
    object["reason_code"] = graded ? Json(nullptr) : Json(result.reason_code);
    object["frames"] = m.frames;
    object["channels"] = m.channels;
    object["values"] = result.stats.values;
    object["time_s"] = result.stats.total_time / 100.0;  // kept in hundredths
    object["speed"] = Optional(result.stats.Speed());
    object["rtf"] = Optional(result.stats.RealTimeFactor(result.sample_rate));
    object["movs"] = or_null(Movs(m.movs, true));
    if (m.channels == 2) {
        object["movs_ch1"] = or_null(Movs(m.channel_movs[0], false));
        object["movs_ch2"] = or_null(Movs(m.channel_movs[1], false));
    }
    object["check"] = result.check ? CheckJson(*result.check) : Json(nullptr);
    object["applied"] = result.applied ? AppliedJson(*result.applied) : Json(nullptr);
    object["input"] = InputJson(result.input);
    return object;
}

Json ErrorJson(const std::string &message, const std::string &reason_code)
{
    Json object = Json::object();
    object["graded"] = false;
    object["error"] = message;
    object["reason_code"] = reason_code;
    return object;
}

Json ErrorJson(const std::string &message, const GradeResult &result)
{
    Json object = ErrorJson(message, result.reason_code);
    if (result.input.reference || result.input.test) object["input"] = InputJson(result.input);
    return object;
}

Json InputJson(const app::InputRecords &input)
{
    auto record = [](const std::optional<audio::InputInfo> &info) {
        if (!info) return Json(nullptr);
        Json object = Json::object();
        object["path"] = info->path;
        object["format"] = info->format;
        object["subtype"] = info->subtype;
        object["sample_rate"] = info->sample_rate;
        object["bits"] = info->bits;
        object["channels"] = info->channels;
        object["samples_per_channel"] = info->samples_per_channel;
        object["converted"] = info->converted;
        if (info->clipped_samples > 0) object["clipped_samples"] = info->clipped_samples;
        return object;
    };
    Json object = Json::object();
    object["reference"] = record(input.reference);
    object["test"] = record(input.test);
    return object;
}

std::string JsonLine(const Json &value)
{
    // No indentation, UTF-8 kept as it is, invalid bytes replaced.
    return value.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n';
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
    for (const auto *info : {&result.input.reference, &result.input.test}) {
        if (!*info || !(*info)->converted) continue;
        out += app::ConvertedLine(**info);
        out += '\n';
    }
    const bool graded = result.graded();
    if (graded) {
        line(text::IDS_CLI_ODG_LABEL, Number(m.odg));
        line(text::IDS_CLI_GRADE_LABEL, std::string(get(text::grade_category(m.odg))));
        line(text::IDS_CLI_DI_LABEL, Number(m.di));
    } else {
        line(text::IDS_CLI_NOT_GRADED_LABEL, result.reason);
    }
    line(text::IDS_CLI_TIME_LABEL, FormatDuration(s.total_time));
    line(text::IDS_CLI_SPEED_LABEL, OrDash(s.Speed()));
    line(text::IDS_CLI_RTF_LABEL, OrDash(s.RealTimeFactor(result.sample_rate)));
    line(text::IDS_CLI_FRAMES_LABEL, std::to_string(m.frames));
    line(text::IDS_CLI_CHANNELS_LABEL, std::to_string(m.channels));
    line(text::IDS_CLI_VALUES_LABEL, std::to_string(s.values));
    if (result.check) {
        out += '\n';
        out += app::CheckSection(*result.check);
    }
    if (result.applied) {
        out += '\n';
        out += app::AppliedSection(*result.applied);
    }
    if (!graded) return out;

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
            out += Number(m.movs[i]) + '\n';
            continue;
        }
        out += Pad(Number(m.movs[i]), kColumn);
        if (i == M_MOV_ADB) {
            // ADB is binaural: there is no value per channel.
            out += Pad(get(text::IDS_CLI_NOT_AVAILABLE), kColumn) + std::string(get(text::IDS_CLI_NOT_AVAILABLE));
        } else {
            out += Pad(Number(m.channel_movs[0][i]), kColumn) + Number(m.channel_movs[1][i]);
        }
        out += '\n';
    }
    return out;
}

} // namespace velumar::cli
