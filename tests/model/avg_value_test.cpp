#include "avg_value.h"

#include "support.h"

#include <cmath>

namespace {

using velumar::test::stdout_of;

struct Avg {
    AVG_VALUE *p;
    explicit Avg(std::int32_t kind, std::uint32_t factor = 109) : p(create_avg_value(kind, 4, factor)) {}
    ~Avg() { destroy_avg_value(p); }
    double read() const
    {
        double v = -1.0;
        EXPECT_EQ(get_avg_value(p, &v), 0);
        return v;
    }
};

TEST(AvgValue, EveryKindAveragesItsWayAndEmptyOnesReadZero)
{
    Avg linear(AVG_LINEAR), rms(AVG_RMS), weighted(AVG_WEIGHTED_LINEAR), weighted_rms(AVG_WEIGHTED_RMS, 3);
    const double values[] = {1.0, 2.0, 6.0}, weights[] = {1.0, 3.0, 0.5};
    for (int i = 0; i < 3; ++i)
        for (AVG_VALUE *a : {linear.p, rms.p, weighted.p, weighted_rms.p})
            EXPECT_EQ(processing_avg_value(a, values[i], weights[i]), 0);
    EXPECT_DOUBLE_EQ(linear.read(), 3.0);
    EXPECT_DOUBLE_EQ(rms.read(), std::sqrt(41.0 / 3.0));
    EXPECT_DOUBLE_EQ(weighted.read(), 10.0 / 4.5);
    EXPECT_DOUBLE_EQ(weighted_rms.read(), std::sqrt(46.0 / 10.25 * 3.0));  // the factor only for this kind

    for (std::int32_t kind : {AVG_LINEAR, AVG_RMS, AVG_WINDOWED, AVG_WEIGHTED_LINEAR, AVG_WEIGHTED_RMS})
        EXPECT_EQ(Avg(kind).read(), 0.0) << "kind " << kind;
    for (std::int32_t kind : {AVG_WEIGHTED_LINEAR, AVG_WEIGHTED_RMS}) {  // values, but no weight
        Avg a(kind);
        processing_avg_value(a.p, 5.0, 0.0);
        EXPECT_EQ(a.read(), 0.0) << "kind " << kind;
    }
}

TEST(AvgValue, WindowedAverageTakesPreloadsAndRefusesNegativeValuesAndWrongKinds)
{
    Avg w(AVG_WINDOWED);
    for (double v : {1.0, 4.0, 9.0, 16.0}) EXPECT_EQ(preload_windowed_average(w.p, v), 0);
    EXPECT_EQ(processing_avg_value(w.p, 25.0, 1.0), 0);
    // The window holds the roots 2, 3, 4, 5: mean 3.5, contribution 3.5^4.
    EXPECT_EQ(w.read(), std::sqrt(150.0625));
    processing_avg_value(w.p, 36.0, 1.0);  // roots 3, 4, 5, 6
    EXPECT_EQ(w.read(), std::sqrt((150.0625 + 410.0625) / 2));

    Avg cold(AVG_WINDOWED);  // without a preload the window starts with zeros
    processing_avg_value(cold.p, 16.0, 1.0);
    processing_avg_value(cold.p, 16.0, 1.0);
    EXPECT_EQ(cold.read(), std::sqrt((1.0 + 16.0) / 2));

    // Negative values and wrong kinds are refused without change.
    Avg fresh(AVG_WINDOWED), linear(AVG_LINEAR);
    processing_avg_value(fresh.p, 4.0, 1.0);
    EXPECT_EQ(fresh.read(), 0.25);  // root 2 in a window of 4: 0.5^4, then the root
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(processing_avg_value(fresh.p, -1.0, 1.0), 1); }), "Error:'windowed_average()'\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(preload_windowed_average(fresh.p, -1.0), 2); }), "");
    EXPECT_EQ(preload_windowed_average(linear.p, 1.0), 1);
    processing_avg_value(fresh.p, 4.0, 1.0);  // the refused values left no trace in the window either
    EXPECT_EQ(fresh.read(), std::sqrt((std::pow(0.5, 4) + 1.0) / 2));

    Avg reserved(AVG_RESERVED), unknown(9);
    double v = 7.0;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(processing_avg_value(reserved.p, 1.0, 1.0), 1); }),
              "error:'processing_avg_value()'\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(get_avg_value(unknown.p, &v), 2); }), "error:'processing_avg_value()'\n");
    EXPECT_EQ(v, 7.0);
}

} // namespace
