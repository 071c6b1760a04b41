#include <velumar/text/texts.h>

#include "version.h"

#include <algorithm>
#include <array>
#include <utility>

namespace velumar::text {
namespace {

struct Entry {
    std::uint32_t id;
    std::string_view text;
};

// Kept sorted by id: get() searches it by bisection.
constexpr auto kTable = std::to_array<Entry>({
    {IDS_SHEET_CAPTION, "<not used>"},
    {IDS_FILE_OPEN_ERROR, "Ошибка при открытии файла %1"},
    {IDS_RIFF_ERROR, "Ошибка в блоке RIFF файла %1"},
    {IDS_DATA_ERROR, "Ошибка в блоке DATA файла %1"},
    {IDS_WAVE_ERROR, "Ошибка в блоке WAVE файла %1"},
    {IDS_FMT_ERROR, "Ошибка в блоке FMT файла %1"},
    {IDS_REQUIREMENTS_ERROR, "Параметры файла %1 не соответствуют требованиям модели PEAQ"},
    {IDS_CREDITS,
     "Модель оценки качества, её библиотека и нейронная сеть:\n"
     "команда разработчиков Velumar.\n\n"
     "Чтение файлов WAV, управление расчётом и командная строка:\n"
     "команда разработчиков Velumar.\n\n"
     "Мастер, диалоги и блок-схема:\n"
     "команда разработчиков Velumar.\n\n"
     "Алгоритм: базовая версия метода PEAQ (рекомендация МСЭ-R BS.1387)."},
    {IDS_QUIT_QUESTION, "Завершить работу приложения?"},
    {IDS_APP_TITLE, "Velumar"},
    {IDS_SCHEME_DEVICE, "Тестир-е уст-во"},
    {IDS_SCHEME_REF_1, "Эталонный"},
    {IDS_SCHEME_REF_2, "сигнал"},
    {IDS_SCHEME_METHOD_1, "Метод"},
    {IDS_SCHEME_METHOD_2, "объективной"},
    {IDS_SCHEME_METHOD_3, "оценки"},
    {IDS_SCHEME_TEST_1, "Исследуемый"},
    {IDS_SCHEME_TEST_2, "сигнал"},
    {IDS_SCHEME_GRADE_1, "Оценка"},
    {IDS_SCHEME_GRADE_2, "кач. звука"},
    {IDS_GRADE_IMPERCEPTIBLE, "искажения незаметны"},
    {IDS_GRADE_NOT_ANNOYING, "искажения заметны, но не раздражают"},
    {IDS_GRADE_SLIGHTLY_ANNOYING, "слегка раздражающие искажения"},
    {IDS_GRADE_ANNOYING, "раздражающие искажения"},
    {IDS_GRADE_VERY_ANNOYING, "очень раздражающие искажения"},
    {IDS_GRADE_TOOTHACHE, "искажения, вызывающие зубную боль"},
    {IDS_ERROR_CAPTION, "Ошибка!"},
    {IDS_EMPTY_PATH, "Строка не может быть пустой"},
    {IDS_CHANNELS_DIFFER, "Файлы имеют различное число каналов"},
    {IDS_LENGTHS_DIFFER, "Файлы имеют разную длину (в сэмплах)"},
    {IDS_STOP_QUESTION, "Прервать расчёт?"},
    {IDS_SCHEME_TITLE, "Блок-схема оценки качества"},
    {IDS_PRODUCT_VERSION, VELUMAR_PRODUCT_VERSION_TEXT},
    {IDS_FILE_VERSION, VELUMAR_FILE_VERSION_TEXT},
    {IDS_FILE_CHANGED, "Файл %1 изменился во время расчёта"},
    {IDS_CLI_USAGE,
     "Использование:\n"
     "  velumar-cli [параметры] ЭТАЛОН ИССЛЕДУЕМЫЙ\n"
     "  velumar-cli [параметры] --batch СПИСОК.csv [--jobs N]\n"
     "\n"
     "Оценивает качество исследуемого сигнала относительно эталонного\n"
     "по базовой версии модели PEAQ (ODG, индекс искажений и выходные\n"
     "переменные модели). Файлы: WAV (PCM любой разрядности, с плавающей\n"
     "точкой, EXTENSIBLE), RF64, W64, FLAC, AIFF, Ogg Vorbis, Opus, MP3 и\n"
     "другие форматы libsndfile; один или два канала, частота от 8 до 384 кГц,\n"
     "одинаковое число каналов и одинаковая длина после приведения к 48 кГц.\n"
     "Всё, кроме WAV PCM 48 кГц 16 бит, преобразуется к 48 кГц, 16 бит.\n"
     "\n"
     "Параметры:\n"
     "  --level ДБ       уровень прослушивания, от 0.0 до 100.0 (по умолчанию 92.0)\n"
     "  --step N         число 16-битных значений на шаг расчёта, от 1 до числа\n"
     "                   значений в эталонном файле (по умолчанию 2048)\n"
     "  --json           результат одним объектом JSON на стандартном выводе,\n"
     "                   при любой ошибке - объект {\"error\": сообщение};\n"
     "                   диагностика модели уходит в стандартный поток ошибок\n"
     "  --progress       показывать ход расчёта в стандартном потоке ошибок\n"
     "  --no-progress    не показывать ход расчёта (по умолчанию он показывается,\n"
     "                   когда поток ошибок выведен на терминал)\n"
     "  --batch СПИСОК   оценить все пары из списка: в каждой строке\n"
     "                   \"эталон,исследуемый\" (пути относительно папки списка;\n"
     "                   СПИСОК \"-\" - стандартный ввод, пути относительно\n"
     "                   текущей папки);\n"
     "                   пустые строки, строки с # в начале и строка-заголовок\n"
     "                   \"reference,test\" пропускаются; результат - строки JSON\n"
     "                   в порядке списка\n"
     "  --jobs N         число параллельных потоков для --batch, от 1 до 256\n"
     "                   (по умолчанию - число ядер)\n"
     "  --no-check       не проверять пару перед оценкой (задержку, уровень,\n"
     "                   полярность, порядок каналов, тишину и ограничение)\n"
     "  --max-delay МС   искать задержку в пределах +-МС миллисекунд, от 0 до\n"
     "                   10000 (по умолчанию 500)\n"
     "  --align          убрать найденную задержку и оценить общую часть\n"
     "                   сигналов; так оцениваются и файлы разной длины\n"
     "  --match-level    привести уровень исследуемого сигнала к эталонному\n"
     "                   (инвертированный сигнал при этом переворачивается)\n"
     "  --strict         принимать только WAV PCM 48 кГц 16 бит, без преобразований,\n"
     "                   с проверками и сообщениями мастера\n"
     "  --frames ФАЙЛ    значения каждого кадра по мере расчёта: CSV с заголовком\n"
     "                   (JSON Lines, если имя оканчивается на .jsonl; - для\n"
     "                   стандартного вывода, результат тогда идёт после строк);\n"
     "                   только для одной пары\n"
     "  --report ФАЙЛ    отчёт HTML без внешних ссылок: файлы, оценка на шкале\n"
     "                   ODG, проверка пары, переменные модели, графики по кадрам;\n"
     "                   с --batch - сводка всех пар\n"
     "  --help, -h       эта справка\n"
     "  --version        версия программы\n"
     "\n"
     "Коды завершения: 0 - оценка получена; 1 - входные файлы отклонены\n"
     "(в пакетном режиме - хотя бы одна пара отклонена или не рассчитана);\n"
     "2 - ошибка в параметрах; 3 - сбой модели; 4 - сигнал не может быть\n"
     "оценён (например, он короче 23 кадров; в пакетном режиме - все пары\n"
     "рассчитаны, но не все оценены); прерванный сигналом расчёт завершается\n"
     "этим сигналом (код 128 + номер сигнала).\n"},
    {IDS_CLI_TRY_HELP, "Справка: velumar-cli --help"},
    {IDS_CLI_BAD_OPTION, "Неизвестный параметр %1"},
    {IDS_CLI_MISSING_VALUE, "Для параметра %1 не задано значение"},
    {IDS_CLI_BAD_LEVEL, "Недопустимый уровень прослушивания \"%1\": ожидается число от 0.0 до 100.0 (дБ)"},
    {IDS_CLI_BAD_STEP,
     "Недопустимый размер шага \"%1\": ожидается целое число от 1 до числа значений в эталонном файле"},
    {IDS_CLI_STEP_TOO_LARGE, "Размер шага %1 больше числа 16-битных значений в эталонном файле"},
    {IDS_CLI_BAD_JOBS, "Недопустимое число потоков \"%1\": ожидается целое число от 1 до 256"},
    {IDS_CLI_FILE_COUNT, "Нужно указать два файла: эталонный и исследуемый"},
    {IDS_CLI_JOBS_WITHOUT_BATCH, "Параметр --jobs используется только вместе с --batch"},
    {IDS_CLI_FILES_WITH_BATCH, "С параметром --batch пары файлов задаются в списке, а не в командной строке"},
    {IDS_CLI_LIST_OPEN_ERROR, "Не удалось прочитать список пар %1"},
    {IDS_CLI_LIST_LINE_ERROR, "Строка %1 списка пар: ожидается \"эталонный файл,исследуемый файл\""},
    {IDS_CLI_MODEL_CREATION, "Не удалось создать экземпляр модели PEAQ"},
    {IDS_CLI_MODEL_EXECUTION, "Сбой при расчёте модели PEAQ: этап вернул код %1"},
    {IDS_CLI_NOT_GRADED,
     "Внимание: модель не вычислила оценку (например, сигнал короче 23 кадров); показано её условное значение"},
    {IDS_CLI_OUTPUT_ERROR, "Не удалось записать результат"},
    {IDS_CLI_REFERENCE_LABEL, "Эталонный сигнал:"},
    {IDS_CLI_TEST_LABEL, "Исследуемый сигнал:"},
    {IDS_CLI_ODG_LABEL, "Значение ODG:"},
    {IDS_CLI_GRADE_LABEL, "Оценка искажений:"},
    {IDS_CLI_DI_LABEL, "Индекс искажений (DI):"},
    {IDS_CLI_TIME_LABEL, "Время вычисления (мин):"},
    {IDS_CLI_SPEED_LABEL, "Сред. скорость обработки (сэмплов/с):"},
    {IDS_CLI_RTF_LABEL, "Фактор \"реального времени\":"},
    {IDS_CLI_FRAMES_LABEL, "Обработано кадров:"},
    {IDS_CLI_CHANNELS_LABEL, "Каналов:"},
    {IDS_CLI_VALUES_LABEL, "Обработано 16-битных значений:"},
    {IDS_CLI_MOVS_TITLE, "Выходные переменные модели (MOV):"},
    {IDS_CLI_MOVS_NETWORK, "вход сети"},
    {IDS_CLI_CHANNEL_1, "канал 1"},
    {IDS_CLI_CHANNEL_2, "канал 2"},
    {IDS_CLI_NOT_AVAILABLE, "—"},
    {IDS_CLI_PROGRESS, "Расчёт"},
    {IDS_CLI_BATCH_PROGRESS, "Пары"},
    {IDS_CLI_INTERNAL_ERROR, "Внутренняя ошибка: %1"},
    {IDS_INPUT_RATE_RANGE,
     "Частота дискретизации файла %1 равна %2 Гц: допускается от 8000 до 384000 Гц"},
    {IDS_INPUT_CHANNEL_COUNT, "Файл %1 содержит каналов: %2; допускается один или два канала"},
    {IDS_INPUT_CHANNELS_DIFFER,
     "Файлы имеют различное число каналов: в эталонном %1, в исследуемом %2"},
    {IDS_INPUT_UNKNOWN_FORMAT, "Формат файла %1 не распознан (%2): %3"},
    {IDS_INPUT_READ_ERROR, "Ошибка при чтении файла %1: %2"},
    {IDS_INPUT_TRUNCATED,
     "Файл %1 прочитан не полностью: получено %2 на канал из %3 заявленных"},
    {IDS_INPUT_NOT_A_NUMBER, "Файл %1 содержит значения, не являющиеся числами (NaN)"},
    {IDS_INPUT_CONVERTED, "Файл %1 (%2, %3 Гц, %4, каналов: %5) преобразован в 48 кГц, 16 бит"},
    {IDS_INPUT_CLIPPED, "; значений за пределами полной шкалы (ограничены): %1"},
    {IDS_INPUT_LOSSY, "сжатие с потерями"},
    {IDS_INPUT_BITS, "%1 бит"},
    {IDS_INPUT_BAD_LENGTH, "Файл %1 заявляет недопустимую длину: %2 на канал"},
    {IDS_WARN_CONVERTED,
     "Файлы преобразованы к 48 кГц, 16 бит: модель откалибрована для такого материала, "
     "оценка получена после преобразования"},
    {IDS_WARN_UNRELATED,
     "Сигналы почти не похожи друг на друга: возможно, сравниваются не те файлы или задержка больше предела поиска"},
    {IDS_INPUT_OPEN_FAILED, "Ошибка при открытии файла %1: %2"},
    {IDS_INPUT_NOT_FOUND, "файл не найден"},
    {IDS_INPUT_IS_FOLDER, "это папка, а не файл"},
    {IDS_INPUT_NOT_REGULAR, "это не обычный файл (канал, устройство или сокет)"},
    {IDS_INPUT_UNREADABLE, "файл недоступен для чтения"},
    {IDS_CAPTION_WELCOME, "Модель PEAQ: шаг 1 из 4 (знакомство)"},
    {IDS_CAPTION_SETUP, "Модель PEAQ: шаг 2 из 4 (выбор входных файлов)"},
    {IDS_CAPTION_PROGRESS, "Модель PEAQ: шаг 3 из 4 (настройки и расчёт)"},
    {IDS_CAPTION_RESULTS, "Модель PEAQ: шаг 4 из 4 (результаты)"},
    {IDS_CAPTION_SETTINGS, "Параметры алгоритма PEAQ"},
    {IDS_CAPTION_ABOUT, "О программе"},
    {IDS_NOT_AVAILABLE, "—"},
    {IDS_MODEL_CREATION_FAILED,
     "Не удалось создать модель PEAQ: библиотека не приняла параметры расчёта "
     "или не хватило памяти. Расчёт не выполнен."},
    {IDS_MODEL_EXECUTION_ERROR,
     "Ошибка при расчёте по модели PEAQ: этап обработки с кодом %1 завершился неудачно. "
     "Расчёт прерван."},
    {IDS_RUN_FAILED, "Расчёт прерван из-за непредвиденной ошибки. %1"},
    {IDS_LEVEL_RANGE, "Уровень воспроизведения (дБ): введите число от %1 до %2."},
    {IDS_STEP_RANGE, "Объём буфера (в сэмплах): введите целое число от %1 до %2."},
    {IDS_REASON_TOO_SHORT,
     "Сигнал короче 23 кадров (около 0.5 с), меньше которых модель PEAQ не даёт оценки: "
     "его длительность %2 с, обработано кадров: %1"},
    {IDS_REASON_NOT_BASIC, "Оценку даёт только базовая версия модели PEAQ, а выбрана версия %1"},
    {IDS_REASON_MOVS_UNAVAILABLE, "Выходные переменные модели (MOV) не удалось собрать, оценка не вычислена"},
    {IDS_REASON_LENGTHS_DIFFER,
     "Файлы имеют разную длину: эталонный %1 на канал (%2 с), исследуемый %3 на канал (%4 с). "
     "С параметром --align оценивается их общая часть"},
    {IDS_NOT_GRADED_BOX, "Сигнал не может быть оценён.\n%1."},
    {IDS_CHECK_TITLE, "Проверка пары:"},
    {IDS_CHECK_DELAY, "Задержка исследуемого сигнала: %1 (%2 мс)"},
    {IDS_CHECK_CORRELATION, "Корреляция: %1"},
    {IDS_CHECK_GAIN, "Усиление: %1 дБ"},
    {IDS_CHECK_NO_WARNINGS, "Замечаний нет"},
    {IDS_WARN_LATE, "Исследуемый сигнал запаздывает относительно эталонного на %1 (%2 мс)"},
    {IDS_WARN_EARLY, "Исследуемый сигнал опережает эталонный на %1 (%2 мс)"},
    {IDS_WARN_LEVEL, "Уровень исследуемого сигнала отличается от эталонного на %1 дБ"},
    {IDS_WARN_INVERTED, "Исследуемый сигнал инвертирован: его полярность обратна эталонному"},
    {IDS_WARN_SWAPPED, "Каналы исследуемого сигнала переставлены: левый и правый поменяны местами"},
    {IDS_WARN_SILENT, "Эталонный сигнал — цифровая тишина или почти тишина: оценивать не с чем"},
    {IDS_WARN_CLIPPED,
     "В исследуемом сигнале есть ограничение на полной шкале, которого нет в эталонном "
     "(значений в таких участках: %1)"},
    {IDS_CHECK_QUESTION, "Проверка пары файлов показала:\n\n%1\n\nОценка может быть искажена. Продолжить?"},
    {IDS_APPLIED_TITLE, "Перед оценкой:"},
    {IDS_APPLIED_DELAY, "Задержка убрана: сдвиг на %1, оценена общая часть"},
    {IDS_APPLIED_GAIN, "Уровень выровнен: исследуемый сигнал умножен на %1 дБ"},
    {IDS_APPLIED_CLIPPED, "При выравнивании уровня ограничено значений: %1"},
    {IDS_APPLIED_UNTRUSTED, "Задержка не определена надёжно (корреляция %1), сигналы не сдвинуты"},
    {IDS_APPLIED_NOTHING, "Ничего не изменено"},
    {IDS_CLI_NO_OVERLAP, "После устранения задержки у сигналов не остаётся общей части"},
    {IDS_CLI_BAD_MAX_DELAY, "Недопустимая наибольшая задержка \"%1\": ожидается число от 0 до 10000 (мс)"},
    {IDS_CLI_NO_CHECK_CONFLICT, "Параметры --align и --match-level опираются на проверку пары и не сочетаются с --no-check"},
    {IDS_CLI_NOT_GRADED_LABEL, "Оценка не получена:"},
    {IDS_CHECK_DELAY_UNTRUSTED,
     "Задержка исследуемого сигнала не определена: наибольший пик корреляции (%2) при сдвиге в %1 ненадёжен"},
    {IDS_CHECK_UNRELATED,
     "Сигналы почти не похожи друг на друга: проверьте, те ли файлы сравниваются и не больше ли задержка, "
     "чем предел поиска (--max-delay); уровень, полярность и порядок каналов не проверены"},
    {IDS_CLI_LIST_IS_AUDIO,
     "Список пар %1 - звуковой файл, а не текст со строками \"эталон,исследуемый\"; "
     "чтобы оценить одну пару, укажите ЭТАЛОН и ИССЛЕДУЕМЫЙ без --batch"},
    {IDS_CLI_FRAMES_WITH_BATCH, "Параметр --frames применим только к одной паре, не к --batch"},
    {IDS_CLI_FRAMES_JSON_STDOUT,
     "--frames - и --json оба пишут в стандартный вывод; укажите для --frames имя файла"},
    {IDS_CLI_FRAMES_WRITE_ERROR, "Не удалось записать значения по кадрам в файл %1"},
    {IDS_CLI_REPORT_WRITE_ERROR, "Не удалось записать отчёт в файл %1"},
    {IDS_PY_REFERENCE, "Эталонный сигнал"},
    {IDS_PY_TEST, "Исследуемый сигнал"},
    {IDS_PY_BAD_DTYPE,
     "недопустимый тип отсчётов %1: ожидается int16 или числа с плавающей точкой от -1 до 1"},
    {IDS_PY_BAD_SHAPE, "недопустимая форма массива %1: ожидается (n,) для одного канала или (n, 2) для двух"},
    {IDS_PY_NOT_FINITE, "отсчёт %1 не является конечным числом"},
    {IDS_PY_CHANNELS_DIFFER, "Сигналы имеют различное число каналов"},
    {IDS_PY_BAD_LEVEL, "Недопустимый уровень прослушивания %1: ожидается число от 0.0 до 100.0 (дБ)"},
    {IDS_PY_BAD_RATE, "Недопустимая частота дискретизации %1 Гц: ожидается от 8000 до 384000 Гц"},
    {IDS_PY_TOO_LONG, "Сигнал слишком длинный для передискретизации: больше 4 ГБ данных"},
    {IDS_PY_TEMPORARY_FILE, "Не удалось записать временный файл %1 для передискретизации"},
});

static_assert(std::is_sorted(kTable.begin(), kTable.end(),
                             [](const Entry &a, const Entry &b) { return a.id < b.id; }));

} // namespace

std::string_view get(std::uint32_t id)
{
    auto it = std::lower_bound(kTable.begin(), kTable.end(), id,
                               [](const Entry &e, std::uint32_t key) { return e.id < key; });
    return it != kTable.end() && it->id == id ? it->text : std::string_view{};
}

std::string format(std::uint32_t id, std::string_view arg)
{
    const std::string_view pattern = get(id);
    std::string out;
    out.reserve(pattern.size() + arg.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == '1') {
            out += arg;
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

std::string format(std::uint32_t id, std::initializer_list<std::string_view> args)
{
    const std::string_view pattern = get(id);
    std::string out;
    out.reserve(pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
            const auto k = static_cast<std::size_t>(pattern[i + 1] - '1');
            if (k < args.size()) {
                out += *(args.begin() + k);
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

std::string sample_count(long long n)
{
    const unsigned long long m = n < 0 ? 0ULL - static_cast<unsigned long long>(n) : static_cast<unsigned long long>(n);
    const unsigned last = m % 10, last_two = m % 100;
    const char *noun = "сэмплов";
    if (last_two < 11 || last_two > 14) {
        if (last == 1)
            noun = "сэмпл";
        else if (last >= 2 && last <= 4)
            noun = "сэмпла";
    }
    return std::to_string(n) + " " + noun;
}

std::uint32_t grade_category(double odg)
{
    // Whole-grade thresholds, tested from the top; NaN falls through to the
    // last category like any grade below -5.
    if (odg >= -1.0) return IDS_GRADE_IMPERCEPTIBLE;
    if (odg >= -2.0) return IDS_GRADE_NOT_ANNOYING;
    if (odg >= -3.0) return IDS_GRADE_SLIGHTLY_ANNOYING;
    if (odg >= -4.0) return IDS_GRADE_ANNOYING;
    if (odg >= -5.0) return IDS_GRADE_VERY_ANNOYING;
    return IDS_GRADE_TOOTHACHE;
}

} // namespace velumar::text
