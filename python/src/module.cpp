// velumar._velumar: the compiled half of the Python package. It turns NumPy
// arrays into 16-bit signals, runs the grading with the interpreter lock
// released (so that threads grade in parallel) and hands back the result
// record as JSON text; the package's Python half builds the result object.
#include "grading.h"

#include <velumar/audio/input.h>
#include <velumar/text/texts.h>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace py = pybind11;

namespace velumar::python {
namespace {

// The base class of the module's exceptions has no C++ counterpart.
struct ErrorTag {};

void Raise(const py::handle &type, const Failure &failure)
{
    py::object error = type(py::str(failure.what()));
    error.attr("reason_code") = py::str(failure.reason_code);
    error.attr("record") = failure.json.empty() ? py::object(py::none())
                                                : py::module_::import("json").attr("loads")(py::str(failure.json));
    PyErr_SetObject(type.ptr(), error.ptr());
}

[[noreturn]] void Refuse(std::uint32_t subject, std::uint32_t problem, const std::string &value)
{
    std::string message(text::get(subject));
    message += ": ";
    message += text::format(problem, value);
    throw InputFailure(message);
}

std::string ShapeText(const py::array &array)
{
    std::string out = "(";
    for (py::ssize_t i = 0; i < array.ndim(); ++i) {
        if (i > 0) out += ", ";
        out += std::to_string(array.shape(i));
    }
    if (array.ndim() == 1) out += ",";
    return out + ")";
}

// A NumPy array of shape (n,), (n, 1) or (n, 2) as an interleaved signal.
Signal ToSignal(const py::handle &object, std::uint32_t subject, bool keep_floats)
{
    py::array array = py::array::ensure(object);
    if (!array) Refuse(subject, text::IDS_PY_BAD_DTYPE, std::string(py::str(py::type::of(object).attr("__name__"))));

    const py::dtype dtype = array.dtype();
    const char kind = dtype.kind();
    const bool int16 = kind == 'i' && dtype.itemsize() == 2;
    if (!int16 && kind != 'f') Refuse(subject, text::IDS_PY_BAD_DTYPE, std::string(py::str(static_cast<const py::handle &>(dtype))));
    const bool shape_ok = array.ndim() == 1 || (array.ndim() == 2 && (array.shape(1) == 1 || array.shape(1) == 2));
    if (!shape_ok) Refuse(subject, text::IDS_PY_BAD_SHAPE, ShapeText(array));

    Signal signal;
    signal.channels = array.ndim() == 2 ? static_cast<unsigned>(array.shape(1)) : 1u;
    const auto count = static_cast<std::size_t>(array.size());
    signal.values.resize(count);
    if (int16) {
        const auto values = py::array_t<std::int16_t, py::array::c_style | py::array::forcecast>::ensure(array);
        std::copy(values.data(), values.data() + count, signal.values.begin());
        return signal;
    }
    const auto values = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(array);
    const double *data = values.data();
    for (std::size_t i = 0; i < count; ++i) {
        if (!std::isfinite(data[i])) {
            std::string where = std::to_string(i / signal.channels);
            if (array.ndim() == 2) where = "[" + where + ", " + std::to_string(i % signal.channels) + "]";
            Refuse(subject, text::IDS_PY_NOT_FINITE, where);
        }
    }
    if (keep_floats) {
        signal.values.clear();
        signal.floats.assign(data, data + count);
        return signal;
    }
    for (std::size_t i = 0; i < count; ++i) {
        bool clipped = false;
        signal.values[i] = ToSample(data[i], clipped);
        if (clipped) ++signal.clipped;
    }
    return signal;
}

GradeOptions Options(double level_db, bool align, bool match_level, bool frames, double sample_rate)
{
    // Whole hertz within what the resampler takes; anything else is refused
    // here, before it could be cut to an integer.
    if (!(sample_rate >= audio::kMinInputRate && sample_rate <= audio::kMaxInputRate) ||
        sample_rate != std::floor(sample_rate)) {
        char value[64];
        std::snprintf(value, sizeof value, "%g", sample_rate);
        throw InputFailure(text::format(text::IDS_PY_BAD_RATE, value));
    }
    GradeOptions options;
    options.level_db = level_db;
    options.align = align;
    options.match_level = match_level;
    options.frames = frames;
    options.sample_rate = static_cast<std::uint32_t>(sample_rate);
    return options;
}

template <class T, class Get>
py::array_t<T> Column(const std::vector<FrameRow> &rows, Get get)
{
    py::array_t<T> column(static_cast<py::ssize_t>(rows.size()));
    T *out = column.mutable_data();
    for (const FrameRow &row : rows) *out++ = static_cast<T>(get(row));
    return column;
}

// The per-frame table as named columns in the order of velumar-cli --frames;
// the package puts them into one structured array.
py::dict FrameColumns(const std::vector<FrameRow> &rows, unsigned channels)
{
    py::dict columns;
    columns["frame"] = Column<std::uint32_t>(rows, [](const FrameRow &r) { return r.frame; });
    columns["time_s"] = Column<double>(rows, [](const FrameRow &r) { return r.time_s; });
    columns["loud"] = Column<std::int8_t>(rows, [](const FrameRow &r) { return r.loud; });
    columns["energy"] = Column<std::int8_t>(rows, [](const FrameRow &r) { return r.energy; });
    for (unsigned c = 0; c < channels; ++c) {
        const std::string n = "_" + std::to_string(c + 1);
        const auto ch = [c](const FrameRow &r) -> const FrameChannel & { return r.channel[c]; };
        columns[py::str("bandwidth_ref" + n)] =
            Column<std::uint32_t>(rows, [&](const FrameRow &r) { return ch(r).bandwidth_ref; });
        columns[py::str("bandwidth_test" + n)] =
            Column<std::uint32_t>(rows, [&](const FrameRow &r) { return ch(r).bandwidth_test; });
        columns[py::str("nmr_db" + n)] = Column<double>(rows, [&](const FrameRow &r) { return ch(r).nmr_db; });
        columns[py::str("disturbed" + n)] = Column<std::int8_t>(rows, [&](const FrameRow &r) { return ch(r).disturbed; });
        columns[py::str("moddiff1" + n)] = Column<double>(rows, [&](const FrameRow &r) { return ch(r).moddiff1; });
        columns[py::str("moddiff2" + n)] = Column<double>(rows, [&](const FrameRow &r) { return ch(r).moddiff2; });
        columns[py::str("temporal_weight" + n)] =
            Column<double>(rows, [&](const FrameRow &r) { return ch(r).temporal_weight; });
        columns[py::str("noise_loudness" + n)] =
            Column<double>(rows, [&](const FrameRow &r) { return ch(r).noise_loudness; });
        columns[py::str("ehs" + n)] = Column<double>(rows, [&](const FrameRow &r) { return ch(r).ehs; });
        columns[py::str("detection_probability" + n)] =
            Column<double>(rows, [&](const FrameRow &r) { return ch(r).detection_probability; });
    }
    if (channels == 2)
        columns["detection_probability_binaural"] =
            Column<double>(rows, [](const FrameRow &r) { return r.detection_probability_binaural; });
    return columns;
}

py::dict Reply(const Graded &graded, const GradeOptions &options, unsigned channels)
{
    py::dict reply;
    reply["record"] = py::str(graded.json);
    py::dict clipped;
    clipped["reference"] = graded.clipped[0];
    clipped["test"] = graded.clipped[1];
    reply["clipped_samples"] = clipped;
    if (options.frames) reply["frames"] = FrameColumns(graded.frames, channels);
    return reply;
}

} // namespace
} // namespace velumar::python

PYBIND11_MODULE(_velumar, m)
{
    using namespace velumar::python;
    m.doc() = "Compiled part of the velumar package; use the functions of velumar itself.";

    // The exception classes live here so that C++ failures become them
    // directly; the package re-exports them as velumar.Error and so on.
    // Each carries the message and `reason_code`, the code a --batch
    // error line gives the same failure.
    static py::exception<ErrorTag> error(m, "Error", PyExc_Exception);
    static py::exception<InputFailure> input_error(m, "InputError", error.ptr());
    static py::exception<ModelFailure> model_error(m, "ModelError", error.ptr());
    for (const char *name : {"Error", "InputError", "ModelError"}) m.attr(name).attr("__module__") = "velumar";
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const InputFailure &e) {
            Raise(input_error, e);
        } catch (const ModelFailure &e) {
            Raise(model_error, e);
        }
    });

    m.def(
        "grade_arrays",
        [](const py::handle &reference, const py::handle &test, double level_db, bool align, bool match_level,
           bool frames, double sample_rate) {
            const GradeOptions options = Options(level_db, align, match_level, frames, sample_rate);
            CheckOptions(options);
            const bool resampled = options.sample_rate != velumar::audio::kModelRate;
            const Signal ref = ToSignal(reference, velumar::text::IDS_PY_REFERENCE, resampled);
            const Signal tst = ToSignal(test, velumar::text::IDS_PY_TEST, resampled);
            Graded graded;
            {
                py::gil_scoped_release unlocked;
                graded = GradeSignals(ref, tst, options);
            }
            return Reply(graded, options, ref.channels);
        },
        py::arg("reference"), py::arg("test"), py::arg("level_db"), py::arg("align"), py::arg("match_level"),
        py::arg("frames"), py::arg("sample_rate"));

    m.def(
        "grade_files",
        [](const std::string &reference, const std::string &test, double level_db, bool align, bool match_level,
           bool frames, double sample_rate) {
            const GradeOptions options = Options(level_db, align, match_level, frames, sample_rate);
            Graded graded;
            {
                py::gil_scoped_release unlocked;
                graded = GradeFiles(reference, test, options);
            }
            return Reply(graded, options, graded.report.channels);
        },
        py::arg("reference"), py::arg("test"), py::arg("level_db"), py::arg("align"), py::arg("match_level"),
        py::arg("frames"), py::arg("sample_rate"));
}
