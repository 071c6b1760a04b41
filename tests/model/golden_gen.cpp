// Writes the golden model outputs: every signal of the golden set, measured
// with the golden block size, with full round-trip precision.
//
//   velumar_golden_gen [output path]   (default: the file the tests read)
//
// Run it only when a change of the model's numbers is intended, and say so
// in the commit that updates the file.
#include "golden_signals.h"

#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
    const std::string path = argc > 1 ? argv[1] : VELUMAR_GOLDEN_FILE;
    std::FILE *out = std::fopen(path.c_str(), "w");
    if (out == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    std::fprintf(out,
                 "# Golden outputs of the quality model, written by velumar_golden_gen; never edit by hand.\n"
                 "# Per signal: frames, channels, ODG, DI, the 11 network inputs (movs), and the 11 values\n"
                 "# of channel 1 and of channel 2 (the ADB slot holds the binaural ADB). Block size %u.\n",
                 velumar::golden::kGoldenBlock);
    int status = 0;
    for (const velumar::golden::Signal &signal : velumar::golden::golden_signals()) {
        const velumar::golden::Measurement m = velumar::golden::measure(signal, velumar::golden::kGoldenBlock);
        if (m.method_code != 0) {
            std::fprintf(stderr, "%s: the model failed with code %d\n", signal.name.c_str(), m.method_code);
            status = 1;
            continue;
        }
        velumar::golden::write_record(out, signal.name, m.results);
        std::fprintf(stderr, "%-26s frames %3u  ODG %9.5f  DI %9.5f\n", signal.name.c_str(), m.results.frames,
                     m.results.odg, m.results.di);
    }
    if (std::fclose(out) != 0) status = 1;
    return status;
}
