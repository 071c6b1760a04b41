// velumar_write_pairs OUTDIR: writes every golden signal and the two
// benchmark pairs as 48 kHz 16-bit WAV files, NAME.ref.wav and
// NAME.test.wav, and lists the names on standard output, one a line. Lets
// two builds of velumar-cli be compared on exactly the samples the model
// tests and benchmarks use (scripts/compare-builds).
#include "bench_pairs.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

void put(std::vector<unsigned char> &out, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

bool write_wav(const std::string &path, int channels, const std::vector<std::int16_t> &samples)
{
    const auto data_bytes = static_cast<std::uint32_t>(samples.size() * 2);
    const auto ch = static_cast<std::uint32_t>(channels);
    std::vector<unsigned char> header;
    header.insert(header.end(), {'R', 'I', 'F', 'F'});
    put(header, 36 + data_bytes, 4);
    header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put(header, 16, 4);
    put(header, 1, 2);
    put(header, ch, 2);
    put(header, 48000, 4);
    put(header, 48000 * 2 * ch, 4);
    put(header, 2 * ch, 2);
    put(header, 16, 2);
    header.insert(header.end(), {'d', 'a', 't', 'a'});
    put(header, data_bytes, 4);
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();
    for (std::int16_t v : samples) {  // little-endian whatever the host
        const auto u = static_cast<std::uint16_t>(v);
        const unsigned char b[2] = {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8)};
        ok = ok && std::fwrite(b, 1, 2, f) == 2;
    }
    return std::fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("usage: velumar_write_pairs OUTDIR\n", stderr);
        return 2;
    }
    const std::string dir = argv[1];
    std::vector<velumar::golden::Signal> signals = velumar::golden::golden_signals();
    signals.push_back(velumar::bench::bench_pair(false));
    signals.push_back(velumar::bench::bench_pair(true));
    for (const velumar::golden::Signal &s : signals) {
        const std::string base = dir + "/" + s.name;
        if (!write_wav(base + ".ref.wav", s.channels, s.reference) ||
            !write_wav(base + ".test.wav", s.channels, s.test)) {
            std::fprintf(stderr, "cannot write %s.*.wav\n", base.c_str());
            return 1;
        }
        std::printf("%s\n", s.name.c_str());
    }
    return 0;
}
