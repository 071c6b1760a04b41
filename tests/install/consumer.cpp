// A C++ consumer found through find_package(Velumar): grades a generated
// stereo pair and checks that the per-frame observer saw every frame.
#include <velumar/model.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

int main()
{
    constexpr std::size_t pairs = 48000;
    std::vector<std::int16_t> ref(2 * pairs), test(2 * pairs);
    for (std::size_t i = 0; i < pairs; ++i) {
        const double x = 8000.0 * std::sin(0.0575 * static_cast<double>(i));
        ref[2 * i] = ref[2 * i + 1] = static_cast<std::int16_t>(x);
        test[2 * i] = static_cast<std::int16_t>(x * 0.9);
        test[2 * i + 1] = static_cast<std::int16_t>(x);
    }
    M_SETTINGS settings{};
    settings.listening_level_db = 92.0;
    settings.sample_rate = 48000;
    settings.channel_mode = 1;
    std::string lines;
    M_HANDLE h = velumar_create_method_ex(
        &settings, [](void *user, const char *text) { *static_cast<std::string *>(user) += text; }, &lines);
    if (h == nullptr) return 1;
    std::uint32_t seen = 0;
    velumar_set_frame_observer(
        h, [](void *user, const VELUMAR_FRAME *frame) { *static_cast<std::uint32_t *>(user) = frame->index + 1; },
        &seen);
    const M_BUFFER r{ref.data(), static_cast<std::uint32_t>(ref.size())};
    const M_BUFFER t{test.data(), static_cast<std::uint32_t>(test.size())};
    if (velumar_method(h, &r, &t) != 0) return 1;
    M_RESULTS results{};
    const std::int32_t graded = velumar_get_model_results(h, &results);
    velumar_destroy_method(h);
    if (graded != 0 || seen != results.frames || results.channels != 2) return 1;
    if (lines != "Уровень громкости = 92.000000\n") return 1;
    std::printf("graded %u frames, ODG %.3f\n", results.frames, results.odg);
    return 0;
}
