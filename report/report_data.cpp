#include <velumar/report/report_data.h>

#include <velumar/text/texts.h>

#include <cstdio>

namespace velumar::report {

namespace {

struct MovInfo {
    std::string_view name;
    std::string_view explanation;
};

constexpr MovInfo kMovs[kMovCount] = {
    {"BandwidthRefB", "Средняя ширина полосы эталона в спектральных линиях (по кадрам с широкой полосой)."},
    {"BandwidthTestB", "Средняя ширина полосы тестового сигнала; заметно меньше эталонной — срезаны верхние частоты."},
    {"TotalNMRB", "Среднее отношение шума (разности сигналов) к порогу маскирования, дБ; выше 0 дБ шум не замаскирован."},
    {"WinModDiff1B", "Изменение огибающей (модуляции) теста относительно эталона, усреднённое скользящим окном."},
    {"ADBB", "Средняя величина искажений в кадрах, где они вероятно слышны (логарифм числа ступеней заметности)."},
    {"EHSB", "Гармоническая структура ошибки: насколько спектр ошибки периодичен (тональные искажения)."},
    {"AvgModDiff1B", "Среднее изменение модуляции, взвешенное по громкости эталона."},
    {"AvgModDiff2B", "Среднее изменение модуляции, где ослабление модуляции весит в десять раз меньше усиления."},
    {"RmsNoiseLoudB", "Среднеквадратичная громкость шума, слышимого на фоне эталона (сон), по негромким кадрам."},
    {"MFPDB", "Наибольшая сглаженная вероятность обнаружить искажения в кадре (0…1)."},
    {"RelDistFramesB", "Доля кадров, где шум хотя бы в одной полосе выше порога маскирования на 1,5 дБ."},
};

std::string printf_string(const char *format, double value)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

} // namespace

std::string_view mov_name(int index)
{
    return index >= 0 && index < kMovCount ? kMovs[index].name : std::string_view{};
}

std::string_view mov_explanation(int index)
{
    return index >= 0 && index < kMovCount ? kMovs[index].explanation : std::string_view{};
}

std::string warning_text(std::string_view code)
{
    // The string table's sentence wherever it needs no figure, so that a
    // record without messages reads like one with them. The table's
    // sentences for a delay, a level and clipping carry numbers a bare code
    // does not have.
    if (code == "delay") return "тестовый сигнал сдвинут во времени относительно эталона";
    if (code == "level") return "уровень тестового сигнала отличается от уровня эталона";
    if (code == "inverted") return std::string(text::get(text::IDS_WARN_INVERTED));
    if (code == "swapped") return std::string(text::get(text::IDS_WARN_SWAPPED));
    if (code == "silent") return std::string(text::get(text::IDS_WARN_SILENT));
    if (code == "clipped") return "в тестовом сигнале есть ограничение (клиппинг), которого нет в эталоне";
    if (code == "unrelated") return std::string(text::get(text::IDS_WARN_UNRELATED));
    if (code == "converted") return std::string(text::get(text::IDS_WARN_CONVERTED));
    return std::string(code);
}

std::string grade_category_text(double odg)
{
    return std::string(text::get(text::grade_category(odg)));
}

std::string input_line(std::string_view label, const InputInfo &f)
{
    std::string s(label);
    s += f.path;
    std::string props;
    if (!f.format.empty()) props += f.format;
    if (f.sample_rate) props += (props.empty() ? "" : ", ") + std::to_string(f.sample_rate) + " Гц";
    if (f.bits) props += (props.empty() ? "" : ", ") + std::to_string(f.bits) + " бит";
    if (f.channels) props += (props.empty() ? "" : ", ") + std::to_string(f.channels) + " кан.";
    if (f.samples_per_channel)
        props += (props.empty() ? "" : ", ") + text::sample_count(static_cast<long long>(f.samples_per_channel));
    if (f.converted) props += (props.empty() ? "" : ", ") + std::string("преобразован");
    if (f.clipped_samples)
        props += (props.empty() ? "" : ", ") + std::string("ограничено сэмплов: ") + std::to_string(f.clipped_samples);
    if (!props.empty()) s += " (" + props + ")";
    return s + "\n";
}

std::string text_summary(const ReportData &d)
{
    std::string s;
    s += input_line("Эталон: ", d.reference);
    s += input_line("Тест: ", d.test);
    if (d.graded) {
        const auto label = [](std::uint32_t id) { return std::string(text::get(id)) + " "; };
        s += label(text::IDS_CLI_ODG_LABEL) + printf_string("%f", d.odg) + "\n";
        s += label(text::IDS_CLI_GRADE_LABEL) + grade_category_text(d.odg) + "\n";
        s += label(text::IDS_CLI_DI_LABEL) + printf_string("%f", d.di) + "\n";
    } else {
        s += "Оценки нет: " + (d.reason.empty() ? std::string("сигнал не удалось оценить") : d.reason) + "\n";
    }
    s += "Кадров: " + std::to_string(d.frames) + ", каналов: " + std::to_string(d.channels) + "\n";
    s += "Уровень прослушивания: " + printf_string("%.1f", d.settings.listening_level_db) + " дБ\n";
    if (d.check) {
        const PairCheckInfo &c = *d.check;
        s += "Проверка пары: задержка " + text::sample_count(c.delay_samples) + " (" +
             printf_string("%.3f", c.delay_ms) + " мс), корреляция " + printf_string("%.3f", c.correlation) +
             ", усиление " + printf_string("%.2f", c.gain_db) + " дБ" + (c.inverted ? ", полярность обращена" : "") +
             "\n";
        const auto &lines = c.messages.empty() ? c.warnings : c.messages;
        for (std::size_t i = 0; i < lines.size(); ++i)
            s += "  - " + (c.messages.empty() ? warning_text(lines[i]) : lines[i]) + "\n";
    } else {
        s += "Проверка пары не выполнялась\n";
    }
    if (d.applied)
        s += "Исправлено перед оценкой: задержка " + text::sample_count(d.applied->delay_samples) + ", усиление " +
             printf_string("%.2f", d.applied->gain_db) + " дБ\n";
    if (d.graded) {
        s += "MOV\tсеть\tканал 1" + std::string(d.channels == 2 ? "\tканал 2" : "") + "\n";
        for (int i = 0; i < kMovCount; ++i) {
            s += std::string(mov_name(i)) + "\t" + printf_string("%.6g", d.movs[i]);
            for (std::uint32_t c = 0; c < d.channels && c < 2; ++c)
            {
                s += '\t';
                s += i == kMovAdb ? std::string("—") : printf_string("%.6g", d.channel_movs[c][i]);
            }
            s += "\n";
        }
    }
    return s;
}

} // namespace velumar::report
