// Lines of an instance created with a message handler go to that handler,
// all of them and only its own, and nothing reaches standard output.
#include "alloc.h"
#include "support.h"

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using velumar::test::settings;
using velumar::test::stdout_of;

struct Lines {
    std::vector<std::string> received;
};

void collect(void *user, const char *text) { static_cast<Lines *>(user)->received.emplace_back(text); }

std::string joined(const Lines &lines)
{
    std::string all;
    for (const std::string &l : lines.received) all += l;
    return all;
}

TEST(MessageHandler, EveryLineFromCreationToDestructionGoesToTheHandler)
{
    for (bool stereo : {false, true}) {
        Lines lines;
        const M_SETTINGS s = settings(stereo, 80.0);
        M_HANDLE h = nullptr;
        std::string out = stdout_of([&] { h = velumar_create_method_ex(&s, collect, &lines); });
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(lines.received, std::vector<std::string>{"Уровень громкости = 80.000000\n"});

        const std::vector<std::int16_t> samples(3000, 100);
        const M_BUFFER full{samples.data(), 3000}, shorter{samples.data(), 2999};
        out += stdout_of([&] {
            EXPECT_EQ(velumar_method(h, &full, &shorter), 1);
            EXPECT_EQ(velumar_method(h, &full, &full), 0);
            h->stereo = 3;  // a corrupt record makes the first stage fail
            EXPECT_EQ(velumar_method(h, &full, &full), 1);
            h->stereo = stereo ? 1 : 0;
            h->version = 2;
            EXPECT_EQ(velumar_get_objective_difference_grade(h), 2.0);
            M_RESULTS results;
            EXPECT_EQ(velumar_get_model_results(h, &results), 1);
            h->version = 0;
            EXPECT_EQ(velumar_destroy_method(h), 0);
        });
        EXPECT_EQ(out, "") << "nothing reaches standard output";
        EXPECT_EQ(lines.received, (std::vector<std::string>{
                                      "Уровень громкости = 80.000000\n",
                                      "Error of input datas (M_BUFFER) for the function - method()!\n",
                                      "ERROR check_energy_threshold_for_frames()\n",
                                      "Error of input datas (HANDLE) for the function - get_objective_difference_grade()!\n",
                                      "Error of input datas (HANDLE) for the function - get_model_results()!\n",
                                  }));
    }
}

// Creation that fails at any of its allocations, in the record, the tables,
// the FFT toolkit or an accumulator, tells the handler exactly what it would
// have printed.
TEST(MessageHandler, FailedCreationsTellTheHandlerWhatTheyWouldHavePrinted)
{
    Lines refused;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(velumar_create_method_ex(nullptr, collect, &refused), nullptr); }), "");
    EXPECT_EQ(joined(refused), "Error of input datas (struct M_SETTINGS) for the function -create_method!\n");

    const M_SETTINGS s = settings(true);
    for (long nth = 0; nth < 400; ++nth) {
        velumar_fail_allocation(nth);
        M_HANDLE plain = nullptr;
        const std::string printed = stdout_of([&] { plain = velumar_create_method(&s); });
        velumar_fail_allocation(nth);
        Lines lines;
        M_HANDLE routed = nullptr;
        EXPECT_EQ(stdout_of([&] { routed = velumar_create_method_ex(&s, collect, &lines); }), "") << nth;
        velumar_fail_allocation(-1);
        EXPECT_EQ(joined(lines), printed) << "allocation " << nth;
        EXPECT_EQ(routed == nullptr, plain == nullptr) << nth;
        destroy_method(plain);
        destroy_method(routed);
        if (plain != nullptr) break;  // past the last allocation
    }
}

TEST(MessageHandler, NoHandlerPrintsAndEachInstanceKeepsItsOwnHandler)
{
    const M_SETTINGS s = settings(false);
    M_HANDLE plain = nullptr;
    EXPECT_EQ(stdout_of([&] { plain = velumar_create_method_ex(&s, nullptr, nullptr); }),
              "Уровень громкости = 92.000000\n");

    // A handler that feeds another instance while it handles a line: that
    // instance's line goes to its own handler, and the first instance's
    // later lines still go to the first handler.
    struct Nesting {
        Lines lines;
        M_HANDLE other;
    };
    Nesting a{}, b{};
    const auto nest = [](void *user, const char *text) {
        auto *n = static_cast<Nesting *>(user);
        n->lines.received.emplace_back(text);
        if (n->other != nullptr) velumar_method(n->other, nullptr, nullptr);
    };
    const std::string out = stdout_of([&] {
        M_HANDLE ha = velumar_create_method_ex(&s, nest, &a);
        M_HANDLE hb = velumar_create_method_ex(&s, collect, &b.lines);
        a.other = hb;
        velumar_method(ha, nullptr, nullptr);
        a.other = nullptr;
        velumar_method(ha, nullptr, nullptr);
        velumar_method(plain, nullptr, nullptr);
        destroy_method(ha);
        destroy_method(hb);
    });
    const std::string refused = "Error of input datas (M_BUFFER) for the function - method()!\n";
    EXPECT_EQ(out, refused) << "only the instance without a handler prints";
    EXPECT_EQ(joined(a.lines), "Уровень громкости = 92.000000\n" + refused + refused);
    EXPECT_EQ(joined(b.lines), "Уровень громкости = 92.000000\n" + refused);
    destroy_method(plain);

    // Instances on several threads at once: every handler gets its own
    // lines, as many as its instance printed.
    std::vector<Lines> per_thread(4);
    std::vector<std::thread> threads;
    for (Lines &lines : per_thread) {
        threads.emplace_back([&lines, &s] {
            M_HANDLE h = velumar_create_method_ex(&s, collect, &lines);
            for (int i = 0; i < 200; ++i) velumar_method(h, nullptr, nullptr);
            destroy_method(h);
        });
    }
    for (std::thread &t : threads) t.join();
    for (const Lines &lines : per_thread) {
        ASSERT_EQ(lines.received.size(), 201u);
        for (std::size_t i = 1; i < lines.received.size(); ++i) EXPECT_EQ(lines.received[i], refused);
    }
}

// The short names reach the same instance code as the velumar_ ones.
TEST(ShortNames, GradeLikeThePrefixedOnes)
{
    const auto sig = velumar::golden::golden_signals().front();
    const M_SETTINGS s = settings(sig.channels == 2);
    const M_BUFFER r{sig.reference.data(), static_cast<std::uint32_t>(sig.reference.size())};
    const M_BUFFER t{sig.test.data(), static_cast<std::uint32_t>(sig.test.size())};
    M_RESULTS short_results{}, long_results{};
    stdout_of([&] {
        M_HANDLE h1 = create_method(&s), h2 = velumar_create_method(&s);
        EXPECT_EQ(method(h1, &r, &t), velumar_method(h2, &r, &t));
        EXPECT_EQ(get_model_results(h1, &short_results), velumar_get_model_results(h2, &long_results));
        EXPECT_EQ(destroy_method(h1) + velumar_destroy_method(h2), 0);
    });
    EXPECT_LT(short_results.odg, 0.22);
    EXPECT_EQ(std::memcmp(&short_results, &long_results, sizeof short_results), 0);
}

} // namespace
