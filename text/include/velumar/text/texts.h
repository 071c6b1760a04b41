// The program's string table: every text a user sees, keyed by its id.
//
// Texts are UTF-8. %1 is replaced by the first argument (a file name as the
// user gave it), so a message reads the same whatever its argument holds:
// printf-style directives in a path are never interpreted. Ids below 60000
// are the string ids the dialog descriptions give to these texts; ids from
// 60000 on belong to texts that have none there (the command-line tool's,
// the wizard's additions), kept apart so the two ranges never collide.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace velumar::text {

enum Id : std::uint32_t {
    IDS_SHEET_CAPTION = 103,        // property sheet caption, never shown
    IDS_FILE_OPEN_ERROR = 104,      // "Ошибка при открытии файла %1"
    IDS_RIFF_ERROR = 105,
    IDS_DATA_ERROR = 106,
    IDS_WAVE_ERROR = 107,
    IDS_FMT_ERROR = 108,
    IDS_REQUIREMENTS_ERROR = 109,   // file refused by the model's requirements
    IDS_CREDITS = 110,
    IDS_QUIT_QUESTION = 111,        // "Завершить работу приложения?"

    IDS_APP_TITLE = 57344,          // "Velumar"
    IDS_SCHEME_DEVICE = 57346,
    IDS_SCHEME_REF_1 = 57347,
    IDS_SCHEME_REF_2 = 57348,
    IDS_SCHEME_METHOD_1 = 57349,
    IDS_SCHEME_METHOD_2 = 57350,
    IDS_SCHEME_METHOD_3 = 57351,
    IDS_SCHEME_TEST_1 = 57352,
    IDS_SCHEME_TEST_2 = 57353,
    IDS_SCHEME_GRADE_1 = 57354,
    IDS_SCHEME_GRADE_2 = 57355,
    IDS_GRADE_IMPERCEPTIBLE = 57356,
    IDS_GRADE_NOT_ANNOYING = 57357,
    IDS_GRADE_SLIGHTLY_ANNOYING = 57358,
    IDS_GRADE_ANNOYING = 57359,
    IDS_GRADE_VERY_ANNOYING = 57360,
    IDS_GRADE_TOOTHACHE = 57361,

    IDS_ERROR_CAPTION = 60000,      // "Ошибка!"
    IDS_EMPTY_PATH,                 // "Строка не может быть пустой"
    IDS_CHANNELS_DIFFER,            // "Файлы имеют различное число каналов"
    IDS_LENGTHS_DIFFER,             // "Файлы имеют разную длину (в сэмплах)"
    IDS_STOP_QUESTION,              // "Прервать расчёт?"
    IDS_SCHEME_TITLE,               // "Блок-схема оценки качества"
    IDS_PRODUCT_VERSION,            // "2, 1, 0, 2"
    IDS_FILE_VERSION,               // "1, 0, 0, 2"
    IDS_FILE_CHANGED,               // %1 = a file that changed while it was graded

    // velumar-cli: usage, option errors, result labels and messages.
    IDS_CLI_USAGE = 60100,
    IDS_CLI_TRY_HELP,
    IDS_CLI_BAD_OPTION,             // %1 = the option
    IDS_CLI_MISSING_VALUE,          // %1 = the option
    IDS_CLI_BAD_LEVEL,              // %1 = the value given
    IDS_CLI_BAD_STEP,               // %1 = the value given
    IDS_CLI_STEP_TOO_LARGE,         // %1 = the value given
    IDS_CLI_BAD_JOBS,               // %1 = the value given
    IDS_CLI_FILE_COUNT,
    IDS_CLI_JOBS_WITHOUT_BATCH,
    IDS_CLI_FILES_WITH_BATCH,
    IDS_CLI_LIST_OPEN_ERROR,        // %1 = the list's path
    IDS_CLI_LIST_LINE_ERROR,        // %1 = the line number
    IDS_CLI_MODEL_CREATION,
    IDS_CLI_MODEL_EXECUTION,        // %1 = the stage code
    IDS_CLI_NOT_GRADED,
    IDS_CLI_OUTPUT_ERROR,
    IDS_CLI_REFERENCE_LABEL,
    IDS_CLI_TEST_LABEL,
    IDS_CLI_ODG_LABEL,
    IDS_CLI_GRADE_LABEL,
    IDS_CLI_DI_LABEL,
    IDS_CLI_TIME_LABEL,
    IDS_CLI_SPEED_LABEL,
    IDS_CLI_RTF_LABEL,
    IDS_CLI_FRAMES_LABEL,
    IDS_CLI_CHANNELS_LABEL,
    IDS_CLI_VALUES_LABEL,
    IDS_CLI_MOVS_TITLE,
    IDS_CLI_MOVS_NETWORK,           // column of the network inputs
    IDS_CLI_CHANNEL_1,
    IDS_CLI_CHANNEL_2,
    IDS_CLI_NOT_AVAILABLE,          // a value that cannot be computed
    IDS_CLI_PROGRESS,               // progress bar caption, one pair
    IDS_CLI_BATCH_PROGRESS,         // progress bar caption, a batch
    IDS_CLI_INTERNAL_ERROR,         // %1 = what went wrong

    // Input of any format: refusals and what was converted.
    IDS_INPUT_RATE_RANGE = 60200,   // %1 = file, %2 = its rate
    IDS_INPUT_CHANNEL_COUNT,        // %1 = file, %2 = its channel count
    IDS_INPUT_CHANNELS_DIFFER,      // %1, %2 = channels of reference and test
    IDS_INPUT_UNKNOWN_FORMAT,       // %1 = file, %2 = what it starts with, %3 = libsndfile's reason
    IDS_INPUT_READ_ERROR,           // %1 = file, %2 = what went wrong
    IDS_INPUT_TRUNCATED,            // %1 = file, %2 = frames read, %3 = frames announced
    IDS_INPUT_NOT_A_NUMBER,         // %1 = file
    IDS_INPUT_CONVERTED,            // %1 = file, %2 = format/subtype, %3 = rate, %4 = bits, %5 = channels
    IDS_INPUT_CLIPPED,              // %1 = the number of values clipped
    IDS_INPUT_LOSSY,                // in place of a word length
    IDS_INPUT_BITS,                 // %1 = a word length
    IDS_INPUT_BAD_LENGTH,           // %1 = file, %2 = the length it claims
    IDS_WARN_CONVERTED,             // the pair went through a conversion
    IDS_WARN_UNRELATED,             // no correlation peak worth the name
    IDS_INPUT_OPEN_FAILED,          // %1 = file, %2 = why it cannot be opened
    IDS_INPUT_NOT_FOUND,            // why: nothing at that path
    IDS_INPUT_IS_FOLDER,            // why: a folder
    IDS_INPUT_NOT_REGULAR,          // why: a pipe, device or socket
    IDS_INPUT_UNREADABLE,           // why: the system refuses to read it

    // The wizard: captions, results and failure messages.
    IDS_CAPTION_WELCOME = 61000,    // page 1
    IDS_CAPTION_SETUP,              // page 2
    IDS_CAPTION_PROGRESS,           // page 3
    IDS_CAPTION_RESULTS,            // page 4
    IDS_CAPTION_SETTINGS,           // settings dialog 142
    IDS_CAPTION_ABOUT,              // about box
    IDS_NOT_AVAILABLE,              // a statistic that cannot be computed
    IDS_MODEL_CREATION_FAILED,
    IDS_MODEL_EXECUTION_ERROR,      // %1 = the stage code
    IDS_RUN_FAILED,                 // %1 = what went wrong
    IDS_LEVEL_RANGE,                // %1, %2 = the permitted range
    IDS_STEP_RANGE,                 // %1, %2 = the permitted range

    // The grading pipeline: why a pair has no grade, the pair check and
    // what was done to the pair before grading.
    IDS_REASON_TOO_SHORT = 62000,   // %1 = frames, %2 = seconds
    IDS_REASON_NOT_BASIC,           // %1 = the version chosen
    IDS_REASON_MOVS_UNAVAILABLE,
    IDS_REASON_LENGTHS_DIFFER,      // %1, %2 = reference values, seconds; %3, %4 = test
    IDS_NOT_GRADED_BOX,             // %1 = the reason
    IDS_CHECK_TITLE,
    IDS_CHECK_DELAY,                // %1 = samples, %2 = milliseconds
    IDS_CHECK_CORRELATION,          // %1 = the correlation
    IDS_CHECK_GAIN,                 // %1 = dB
    IDS_CHECK_NO_WARNINGS,
    IDS_WARN_LATE,                  // %1 = samples, %2 = milliseconds
    IDS_WARN_EARLY,                 // %1 = samples, %2 = milliseconds
    IDS_WARN_LEVEL,                 // %1 = dB
    IDS_WARN_INVERTED,
    IDS_WARN_SWAPPED,
    IDS_WARN_SILENT,
    IDS_WARN_CLIPPED,               // %1 = values in full-scale runs
    IDS_CHECK_QUESTION,             // %1 = the findings, one per line
    IDS_APPLIED_TITLE,
    IDS_APPLIED_DELAY,              // %1 = samples
    IDS_APPLIED_GAIN,               // %1 = dB
    IDS_APPLIED_CLIPPED,            // %1 = values clipped when scaled
    IDS_APPLIED_UNTRUSTED,          // %1 = the correlation
    IDS_APPLIED_NOTHING,
    IDS_CLI_NO_OVERLAP,
    IDS_CLI_BAD_MAX_DELAY,          // %1 = the value given
    IDS_CLI_NO_CHECK_CONFLICT,
    IDS_CLI_NOT_GRADED_LABEL,
    IDS_CHECK_DELAY_UNTRUSTED,      // %1 = samples at the highest peak, %2 = the correlation there
    IDS_CHECK_UNRELATED,
    IDS_CLI_LIST_IS_AUDIO,          // %1 = the list given

    // Per-frame values and HTML reports.
    IDS_CLI_FRAMES_WITH_BATCH = 63000,
    IDS_CLI_FRAMES_JSON_STDOUT,
    IDS_CLI_FRAMES_WRITE_ERROR,     // %1 = the file
    IDS_CLI_REPORT_WRITE_ERROR,     // %1 = the file

    // The Python module: refusals of arrays and keyword arguments.
    IDS_PY_REFERENCE = 64000,       // "эталонный сигнал", the subject of a refusal
    IDS_PY_TEST,                    // "исследуемый сигнал"
    IDS_PY_BAD_DTYPE,               // %1 = the array's element type
    IDS_PY_BAD_SHAPE,               // %1 = the array's shape
    IDS_PY_NOT_FINITE,              // %1 = the position of the first bad value
    IDS_PY_CHANNELS_DIFFER,
    IDS_PY_BAD_LEVEL,               // %1 = the value given
    IDS_PY_BAD_RATE,                // %1 = the value given
    IDS_PY_TOO_LONG,
    IDS_PY_TEMPORARY_FILE,          // %1 = the file
};

// The text of an id; empty when the table has no such entry.
std::string_view get(std::uint32_t id);

// The text of an id with every %1 replaced by arg.
std::string format(std::uint32_t id, std::string_view arg);
// The text of an id with %1 ... %9 replaced by the arguments in order.
std::string format(std::uint32_t id, std::initializer_list<std::string_view> args);

// A count of samples with the noun in the form Russian puts after that
// number: "1 сэмпл", "3 сэмпла", "5 сэмплов", "21 сэмпл", "-480 сэмплов".
std::string sample_count(long long n);

// The verbal category of an Objective Difference Grade (ids 57356..57361).
std::uint32_t grade_category(double odg);

} // namespace velumar::text
