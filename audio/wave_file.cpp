#include <velumar/audio/wave_file.h>

#include <velumar/model.h>

#include <velumar/audio/mapping_guard.h>
#include <velumar/text/texts.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

static_assert(WaveErrors::kFileChangedMessage == velumar::text::IDS_FILE_CHANGED);

namespace WaveErrors {

FileException::FileException(std::string file_name, std::uint32_t message_id)
    : file_name_(std::move(file_name)), message_id_(message_id)
{
}

std::string FileException::text() const
{
    return velumar::text::format(message_id_, file_name_);
}

} // namespace WaveErrors

// ---------------------------------------------------------------------------
// CFileMap

bool CFileMap::Open(const char *path)
{
    Close();
    if (path == nullptr || *path == '\0') return false;

    // O_NONBLOCK so that opening a FIFO with no writer returns at once; the
    // S_ISREG test below then refuses it before anything could block.
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    fd_ = fd;

    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
        static_cast<unsigned long long>(st.st_size) > 0xFFFFFFFFull) {
        Close();
        return false;
    }
    const auto length = static_cast<std::size_t>(st.st_size);

    void *view = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd_, 0);
    if (view == MAP_FAILED) {
        Close();
        return false;
    }
    view_ = static_cast<const unsigned char *>(view);
    size_ = static_cast<std::uint32_t>(length);
    mtime_sec_ = st.st_mtim.tv_sec;
    mtime_nsec_ = st.st_mtim.tv_nsec;
    guard_slot_ = velumar::audio::RegisterMapping(view_, length);
    if (guard_slot_ < 0) {  // an unguarded mapping could end the process
        Close();
        return false;
    }
    return true;
}

bool CFileMap::Faulted() const { return view_ != nullptr && velumar::audio::MappingFaulted(guard_slot_); }

bool CFileMap::Changed() const
{
    if (view_ == nullptr) return false;
    if (Faulted()) return true;
    struct stat st {};
    return ::fstat(fd_, &st) != 0 || st.st_size != static_cast<off_t>(size_) || st.st_mtim.tv_sec != mtime_sec_ ||
           st.st_mtim.tv_nsec != mtime_nsec_;
}

void CFileMap::ReleaseBefore(std::size_t offset) const
{
    if (view_ == nullptr) return;
    static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t end = std::min<std::size_t>(offset, size_) / page * page;
    if (end < released_) released_ = 0;  // a new pass over the file from its start
    if (end < released_ + kReleaseStep) return;
    // A read-only private mapping holds no changes of its own, so dropping
    // its pages loses nothing; pages the bus-error guard replaced by zeros
    // read as zeros again.
    ::madvise(const_cast<unsigned char *>(view_) + released_, end - released_, MADV_DONTNEED);
    released_ = end;
}

void CFileMap::Close()
{
    velumar::audio::UnregisterMapping(guard_slot_);
    guard_slot_ = -1;
    if (view_ != nullptr) ::munmap(const_cast<unsigned char *>(view_), size_);
    if (fd_ >= 0) ::close(fd_);
    view_ = nullptr;
    fd_ = -1;
    size_ = 0;
    released_ = 0;
}

// ---------------------------------------------------------------------------
// CWaveFile

namespace {

constexpr std::uint32_t kFmtOffset = 12;
constexpr std::uint32_t kCanonicalDataOffset = 36;  // fmt chunk with 16 bytes of content
constexpr std::uint32_t kChannelsOffset = 22;
constexpr std::uint32_t kRateOffset = 24;
constexpr std::uint32_t kBitsOffset = 34;

// True when the four bytes at `offset` exist and spell `tag`.
bool TagAt(const CFileMap &map, std::uint32_t offset, const char (&tag)[5])
{
    if (offset > map.size() || map.size() - offset < 4) return false;
    return std::memcmp(map.view() + offset, tag, 4) == 0;
}

std::uint16_t Le16(const unsigned char *p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Le32(const unsigned char *p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

} // namespace

CWaveFile::CWaveFile(const std::string &path) : path_(path)
{
    if (!map_.Open(path.c_str())) throw WaveErrors::FileOperation();
    // From here on every throw leaves through the destructor of map_, which
    // is a fully constructed member, so the mapping is released.

    const unsigned char *view = map_.view();
    const std::uint32_t size = map_.size();

    position_ = view;
    riff_header_ = position_;
    if (!TagAt(map_, 0, "RIFF")) throw WaveErrors::RiffDoesntMatch();
    if (!TagAt(map_, 8, "WAVE")) throw WaveErrors::WaveDoesntMatch();

    position_ = view + kFmtOffset;
    format_chunk_ = position_;
    if (!TagAt(map_, kFmtOffset, "fmt ")) throw WaveErrors::FmtDoesntMatch();
    // The format fields up to the bits per sample must lie inside the file;
    // a file that ends inside them has no data chunk after them either.
    if (size < kBitsOffset + 2) throw WaveErrors::DataDoesntMatch();

    // The data chunk directly after a 16-byte format chunk, or else the
    // first "data" found scanning forward from there.
    std::uint32_t offset = kCanonicalDataOffset;
    while (!TagAt(map_, offset, "data")) {
        if (offset >= size || size - offset <= 4) throw WaveErrors::DataDoesntMatch();
        ++offset;
    }
    // The chunk header (tag and size) must fit, and the samples it claims
    // must be in the file: nothing may ever be read past the mapping.
    if (size - offset < 8) throw WaveErrors::DataDoesntMatch();
    const std::uint32_t claimed = Le32(view + offset + 4);
    if (claimed > size - offset - 8) throw WaveErrors::DataDoesntMatch();

    data_chunk_ = view + offset;
    position_ = data_chunk_ + 8;
    if ((offset + 8) % alignof(std::int16_t) != 0) {
        aligned_samples_ = std::make_unique<std::int16_t[]>(claimed / 2 + 1);
        std::memcpy(aligned_samples_.get(), position_, claimed);
    }
}

CWaveFile::~CWaveFile()
{
    map_.Close();
}

std::uint16_t CWaveFile::channel_count() const
{
    return Le16(riff_header_ + kChannelsOffset);
}

std::uint32_t CWaveFile::sample_rate() const
{
    return Le32(riff_header_ + kRateOffset);
}

std::uint16_t CWaveFile::bits_per_sample() const
{
    return Le16(riff_header_ + kBitsOffset);
}

std::uint32_t CWaveFile::data_size() const
{
    return Le32(data_chunk_ + 4);
}

void CWaveFile::ReleaseSamplesBefore(const std::int16_t *position) const
{
    if (aligned_samples_) return;
    const auto *at = reinterpret_cast<const unsigned char *>(position);
    if (at < map_.view() || at > map_.view() + map_.size()) return;
    map_.ReleaseBefore(static_cast<std::size_t>(at - map_.view()));
}

const std::int16_t *CWaveFile::sample_data() const
{
    if (aligned_samples_) return aligned_samples_.get();
    return reinterpret_cast<const std::int16_t *>(position_);
}

// ---------------------------------------------------------------------------

std::uint32_t GetSampleCount(const CWaveFile &file)
{
    return file.data_size() / 2;
}

CWaveFile *OpenWaveFile(const std::string &path)
{
    using namespace WaveErrors;
    try {
        return new CWaveFile(path);
    } catch (const FileOperation &) {
        throw WaveExceptionExt<FileOperation, 104>(path);
    } catch (const RiffDoesntMatch &) {
        throw WaveExceptionExt<RiffDoesntMatch, 105>(path);
    } catch (const DataDoesntMatch &) {
        throw WaveExceptionExt<DataDoesntMatch, 106>(path);
    } catch (const WaveDoesntMatch &) {
        throw WaveExceptionExt<WaveDoesntMatch, 107>(path);
    } catch (const FmtDoesntMatch &) {
        throw WaveExceptionExt<FmtDoesntMatch, 108>(path);
    }
}

bool CheckModelRequirements(const CWaveFile &file)
{
    M_SETTINGS_DEFAULTS defaults{};
    get_default_settings(&defaults);
    const std::uint16_t channels = file.channel_count();
    return (channels == 1 || channels == 2) && file.bits_per_sample() == defaults.bits_per_sample &&
           file.sample_rate() == defaults.sample_rate;
}

bool SameChannelCount(const CWaveFile &a, const CWaveFile &b)
{
    return a.channel_count() == b.channel_count();
}

bool SameLength(const CWaveFile &a, const CWaveFile &b)
{
    return a.data_size() == b.data_size();
}

void ThrowIfFaulted(const CWaveFile &file)
{
    if (file.Faulted()) throw WaveErrors::FileChangedError(file.path());
}

void ThrowIfChanged(const CWaveFile &file)
{
    if (file.Changed()) throw WaveErrors::FileChangedError(file.path());
}
