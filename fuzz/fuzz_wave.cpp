// The WAV reader fed arbitrary bytes as a file: open, check as the
// input-files page does, and read every sample the header claims, as the
// runner would hand them to the model.
#include <velumar/audio/wave_file.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::string g_dir;   // a directory of this process, in memory when possible
std::string g_path;  // the one file written there on every input

void RemoveDirectory()
{
    ::unlink(g_path.c_str());
    ::rmdir(g_dir.c_str());
}

bool WriteAll(const std::uint8_t *data, std::size_t size)
{
    const int fd = ::open(g_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0) break;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return ::close(fd) == 0 && size == 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    for (const char *base : {"/dev/shm", static_cast<const char *>(std::getenv("TMPDIR")), "/tmp"}) {
        if (base == nullptr) continue;
        std::string pattern = std::string(base) + "/velumar-fuzz-wave-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            g_dir = pattern;
            g_path = g_dir + "/input.wav";
            std::atexit(RemoveDirectory);
            return 0;
        }
    }
    std::abort();  // nowhere to write the inputs
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (!WriteAll(data, size)) std::abort();
    std::unique_ptr<CWaveFile> file;
    try {
        file.reset(OpenWaveFile(g_path));
    } catch (const WaveErrors::FileException &e) {
        if (e.file_name() != g_path || e.text().find(g_path) == std::string::npos) std::abort();
        return 0;
    }
    if (size == 0) std::abort();  // an empty file must be refused

    // What the pages and the runner read of an open file.
    volatile bool accepted = CheckModelRequirements(*file);
    accepted = SameChannelCount(*file, *file) && SameLength(*file, *file);
    (void)accepted;
    // Every sample the header claims is read, and compared with an
    // independent reading of the bytes: the first "data" at or after offset
    // 36 heads the samples, which must lie wholly inside the file. (A read
    // past the end inside the last mapped page would not fault.)
    std::size_t at = 36;
    while (at + 4 <= size && std::memcmp(data + at, "data", 4) != 0) ++at;
    const std::size_t bytes = std::size_t{GetSampleCount(*file)} * 2;
    if (at + 8 > size || file->data_size() > size - at - 8 ||
        std::memcmp(file->sample_data(), data + at + 8, bytes) != 0)
        std::abort();
    if (file->Changed()) std::abort();  // nobody touched it
    return 0;
}
