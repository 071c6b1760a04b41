#include <velumar/report/frame_writer.h>

#include <cctype>
#include <cmath>
#include <stdexcept>

namespace velumar::report {

FrameFormat frame_format_for_path(std::string_view path)
{
    constexpr std::string_view ext = ".jsonl";
    if (path.size() < ext.size()) return FrameFormat::csv;
    const std::string_view tail = path.substr(path.size() - ext.size());
    for (std::size_t i = 0; i < ext.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(tail[i])) != ext[i]) return FrameFormat::csv;
    return FrameFormat::json_lines;
}

std::vector<std::string> frame_columns(int channels)
{
    std::vector<std::string> cols = {"frame", "time_s", "loud", "energy"};
    for (int c = 0; c < channels; ++c)
        for (int q = 0; q < kFrameQuantityCount; ++q)
            cols.push_back(std::string(frame_quantity_name(static_cast<FrameQuantity>(q))) + "_" +
                           std::to_string(c + 1));
    if (channels == 2) cols.push_back("detection_probability_binaural");
    return cols;
}

namespace {

class RowWriter : public FrameWriter {
public:
    RowWriter(std::ostream &out, FrameFormat format, int channels)
        : out_(out), format_(format), channels_(channels), columns_(frame_columns(channels))
    {
        if (format_ == FrameFormat::csv) {
            for (std::size_t i = 0; i < columns_.size(); ++i) {
                if (i) line_ += ',';
                line_ += columns_[i];
            }
            line_ += '\n';
            emit();
        }
    }

    void write(const FrameRow &row) override
    {
        if (row.channels != channels_)
            throw std::invalid_argument("per-frame row with " + std::to_string(row.channels) +
                                        " channel(s) for a file of " + std::to_string(channels_));
        std::size_t col = 0;
        field(col++, std::to_string(row.frame));
        field(col++, format_number(row.time_s));
        field(col++, row.loud ? "1" : "0");
        field(col++, row.energy ? "1" : "0");
        for (int c = 0; c < channels_; ++c)
            for (int q = 0; q < kFrameQuantityCount; ++q)
                value(col++, row.get(c, static_cast<FrameQuantity>(q)));
        if (channels_ == 2) value(col++, row.binaural_detection_probability());
        line_ += format_ == FrameFormat::csv ? "\n" : "}\n";
        ++rows_;
        emit();
    }

    void finish() override
    {
        if (format_ == FrameFormat::json_array) {
            line_ = rows_ ? "]\n" : "[]\n";
            emit();
        }
        out_.flush();
        if (!out_) throw std::runtime_error("the per-frame values could not be written completely");
    }

private:
    void field(std::size_t col, const std::string &text)
    {
        if (format_ == FrameFormat::csv) {
            if (col) line_ += ',';
        } else {
            if (!col && format_ == FrameFormat::json_array) line_ += rows_ ? "," : "[";
            line_ += col ? ",\"" : "{\"";
            line_ += columns_[col];
            line_ += "\":";
        }
        line_ += text;
    }

    void value(std::size_t col, std::optional<double> v)
    {
        // JSON has no infinities or NaN; the model never produces them, but a
        // non-finite value must not make the line unreadable.
        if (!v) field(col, format_ == FrameFormat::csv ? "" : "null");
        else if (format_ != FrameFormat::csv && !std::isfinite(*v)) field(col, "null");
        else field(col, format_number(*v));
    }

    void emit()
    {
        out_.write(line_.data(), static_cast<std::streamsize>(line_.size()));
        line_.clear();
        if (!out_) throw std::runtime_error("the per-frame values could not be written");
    }

    std::ostream &out_;
    FrameFormat format_;
    int channels_;
    std::vector<std::string> columns_;
    std::string line_;
    std::uint64_t rows_ = 0;
};

} // namespace

std::unique_ptr<FrameWriter> make_frame_writer(std::ostream &out, FrameFormat format, int channels)
{
    if (channels != 1 && channels != 2)
        throw std::invalid_argument("per-frame values need 1 or 2 channels, not " + std::to_string(channels));
    return std::make_unique<RowWriter>(out, format, channels);
}

} // namespace velumar::report
