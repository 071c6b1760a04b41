#include "avg_value.h"

#include "support.h"

#include <cmath>

namespace {

using velumar::test::stdout_of;

struct Avg {
    AVG_VALUE *p;
    Avg(std::int32_t kind, std::uint32_t window = 4, std::uint32_t factor = 109)
        : p(create_avg_value(kind, window, factor)) {}
    ~Avg() { destroy_avg_value(p); }
    double read() const
    {
        double v = -1.0;
        EXPECT_EQ(get_avg_value(p, &v), 0);
        return v;
    }
};

TEST(AvgValue, EveryKindAveragesItsWay)
{
    Avg linear(AVG_LINEAR), rms(AVG_RMS), weighted(AVG_WEIGHTED_LINEAR), weighted_rms(AVG_WEIGHTED_RMS, 4, 3);
    const double values[] = {1.0, 2.0, 6.0};
    const double weights[] = {1.0, 3.0, 0.5};
    for (int i = 0; i < 3; ++i) {
        for (AVG_VALUE *a : {linear.p, rms.p, weighted.p, weighted_rms.p})
            EXPECT_EQ(processing_avg_value(a, values[i], weights[i]), 0);
    }
    EXPECT_DOUBLE_EQ(linear.read(), 3.0);
    EXPECT_DOUBLE_EQ(rms.read(), std::sqrt((1.0 + 4.0 + 36.0) / 3.0));
    EXPECT_DOUBLE_EQ(weighted.read(), (1.0 + 6.0 + 3.0) / 4.5);
    // sqrt(sum(v^2 w^2) / sum(w^2) * factor)
    EXPECT_DOUBLE_EQ(weighted_rms.read(), std::sqrt((1.0 + 36.0 + 9.0) / (1.0 + 9.0 + 0.25) * 3.0));
    EXPECT_EQ(linear.p->factor, 1u);
    EXPECT_EQ(weighted_rms.p->factor, 3u);
}

TEST(AvgValue, EmptyAndWeightlessAccumulatorsReadZero)
{
    for (std::int32_t kind : {AVG_LINEAR, AVG_RMS, AVG_WINDOWED, AVG_WEIGHTED_LINEAR, AVG_WEIGHTED_RMS})
        EXPECT_EQ(Avg(kind).read(), 0.0) << "kind " << kind;
    Avg weighted(AVG_WEIGHTED_LINEAR), weighted_rms(AVG_WEIGHTED_RMS);
    processing_avg_value(weighted.p, 5.0, 0.0);
    processing_avg_value(weighted_rms.p, 5.0, 0.0);
    EXPECT_EQ(weighted.read(), 0.0);
    EXPECT_EQ(weighted_rms.read(), 0.0);
}

TEST(AvgValue, WindowedAverageTakesPreloadedValuesIntoItsFirstWindow)
{
    Avg w(AVG_WINDOWED);
    for (double v : {1.0, 4.0, 9.0, 16.0}) EXPECT_EQ(preload_windowed_average(w.p, v), 0);
    EXPECT_EQ(w.p->count, 0u);
    EXPECT_EQ(processing_avg_value(w.p, 25.0, 1.0), 0);
    // The window holds the roots 2, 3, 4, 5: mean 3.5, contribution 3.5^4.
    EXPECT_EQ(w.p->sum, 150.0625);
    EXPECT_EQ(w.read(), std::sqrt(150.0625));
    processing_avg_value(w.p, 36.0, 1.0);  // roots 3, 4, 5, 6
    EXPECT_EQ(w.p->sum, 150.0625 + 4.5 * 4.5 * 4.5 * 4.5);
}

TEST(AvgValue, WindowedAverageWithoutPreloadAveragesWithZeros)
{
    Avg w(AVG_WINDOWED);
    processing_avg_value(w.p, 16.0, 1.0);
    EXPECT_EQ(w.p->sum, 1.0);  // m = 4 / 4
    processing_avg_value(w.p, 16.0, 1.0);
    EXPECT_EQ(w.p->sum, 1.0 + 16.0);  // m = 8 / 4
}

TEST(AvgValue, NegativeValuesAndWrongKindsAreRefusedWithoutChange)
{
    Avg w(AVG_WINDOWED), linear(AVG_LINEAR);
    processing_avg_value(w.p, 4.0, 1.0);
    const AVG_VALUE before = *w.p;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(processing_avg_value(w.p, -1.0, 1.0), 1); }),
              "Error:'windowed_average()'\n");
    EXPECT_EQ(std::string(stdout_of([&] { EXPECT_EQ(preload_windowed_average(w.p, -1.0), 2); })), "");
    EXPECT_EQ(w.p->sum, before.sum);
    EXPECT_EQ(w.p->count, before.count);
    EXPECT_EQ(w.p->window_sum, before.window_sum);
    EXPECT_EQ(w.p->window_pos, before.window_pos);
    EXPECT_EQ(preload_windowed_average(linear.p, 1.0), 1);

    Avg reserved(AVG_RESERVED), unknown(9);
    double v = 7.0;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(processing_avg_value(reserved.p, 1.0, 1.0), 1); }),
              "error:'processing_avg_value()'\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(get_avg_value(unknown.p, &v), 2); }), "error:'processing_avg_value()'\n");
    EXPECT_EQ(v, 7.0);
}

} // namespace
