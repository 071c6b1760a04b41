// WAV input: a file mapped read-only into memory, its RIFF/WAVE header,
// format and data chunks located in place, and the structural faults
// reported as small exception classes.
//
// The samples are never copied: the model reads them straight from the
// mapping through sample_data() for the life of the CWaveFile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace WaveErrors {

// Tags of the structural faults a CWaveFile constructor throws.
struct FileOperation {};    // cannot open, empty, cannot map
struct RiffDoesntMatch {};  // no "RIFF" at offset 0
struct WaveDoesntMatch {};  // no "WAVE" at offset 8
struct FmtDoesntMatch {};   // no "fmt " at offset 12
struct DataDoesntMatch {};  // no "data" chunk at or after offset 36, or one
                            // that claims more bytes than the file holds
struct FileChanged {};      // truncated or rewritten while it was being read

// A fault bound to the file it happened in and to the string-table entry
// that describes it.
class FileException {
public:
    FileException(std::string file_name, std::uint32_t message_id);
    virtual ~FileException() = default;

    const std::string &file_name() const { return file_name_; }
    std::uint32_t message_id() const { return message_id_; }
    // The string-table entry with %1 replaced by the file name.
    std::string text() const;

private:
    std::string file_name_;
    std::uint32_t message_id_;
};

// Catchable both as the tag T and as FileException.
template <class T, std::uint32_t N>
class WaveExceptionExt : public T, public FileException {
public:
    explicit WaveExceptionExt(std::string file_name) : T(), FileException(std::move(file_name), N) {}
};

// The string-table entry of FileChanged ("Файл %1 изменился во время
// расчёта"); the other faults use 104 to 108.
constexpr std::uint32_t kFileChangedMessage = 60008;
using FileChangedError = WaveExceptionExt<FileChanged, kFileChangedMessage>;

} // namespace WaveErrors

// A whole file mapped read-only. Open() closes what is open first; on
// failure everything obtained is released and the object stays closed.
class CFileMap {
public:
    CFileMap() = default;
    ~CFileMap() { Close(); }
    CFileMap(const CFileMap &) = delete;
    CFileMap &operator=(const CFileMap &) = delete;

    // Maps the existing file `path` read-only. False when it cannot be
    // opened, is empty, is not a regular file, is 4 GiB or larger, or
    // cannot be mapped.
    bool Open(const char *path);
    void Close();

    std::uint32_t size() const { return size_; }
    const unsigned char *view() const { return view_; }

    // True when the file was truncated below a page that was then read:
    // the read gave zeros instead of ending the process (mapping_guard.h).
    // A flag, cheap enough to ask after every step.
    bool Faulted() const;
    // True when Faulted(), or when the file's size or modification time
    // differs from those at opening (one fstat).
    bool Changed() const;

    // The bytes before `offset` will not be read again soon: the whole
    // pages among them leave this process's memory (a later read fetches
    // them from the file again, so nothing changes but residency). Done in
    // steps of at least kReleaseStep bytes, so calling it after every small
    // read costs nothing. An offset below the last one starts a new pass
    // over the file.
    void ReleaseBefore(std::size_t offset) const;
    static constexpr std::size_t kReleaseStep = std::size_t{1} << 20;

private:
    std::uint32_t size_ = 0;
    mutable std::size_t released_ = 0;  // bytes from the start already released
    int fd_ = -1;
    const unsigned char *view_ = nullptr;
    int guard_slot_ = -1;
    long long mtime_sec_ = 0;
    long long mtime_nsec_ = 0;
};

class CWaveFile {
public:
    // Opens and parses `path`; throws one of the WaveErrors tags.
    explicit CWaveFile(const std::string &path);
    virtual ~CWaveFile();
    CWaveFile(const CWaveFile &) = delete;
    CWaveFile &operator=(const CWaveFile &) = delete;

    std::uint16_t channel_count() const;
    std::uint32_t sample_rate() const;
    std::uint16_t bits_per_sample() const;
    std::uint32_t data_size() const;              // bytes, as the header says
    const std::int16_t *sample_data() const;      // first sample, in the mapping

    const std::string &path() const { return path_; }  // as given to the constructor
    bool Faulted() const { return map_.Faulted(); }
    bool Changed() const { return map_.Changed(); }
    // The samples before `position` (within sample_data()) have been read
    // for good: their pages of the mapping may go (CFileMap::ReleaseBefore).
    // Nothing to do when the samples are a copy.
    void ReleaseSamplesBefore(const std::int16_t *position) const;

private:
    std::string path_;
    CFileMap map_;
    const unsigned char *position_ = nullptr;
    const unsigned char *riff_header_ = nullptr;
    const unsigned char *format_chunk_ = nullptr;
    const unsigned char *data_chunk_ = nullptr;
    // The samples, copied once at opening, of a malformed file whose data
    // chunk starts at an odd offset (16-bit values must not be read through
    // a misaligned pointer); empty for every well-formed file.
    std::unique_ptr<std::int16_t[]> aligned_samples_;
};

// 16-bit values in the data chunk, all channels together (size / 2).
std::uint32_t GetSampleCount(const CWaveFile &file);

// A new CWaveFile owned by the caller; faults rethrown as the matching
// WaveErrors::WaveExceptionExt carrying `path` and its message id.
CWaveFile *OpenWaveFile(const std::string &path);

// One or two channels, 16 bits, 48 kHz (the model's defaults).
bool CheckModelRequirements(const CWaveFile &file);
bool SameChannelCount(const CWaveFile &a, const CWaveFile &b);
bool SameLength(const CWaveFile &a, const CWaveFile &b);

// Throw WaveErrors::FileChangedError naming the file when it was read after
// being cut short, or (ThrowIfChanged) when it changed at all since it was
// opened: whatever was computed from its samples is then void.
void ThrowIfFaulted(const CWaveFile &file);
void ThrowIfChanged(const CWaveFile &file);
