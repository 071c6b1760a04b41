#include "sndfile_write.h"

#include <sndfile.h>

#include <stdexcept>

namespace velumar::testing {

namespace {

template <class Value, class WriteFrames>
std::string Write(const TempDir &dir, const std::string &name, int format, int rate, int channels,
                  const std::vector<Value> &values, WriteFrames write_frames)
{
    const std::string path = (dir.path() / name).string();
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) throw std::runtime_error(sf_strerror(nullptr));
    write_frames(file, values.data(), static_cast<sf_count_t>(values.size() / static_cast<std::size_t>(channels)));
    sf_close(file);
    return path;
}

} // namespace

std::string WriteWithSndfile(const TempDir &dir, const std::string &name, int format, int rate, int channels,
                             const std::vector<std::int16_t> &values)
{
    return Write(dir, name, format, rate, channels, values, sf_writef_short);
}

std::string WriteWithSndfile(const TempDir &dir, const std::string &name, int format, int rate, int channels,
                             const std::vector<double> &values)
{
    return Write(dir, name, format, rate, channels, values, sf_writef_double);
}

} // namespace velumar::testing
