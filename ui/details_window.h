// «Подробнее...»: a resizable window beside the results page with what the
// grade is made of — the distortion index, the model output variables, the
// pair check, and a chart of the per-frame values over time (one quantity
// at a time, channels selectable, zoom by dragging). It saves the same HTML
// report as velumar-cli, the per-frame values as CSV or JSON, and copies a
// text summary to the clipboard.
#pragma once

#include "message_box.h"

#include <velumar/report/frame_collector.h>
#include <velumar/report/report_data.h>

#include <QString>
#include <QWidget>

#include <memory>

class QChart;
class QChartView;
class QCheckBox;
class QComboBox;
class QLabel;
class QTableWidget;

namespace velumar::ui {

class CDetailsWindow : public QWidget {
    Q_OBJECT
public:
    // record.series is ignored: the chart draws from frames, which may be null
    // when no per-frame values were collected (the chart is then empty).
    CDetailsWindow(report::ReportData record, std::shared_ptr<const report::FrameCollector> frames,
                   QWidget *parent = nullptr);
    ~CDetailsWindow() override;

    // Writes the files the buttons offer. False (after an error box naming
    // the file) when it could not be written.
    bool saveReport(const QString &path);
    // CSV for any name but *.json/*.jsonl: JSON (one array) or JSON Lines.
    bool saveValues(const QString &path);
    void copySummary();

    // Which quantity the chart shows (an index into the selector's list).
    void showTrace(report::Trace trace);

    // What the chart currently holds, for checks: frames covered by its
    // columns, the number of columns, and the time range of the x axis.
    std::uint64_t chartFrames() const { return chart_frames_; }
    int chartColumns() const { return chart_columns_; }
    double chartStart() const;
    double chartEnd() const;
    void resetZoom();

    void setMessageBox(MessageBoxFn box) { box_ = std::move(box); }

private:
    void rebuildChart();
    void onSaveReport();
    void onSaveValues();

    report::ReportData data_;
    std::shared_ptr<const report::FrameCollector> frames_;
    MessageBoxFn box_;
    QComboBox *trace_box_ = nullptr;
    QCheckBox *slot_boxes_[report::kTraceSlots] = {};
    QCheckBox *disturbed_box_ = nullptr;
    QChart *chart_ = nullptr;
    QChartView *chart_view_ = nullptr;
    QTableWidget *movs_ = nullptr;
    std::uint64_t chart_frames_ = 0;
    int chart_columns_ = 0;
    double t0_ = 0.0;
    double t1_ = 1.0;
};

// Pixel columns the chart is decimated to; the series keeps at most this
// many buckets anyway.
inline constexpr std::size_t kDetailsChartColumns = 4096;

} // namespace velumar::ui
