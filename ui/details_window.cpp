#include "details_window.h"

#include <velumar/report/frame_writer.h>
#include <velumar/report/html_report.h>
#include <velumar/report/write_file.h>
#include <velumar/text/texts.h>

#include <QApplication>
#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>

namespace velumar::ui {

namespace {

struct TraceChoice {
    report::Trace trace;
    const char *label;
};

const TraceChoice kTraces[] = {
    {report::Trace::nmr_db, "Отношение шум/маска кадра, дБ"},
    {report::Trace::detection_probability, "Вероятность обнаружения искажений"},
    {report::Trace::moddiff1, "Разность модуляции 1"},
    {report::Trace::moddiff2, "Разность модуляции 2"},
    {report::Trace::noise_loudness, "Громкость шума, сон"},
};

const QColor kSlotColors[report::kTraceSlots] = {QColor(0x1f, 0x6f, 0xd1), QColor(0xd1, 0x45, 0x1f),
                                                 QColor(0x6b, 0x3f, 0xa0)};

QString number(double v, const char *format) { return QString::asprintf(format, v); }

// A chart view that zooms to the dragged range and back to the whole run
// on a right click (Qt's rubber band does the dragging).
class ZoomView : public QChartView {
public:
    using QChartView::QChartView;
    std::function<void()> reset;

protected:
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::RightButton && reset) {
            reset();
            event->accept();
            return;
        }
        QChartView::mouseReleaseEvent(event);
    }
};

QString check_text(const report::ReportData &d)
{
    QString s;
    s += QString::fromStdString(report::input_line("Эталон: ", d.reference));
    s += QString::fromStdString(report::input_line("Тест: ", d.test));
    s += "\n";
    if (!d.check) {
        s += QStringLiteral("Проверка пары не выполнялась.\n");
    } else {
        const auto &c = *d.check;
        s += QStringLiteral("Задержка теста: %1 (%2 мс)\n")
                 .arg(QString::fromStdString(text::sample_count(c.delay_samples)))
                 .arg(number(c.delay_ms, "%.3f"));
        s += QStringLiteral("Корреляция в пике: %1\n").arg(number(c.correlation, "%.3f"));
        s += QStringLiteral("Усиление теста: %1 дБ\n").arg(number(c.gain_db, "%.2f"));
        s += QStringLiteral("Полярность: %1\n").arg(c.inverted ? QStringLiteral("обращена") : QStringLiteral("прямая"));
        if (c.warnings.empty() && c.messages.empty())
            s += QString::fromStdString(std::string(text::get(text::IDS_CHECK_NO_WARNINGS))) + ".\n";
        if (!c.messages.empty())
            for (const auto &m : c.messages) s += QStringLiteral("• ") + QString::fromStdString(m) + "\n";
        else
            for (const auto &w : c.warnings)
                s += QStringLiteral("• ") + QString::fromStdString(report::warning_text(w)) + "\n";
    }
    if (d.applied)
        s += QStringLiteral("Исправлено перед оценкой: задержка %1, усиление %2 дБ\n")
                 .arg(QString::fromStdString(text::sample_count(d.applied->delay_samples)))
                 .arg(number(d.applied->gain_db, "%.2f"));
    return s;
}

} // namespace

CDetailsWindow::CDetailsWindow(report::ReportData record, std::shared_ptr<const report::FrameCollector> frames,
                               QWidget *parent)
    : QWidget(parent, Qt::Window), data_(std::move(record)), frames_(std::move(frames)), box_(StandardMessageBox())
{
    data_.series = frames_ ? &frames_->series() : nullptr;
    setWindowTitle(QStringLiteral("Подробнее: ") +
                   QString::fromStdString(data_.test.path.substr(data_.test.path.find_last_of('/') + 1)));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(980, 720);

    auto *layout = new QVBoxLayout(this);

    // What the grade is.
    auto *headline = new QLabel(this);
    headline->setObjectName(QStringLiteral("headline"));
    headline->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (data_.graded) {
        headline->setText(QStringLiteral("<b>ODG %1</b> — %2; индекс искажений (DI): <b>%3</b>; кадров: %4")
                              .arg(number(data_.odg, "%.3f"))
                              .arg(QString::fromStdString(report::grade_category_text(data_.odg)).toHtmlEscaped())
                              .arg(number(data_.di, "%.3f"))
                              .arg(data_.frames));
    } else {
        headline->setText(QStringLiteral("<b>Оценки нет:</b> ") +
                          QString::fromStdString(data_.reason).toHtmlEscaped());
    }
    layout->addWidget(headline);

    auto *splitter = new QSplitter(Qt::Vertical, this);
    layout->addWidget(splitter, 1);

    // The chart with its selectors.
    auto *chart_panel = new QWidget(splitter);
    auto *chart_layout = new QVBoxLayout(chart_panel);
    chart_layout->setContentsMargins(0, 0, 0, 0);
    auto *controls = new QHBoxLayout;
    trace_box_ = new QComboBox(chart_panel);
    trace_box_->setObjectName(QStringLiteral("trace"));
    for (const auto &t : kTraces) trace_box_->addItem(QString::fromUtf8(t.label));
    controls->addWidget(new QLabel(QStringLiteral("Величина:"), chart_panel));
    controls->addWidget(trace_box_);
    const char *slot_names[report::kTraceSlots] = {"Канал 1", "Канал 2", "Бинаурально"};
    for (int s = 0; s < report::kTraceSlots; ++s) {
        slot_boxes_[s] = new QCheckBox(QString::fromUtf8(slot_names[s]), chart_panel);
        slot_boxes_[s]->setChecked(true);
        controls->addWidget(slot_boxes_[s]);
        connect(slot_boxes_[s], &QCheckBox::toggled, this, [this] { rebuildChart(); });
    }
    disturbed_box_ = new QCheckBox(QStringLiteral("Кадры с искажениями"), chart_panel);
    disturbed_box_->setChecked(true);
    controls->addWidget(disturbed_box_);
    controls->addStretch(1);
    auto *whole = new QPushButton(QStringLiteral("Весь сигнал"), chart_panel);
    controls->addWidget(whole);
    chart_layout->addLayout(controls);

    chart_ = new QChart;
    chart_->legend()->setAlignment(Qt::AlignBottom);
    auto *view = new ZoomView(chart_, chart_panel);
    view->reset = [this] { resetZoom(); };
    chart_view_ = view;
    chart_view_->setRubberBand(QChartView::HorizontalRubberBand);
    chart_view_->setRenderHint(QPainter::Antialiasing);
    chart_view_->setMinimumHeight(260);
    chart_view_->setToolTip(QStringLiteral("Выделите участок мышью, чтобы увеличить его; правый щелчок — весь сигнал"));
    chart_layout->addWidget(chart_view_, 1);
    connect(trace_box_, &QComboBox::currentIndexChanged, this, [this] { rebuildChart(); });
    connect(disturbed_box_, &QCheckBox::toggled, this, [this] { rebuildChart(); });
    connect(whole, &QPushButton::clicked, this, [this] { resetZoom(); });

    // The MOVs and the pair check.
    auto *tabs = new QTabWidget(splitter);
    const bool two = data_.channels == 2;
    movs_ = new QTableWidget(report::kMovCount, two ? 5 : 4, tabs);
    movs_->setObjectName(QStringLiteral("movs"));
    QStringList heads = {QStringLiteral("MOV"), QStringLiteral("Вход сети"), QStringLiteral("Канал 1")};
    if (two) heads << QStringLiteral("Канал 2");
    heads << QStringLiteral("Что показывает");
    movs_->setHorizontalHeaderLabels(heads);
    movs_->verticalHeader()->hide();
    movs_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int i = 0; i < report::kMovCount; ++i) {
        int col = 0;
        auto put = [&](const QString &text, bool numeric) {
            auto *item = new QTableWidgetItem(text);
            if (numeric) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            movs_->setItem(i, col++, item);
        };
        const bool have = data_.graded;
        put(QString::fromUtf8(report::mov_name(i).data(), static_cast<int>(report::mov_name(i).size())), false);
        put(have ? number(data_.movs[i], "%.6g") : QStringLiteral("—"), true);
        for (int c = 0; c < (two ? 2 : 1); ++c)
            put(have && i != report::kMovAdb ? number(data_.channel_movs[c][i], "%.6g") : QStringLiteral("—"), true);
        const auto expl = report::mov_explanation(i);
        put(QString::fromUtf8(expl.data(), static_cast<int>(expl.size())), false);
    }
    movs_->resizeColumnsToContents();
    movs_->horizontalHeader()->setStretchLastSection(true);
    tabs->addTab(movs_, QStringLiteral("Переменные модели (MOV)"));
    auto *check = new QPlainTextEdit(check_text(data_), tabs);
    check->setObjectName(QStringLiteral("check"));
    check->setReadOnly(true);
    tabs->addTab(check, QStringLiteral("Проверка пары и файлы"));
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);

    // Actions.
    auto *buttons = new QHBoxLayout;
    auto *save_report = new QPushButton(QStringLiteral("Сохранить отчёт..."), this);
    auto *save_values = new QPushButton(QStringLiteral("Сохранить значения..."), this);
    auto *copy = new QPushButton(QStringLiteral("Копировать"), this);
    auto *close_button = new QPushButton(QStringLiteral("Закрыть"), this);
    save_values->setEnabled(frames_ && frames_->keeps_rows());
    buttons->addWidget(save_report);
    buttons->addWidget(save_values);
    buttons->addWidget(copy);
    buttons->addStretch(1);
    buttons->addWidget(close_button);
    layout->addLayout(buttons);
    connect(save_report, &QPushButton::clicked, this, &CDetailsWindow::onSaveReport);
    connect(save_values, &QPushButton::clicked, this, &CDetailsWindow::onSaveValues);
    connect(copy, &QPushButton::clicked, this, &CDetailsWindow::copySummary);
    connect(close_button, &QPushButton::clicked, this, &QWidget::close);

    rebuildChart();
}

CDetailsWindow::~CDetailsWindow() = default;

void CDetailsWindow::showTrace(report::Trace trace)
{
    for (int i = 0; i < static_cast<int>(std::size(kTraces)); ++i)
        if (kTraces[i].trace == trace) trace_box_->setCurrentIndex(i);
}

void CDetailsWindow::rebuildChart()
{
    chart_->removeAllSeries();
    for (QAbstractAxis *axis : chart_->axes()) {
        chart_->removeAxis(axis);
        delete axis;
    }
    chart_frames_ = 0;
    chart_columns_ = 0;
    const int index = std::max(0, trace_box_->currentIndex());
    const report::Trace trace = kTraces[index].trace;
    chart_->setTitle(QString::fromUtf8(kTraces[index].label));

    const int channels = frames_ ? frames_->series().channels() : data_.channels == 2 ? 2 : 1;
    slot_boxes_[1]->setVisible(channels == 2);
    slot_boxes_[report::kBinauralSlot]->setVisible(channels == 2 && trace == report::Trace::detection_probability);

    auto *x = new QValueAxis;
    x->setTitleText(QStringLiteral("время, с"));
    auto *y = new QValueAxis;
    chart_->addAxis(x, Qt::AlignBottom);
    chart_->addAxis(y, Qt::AlignLeft);
    if (!frames_ || frames_->series().frames() == 0) {
        chart_->setTitle(QStringLiteral("Значения по кадрам не собраны"));
        return;
    }
    const report::FrameSeries &series = frames_->series();
    const auto cols = series.columns(kDetailsChartColumns);
    chart_columns_ = static_cast<int>(cols.size());
    for (const auto &c : cols) chart_frames_ += c.frame_count;
    t0_ = cols.front().start_s;
    t1_ = cols.back().end_s + 2 * report::kFrameHopSeconds;
    const report::PlotRange range = report::plot_range(series, trace);
    auto value = [&](double v) { return std::clamp(v, range.lo, range.hi); };

    if (disturbed_box_->isChecked() && (series.disturbed_frames(0) || series.disturbed_frames(1))) {
        // A step outline: full height over columns with disturbed frames.
        auto *upper = new QLineSeries;
        auto *lower = new QLineSeries;
        for (const auto &c : cols) {
            const double top = c.disturbed[0] || c.disturbed[1] ? range.hi : range.lo;
            upper->append(c.start_s, top);
            upper->append(c.end_s + report::kFrameHopSeconds, top);
        }
        lower->append(t0_, range.lo);
        lower->append(t1_, range.lo);
        auto *area = new QAreaSeries(upper, lower);
        // The area draws its two outlines but does not own them; as its
        // children they go when the chart removes the area.
        upper->setParent(area);
        lower->setParent(area);
        area->setName(QStringLiteral("кадры с искажениями"));
        area->setColor(QColor(0xe8, 0x47, 0x3a, 70));
        area->setBorderColor(QColor(0xe8, 0x47, 0x3a, 110));
        chart_->addSeries(area);
        area->attachAxis(x);
        area->attachAxis(y);
    }
    const char *slot_names[report::kTraceSlots] = {"канал 1", "канал 2", "бинаурально"};
    for (int s = 0; s < report::kTraceSlots; ++s) {
        if (s == 1 && channels < 2) continue;
        if (s == report::kBinauralSlot && (channels < 2 || trace != report::Trace::detection_probability)) continue;
        if (!slot_boxes_[s]->isChecked()) continue;
        // Each column as a vertical stroke from its minimum to its maximum,
        // joined to the next: a single-frame burst stays visible.
        auto *line = new QLineSeries;
        line->setName(QString::fromUtf8(slot_names[s]));
        QPen pen(kSlotColors[s]);
        pen.setWidthF(1.2);
        line->setPen(pen);
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(cols.size() * 2));
        for (const auto &c : cols) {
            const report::Span &sp = c.span(trace, s);
            if (!sp.n) continue;
            const double t = (c.start_s + c.end_s) / 2 + report::kFrameHopSeconds / 2;
            points.append({t, value(sp.min)});
            if (sp.max != sp.min) points.append({t, value(sp.max)});
        }
        if (points.isEmpty()) {
            delete line;
            continue;
        }
        line->replace(points);
        chart_->addSeries(line);
        line->attachAxis(x);
        line->attachAxis(y);
    }
    bool any = false;
    for (int s = 0; s < report::kTraceSlots; ++s) any = any || series.total(trace, s).n > 0;
    if (!any)
        chart_->setTitle(QString::fromUtf8(kTraces[index].label) +
                         QStringLiteral(": модель не вычисляла эту величину ни в одном кадре"));
    x->setRange(t0_, t1_);
    y->setRange(range.lo, range.hi);
    // Ticks on round values: the range is a whole number of such steps.
    const double step = report::nice_step(range.hi - range.lo, 5);
    const double ticks = (range.hi - range.lo) / step + 1.0;
    if (ticks >= 2.0 && ticks <= 12.0) y->setTickCount(static_cast<int>(std::lround(ticks)));
    y->setLabelFormat(step >= 1.0 ? QStringLiteral("%.0f") : QStringLiteral("%.2g"));
}

double CDetailsWindow::chartStart() const
{
    const auto axes = chart_->axes(Qt::Horizontal);
    return axes.isEmpty() ? 0.0 : static_cast<QValueAxis *>(axes.front())->min();
}

double CDetailsWindow::chartEnd() const
{
    const auto axes = chart_->axes(Qt::Horizontal);
    return axes.isEmpty() ? 0.0 : static_cast<QValueAxis *>(axes.front())->max();
}

void CDetailsWindow::resetZoom()
{
    chart_->zoomReset();
    const auto axes = chart_->axes(Qt::Horizontal);
    if (!axes.isEmpty()) axes.front()->setRange(t0_, t1_);
}

bool CDetailsWindow::saveReport(const QString &path)
{
    std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
    if (!report::write_and_close(out, [&](std::ostream &o) { report::write_html_report(o, data_); })) {
        ShowError(box_, this,
                  QString::fromStdString(text::format(text::IDS_CLI_REPORT_WRITE_ERROR, path.toStdString())));
        return false;
    }
    return true;
}

bool CDetailsWindow::saveValues(const QString &path)
{
    if (!frames_ || !frames_->keeps_rows()) return false;
    const QString lower = path.toLower();
    const report::FrameFormat format = lower.endsWith(QStringLiteral(".jsonl")) ? report::FrameFormat::json_lines
                                       : lower.endsWith(QStringLiteral(".json")) ? report::FrameFormat::json_array
                                                                                 : report::FrameFormat::csv;
    std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
    const auto write = [&](std::ostream &o) {
        auto writer = report::make_frame_writer(o, format, frames_->series().channels());
        for (const auto &row : frames_->rows()) writer->write(row);
        writer->finish();
    };
    if (!report::write_and_close(out, write)) {
        ShowError(box_, this, QStringLiteral("Не удалось записать значения в файл %1").arg(path));
        return false;
    }
    return true;
}

void CDetailsWindow::copySummary()
{
    QApplication::clipboard()->setText(QString::fromStdString(report::text_summary(data_)));
}

void CDetailsWindow::onSaveReport()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить отчёт"), QString(),
                                                      QStringLiteral("Отчёт HTML (*.html)"));
    if (!path.isEmpty()) saveReport(path.endsWith(QStringLiteral(".html"), Qt::CaseInsensitive) ? path : path + ".html");
}

void CDetailsWindow::onSaveValues()
{
    QString filter;
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Сохранить значения по кадрам"), QString(),
        QStringLiteral("CSV (*.csv);;JSON (*.json);;JSON Lines (*.jsonl)"), &filter);
    if (path.isEmpty()) return;
    QString name = path;
    const QString ext = filter.contains(QStringLiteral("*.jsonl")) ? QStringLiteral(".jsonl")
                        : filter.contains(QStringLiteral("*.json")) ? QStringLiteral(".json")
                                                                    : QStringLiteral(".csv");
    if (!name.endsWith(ext, Qt::CaseInsensitive)) name += ext;
    saveValues(name);
}

} // namespace velumar::ui
