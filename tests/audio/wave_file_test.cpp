#include <velumar/audio/mapping_guard.h>
#include "test_wav.h"
#include <velumar/audio/wave_file.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace velumar::testing;

namespace {

const std::vector<std::int16_t> kSamples = {100, -200, 300, -400, 500, -600};

// The message number and text OpenWaveFile reports for `path`, or 0 when it
// opens.
std::pair<std::uint32_t, std::string> OpenFault(const std::string &path)
{
    try {
        std::unique_ptr<CWaveFile> file(OpenWaveFile(path));
        return {0, ""};
    } catch (const WaveErrors::FileException &e) {
        return {e.message_id(), e.text()};
    }
}

Bytes Canonical(std::vector<std::int16_t> samples = kSamples, WavSpec spec = {})
{
    return WavFile(spec, samples);
}

TEST(WaveFile, ScanFindsDataAfterLongerFormatChunkAndOtherChunks)
{
    TempDir dir;
    WavSpec stereo;
    stereo.channels = 2;
    EXPECT_EQ(GetSampleCount(CWaveFile(dir.Write("s.wav", Canonical(kSamples, stereo)))), 6u);
    WavSpec fmt18;
    fmt18.fmt_size = 18;
    WavSpec list;
    list.extra_chunks = {{"LIST", std::string("INFOISFT\x06\x00\x00\x00Velum\x00", 18)}};
    WavSpec odd;  // an unpadded odd-sized chunk puts the samples at an odd offset
    odd.extra_chunks = {{"junk", "abc"}};
    for (const WavSpec &spec : {stereo, fmt18, list, odd}) {
        const CWaveFile f(dir.Write("a.wav", Canonical(kSamples, spec)));
        EXPECT_EQ(f.data_size(), 12u);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(f.sample_data()) % 2, 0u);
        EXPECT_EQ(std::memcmp(f.sample_data(), kSamples.data(), 12), 0);
    }
    // That the first "data" wins, even inside an earlier chunk, is checked
    // where the decoder takes such files over (input_test).
}

TEST(WaveFile, EveryStructuralFaultHasItsMessageWithThePath)
{
    TempDir dir;
    auto patched = [](std::size_t offset, const char *bytes) {
        Bytes b = Canonical();
        std::memcpy(b.data() + offset, bytes, 4);
        return b;
    };
    Bytes renamed = Canonical();
    std::memcpy(renamed.data() + 36, "dat4", 4);
    WavSpec too_long;
    too_long.override_data_size = true;
    too_long.data_size = 13;  // one byte more than the file holds
    WavSpec all_ones = too_long;
    all_ones.data_size = 0xFFFFFFFF;

    const struct {
        std::string name;
        Bytes bytes;
        std::uint32_t id;
        const char *text;
    } cases[] = {
        {"riff.wav", patched(0, "RIFX"), 105, "Ошибка в блоке RIFF файла "},
        {"data.wav", renamed, 106, "Ошибка в блоке DATA файла "},
        {"long.wav", Canonical(kSamples, too_long), 106, "Ошибка в блоке DATA файла "},
        {"ffff.wav", Canonical(kSamples, all_ones), 106, "Ошибка в блоке DATA файла "},
        {"wave.wav", patched(8, "AVI "), 107, "Ошибка в блоке WAVE файла "},
        {"fmt.wav", patched(12, "fmt\0"), 108, "Ошибка в блоке FMT файла "},
    };
    for (const auto &c : cases) {
        const std::string path = dir.Write(c.name, c.bytes);
        const auto [id, text] = OpenFault(path);
        EXPECT_EQ(id, c.id) << c.name;
        EXPECT_EQ(text, c.text + path) << c.name;
    }
    const std::string missing = (dir.path() / "missing.wav").string();
    EXPECT_EQ(OpenFault(missing).second, "Ошибка при открытии файла " + missing);

    // Catchable as the tag too, raw from the constructor or bound to the path.
    EXPECT_THROW(CWaveFile{dir.path() / "wave.wav"}, WaveErrors::WaveDoesntMatch);
    using WaveFault = WaveErrors::WaveExceptionExt<WaveErrors::WaveDoesntMatch, 107>;
    EXPECT_THROW(delete OpenWaveFile(dir.path() / "wave.wav"), WaveFault);

    // The size of the format chunk is not read: 2^32 - 1 there changes nothing.
    const CWaveFile huge_fmt(dir.Write("fmt.wav", patched(16, "\xff\xff\xff\xff")));
    EXPECT_EQ(std::memcmp(huge_fmt.sample_data(), kSamples.data(), 12), 0);
}

TEST(WaveFile, TruncatedHeaderFailsWithTheFirstFieldBeyondTheEnd)
{
    TempDir dir;
    const Bytes whole = Canonical({});
    ASSERT_EQ(whole.size(), 44u);
    for (std::size_t length = 0; length < whole.size(); ++length) {
        const std::uint32_t expected =
            length == 0 ? 104 : length < 4 ? 105 : length < 12 ? 107 : length < 16 ? 108 : 106;
        const std::string path = dir.Write("t.wav", Bytes(whole.begin(), whole.begin() + length));
        EXPECT_EQ(OpenFault(path).first, expected) << "length " << length;
    }
    const CWaveFile empty_data(dir.Write("e.wav", whole));
    EXPECT_EQ(GetSampleCount(empty_data), 0u);
}

// Files that end exactly at a page boundary: a read past the mapping would
// fault instead of passing unnoticed.
TEST(WaveFile, ScanNeverReadsPastTheEndOfTheFile)
{
    TempDir dir;
    const long page = ::sysconf(_SC_PAGESIZE);
    const Bytes header = Canonical({});
    auto file_ending_with = [&](std::string_view tail) {
        Bytes b(header.begin(), header.begin() + 36);  // everything before "data"
        b.resize(static_cast<std::size_t>(page) - tail.size(), 'x');
        b.insert(b.end(), tail.begin(), tail.end());
        return dir.Write("p.wav", b);
    };
    EXPECT_EQ(OpenFault(file_ending_with("dat")).first, 106u);
    EXPECT_EQ(OpenFault(file_ending_with("data")).first, 106u);
    EXPECT_EQ(OpenFault(file_ending_with(std::string_view("data\0\0\0", 7))).first, 106u);
    const CWaveFile f(file_ending_with(std::string_view("data\0\0\0\0", 8)));
    EXPECT_EQ(f.data_size(), 0u);
}

// Opened as the unprivileged user `nobody` in a child process: root reads
// files whatever their mode, so only there does the refusal mean anything.
// Returns the message id of `locked` there, or 0 when a readable file next
// to it did not open (the check itself would be meaningless).
std::uint32_t FaultAsNobody(const std::string &locked, const std::string &readable)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0 || OpenFault(readable).first != 0) ::_exit(0);
        ::_exit(static_cast<int>(OpenFault(locked).first));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? static_cast<std::uint32_t>(WEXITSTATUS(status)) : 0;
}

TEST(WaveFile, FilesThatAreNotReadableWavesAreRefusedWithoutBlocking)
{
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    const std::string fifo = (dir.path() / "fifo.wav").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // opening it must not wait for a writer
    // 4 GiB and more do not fit the 32-bit size (a sparse file costs nothing).
    const std::string huge = dir.Write("huge.wav", Canonical());
    ASSERT_EQ(::truncate(huge.c_str(), 0x100000000LL), 0);
    const std::string too_long = (dir.path() / std::string(PATH_MAX + 10, 'a')).string();
    for (const std::string &path : {dir.path().string(), fifo, huge, too_long})
        EXPECT_EQ(OpenFault(path).second, "Ошибка при открытии файла " + path) << path.substr(0, 80);

    const std::string locked = dir.Write("locked.wav", Canonical());
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    if (::geteuid() == 0)
        EXPECT_EQ(FaultAsNobody(locked, dir.Write("open.wav", Canonical())), 104u) << "as nobody in " << dir.path();
    else
        EXPECT_EQ(OpenFault(locked).first, 104u);
}

// A file of `pages` pages, mapped read-only; the caller unmaps it.
volatile const unsigned char *MapPages(const std::string &path, std::size_t pages)
{
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const int fd = ::open(path.c_str(), O_RDONLY);
    void *view = ::mmap(nullptr, pages * page, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    return view == MAP_FAILED ? nullptr : static_cast<volatile const unsigned char *>(view);
}

// A mapping nobody registered still dies of SIGBUS when no handler was
// installed before ours (the repair of registered mappings is checked by the
// churn test below and by the file map's own test).
TEST(MappingGuardDeathTest, UnregisteredMappingStillDiesOfTheFault)
{
    TempDir dir;
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::string path = dir.Write("cut.wav", Bytes(3 * page, 7));
    // Installs the guard, as the first registration in a process does.
    velumar::audio::UnregisterMapping(velumar::audio::RegisterMapping(&page, 1));
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(page)), 0);
    EXPECT_DEATH(
        {
            volatile const unsigned char *unguarded = MapPages(path, 3);
            volatile int sink = unguarded[2 * page];
            (void)sink;
        },
        "");
}

// Threads register and forget ranges in the same few slots as fast as they
// can while other threads look addresses up and this one has real faults
// repaired. Two ranges alternate; a lookup that paired the begin of one
// registration with the end of another (or with a cleared end) would find
// a range for an address that no registration ever held.
TEST(MappingGuard, LookupsAndRepairsUnderChurnSeeOnlyWholeRegistrations)
{
    using velumar::audio::FindMapping;
    using velumar::audio::MappingRange;
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t a = 0x10000000u;
    const std::uintptr_t b = 0x30000000u;
    const auto *const a_ptr = reinterpret_cast<const void *>(a);
    const auto *const b_ptr = reinterpret_cast<const void *>(b);
    // Held only by a mix of A's begin and B's end, or of a cleared begin
    // and A's end.
    const std::uintptr_t between = 0x20000000u;
    const std::uintptr_t low = page;

    std::atomic<bool> done{false};
    std::atomic<long> wrong{0}, whole{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < 2; ++w)
        threads.emplace_back([&] {
            while (!done.load()) {
                const int first = velumar::audio::RegisterMapping(a_ptr, page);
                velumar::audio::UnregisterMapping(first);
                const int second = velumar::audio::RegisterMapping(b_ptr, 2 * page);
                velumar::audio::UnregisterMapping(second);
            }
        });
    for (int r = 0; r < 2; ++r)
        threads.emplace_back([&] {
            MappingRange range;
            while (!done.load()) {
                if (FindMapping(reinterpret_cast<const void *>(between), range) ||
                    FindMapping(reinterpret_cast<const void *>(low), range))
                    wrong.fetch_add(1);
                if (FindMapping(reinterpret_cast<const void *>(a + 10), range)) {
                    if (range.begin != a || range.end != a + page) wrong.fetch_add(1);
                    whole.fetch_add(1);
                }
                if (FindMapping(reinterpret_cast<const void *>(b + page), range) &&
                    (range.begin != b || range.end != b + 2 * page))
                    wrong.fetch_add(1);
            }
        });

    // Meanwhile real files are cut short under registered mappings: each
    // fault is repaired in its own mapping, whatever slot it landed in.
    TempDir dir;
    int repaired = 0;
    for (int round = 0; round < 50; ++round) {
        const std::string path = dir.Write("cut" + std::to_string(round) + ".wav", Bytes(2 * page, 7));
        volatile const unsigned char *view = MapPages(path, 2);
        ASSERT_NE(view, nullptr);
        const int slot = velumar::audio::RegisterMapping(const_cast<const unsigned char *>(view), 2 * page);
        ASSERT_GE(slot, 0);
        ASSERT_EQ(::truncate(path.c_str(), 0), 0);
        if (view[page + 1] == 0 && view[0] == 0 && velumar::audio::MappingFaulted(slot)) ++repaired;
        velumar::audio::UnregisterMapping(slot);
        ::munmap(const_cast<unsigned char *>(view), 2 * page);
    }
    // Enough lookups must have met a live registration for the churn to
    // have been seen at all; a stuck run gives up after ten seconds.
    for (int wait = 0; wait < 1000 && whole.load() < 20000; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    done.store(true);
    for (std::thread &t : threads) t.join();

    EXPECT_EQ(repaired, 50);
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(whole.load(), 0) << "the readers never met a live registration";
}

// A SIGBUS handler installed before the first mapping was registered (a
// sanitizer's, a host program's) still gets every fault that is not ours;
// ours keeps repairing the registered ones. Run in a fresh process, since
// the guard installs itself once per process.
volatile void *g_earlier_fault = nullptr;
volatile int g_earlier_calls = 0;

void EarlierHandler(int, siginfo_t *info, void *)
{
    g_earlier_fault = info->si_addr;
    g_earlier_calls = g_earlier_calls + 1;
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(info->si_addr) & ~(page - 1);
    ::mmap(reinterpret_cast<void *>(at), page, PROT_READ, MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
}

int FaultsReachTheirHandlers()
{
    struct sigaction earlier {};
    earlier.sa_sigaction = &EarlierHandler;
    earlier.sa_flags = SA_SIGINFO;
    sigemptyset(&earlier.sa_mask);
    if (::sigaction(SIGBUS, &earlier, nullptr) != 0) return 10;

    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    TempDir dir;
    const std::string ours_path = dir.Write("ours.wav", Bytes(2 * page, 7));
    const std::string other_path = dir.Write("other.wav", Bytes(2 * page, 7));
    volatile const unsigned char *ours = MapPages(ours_path, 2);
    volatile const unsigned char *other = MapPages(other_path, 2);
    if (ours == nullptr || other == nullptr) return 11;
    const int slot = velumar::audio::RegisterMapping(const_cast<const unsigned char *>(ours), 2 * page);
    if (slot < 0) return 12;
    if (::truncate(ours_path.c_str(), 0) != 0 || ::truncate(other_path.c_str(), 0) != 0) return 13;

    if (ours[page] != 0 || !velumar::audio::MappingFaulted(slot)) return 20;
    if (g_earlier_calls != 0) return 21;  // our fault went to the other handler
    if (other[page] != 0) return 22;
    if (g_earlier_calls != 1) return 23;  // the other fault never reached it
    if (g_earlier_fault != static_cast<volatile const void *>(other + page)) return 24;
    return 0;
}

TEST(MappingGuardDeathTest, AFaultOutsideOurMappingsReachesTheHandlerInstalledBefore)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(FaultsReachTheirHandlers()), ::testing::ExitedWithCode(0), "");
}

// Released pages leave the process's memory but read back exactly as
// before, and a file cut short afterwards still reads as zeros through the
// guard instead of ending the process.
TEST(FileMap, ReleasedPagesLeaveResidentMemoryAndReadBackUnchanged)
{
    TempDir dir;
    const std::size_t length = 3 * CFileMap::kReleaseStep;
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + i / 4096);
    const std::string path = dir.Write("long", bytes);
    CFileMap map;
    ASSERT_TRUE(map.Open(path.c_str()));
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    // Every page read once: all of the file is resident.
    unsigned sum = 0;
    for (std::size_t i = 0; i < length; i += page) sum += map.view()[i];
    ASSERT_GT(sum, 0u);

    const auto rss_kib = [] {
        std::FILE *f = std::fopen("/proc/self/statm", "r");
        unsigned long size = 0, resident = 0;
        EXPECT_EQ(std::fscanf(f, "%lu %lu", &size, &resident), 2);
        std::fclose(f);
        return resident * static_cast<unsigned long>(::sysconf(_SC_PAGESIZE)) / 1024;
    };
    const unsigned long before = rss_kib();
    map.ReleaseBefore(CFileMap::kReleaseStep - 1);  // less than a step: nothing yet
    EXPECT_GT(rss_kib() + 512, before);
    map.ReleaseBefore(2 * CFileMap::kReleaseStep + 100);
    EXPECT_LT(rss_kib() + 1536, before) << "two steps released";
    for (std::size_t i = 0; i < length; i += 997) ASSERT_EQ(map.view()[i], bytes[i]) << i;

    map.ReleaseBefore(length);
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(page)), 0);
    EXPECT_EQ(map.view()[page - 1], bytes[page - 1]);
    EXPECT_FALSE(map.Faulted());
    EXPECT_EQ(map.view()[2 * CFileMap::kReleaseStep + page], 0);  // released, then cut off
    EXPECT_TRUE(map.Faulted());

    // Reopening replaces the mapping; a failed open leaves it closed.
    ASSERT_TRUE(map.Open(dir.Write("b", Bytes(20, 2)).c_str()));
    EXPECT_EQ(map.size(), 20u);
    EXPECT_EQ(map.view()[19], 2);
    EXPECT_FALSE(map.Open((dir.path() / "none").c_str()));
    EXPECT_EQ(map.view(), nullptr);
}

// Rate, word length, a channel count of two against one and a length off by
// one byte are refused through the wizard's input page (tests/ui); these are
// the edges it does not reach.
TEST(WaveFile, ModelRequirementsAndPairComparisons)
{
    TempDir dir;
    int serial = 0;
    auto open = [&](std::uint16_t channels, std::size_t data_bytes, std::uint16_t tag = 1) {
        WavSpec spec;
        spec.channels = channels, spec.format_tag = tag;
        return std::make_unique<CWaveFile>(dir.Write("f" + std::to_string(serial++) + ".wav",
                                                     WavFile(spec, Bytes(data_bytes, 0))));
    };
    EXPECT_FALSE(CheckModelRequirements(*open(3, 12)));
    EXPECT_FALSE(CheckModelRequirements(*open(0, 12)));
    EXPECT_TRUE(CheckModelRequirements(*open(2, 12, 3)));  // the format tag is not examined
    EXPECT_TRUE(SameChannelCount(*open(2, 12), *open(2, 8)));
    EXPECT_TRUE(SameLength(*open(1, 1000), *open(2, 1000)));
}

} // namespace
