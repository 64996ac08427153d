#include "app/windows/plots_window.h"

#include <QChart>
#include <QChartView>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPen>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <functional>

#include "app/dialog_template.h"
#include "app/trace_buffer.h"
#include "control/control_settings.h"
#include "dynamics/dynamics.h"

namespace {

QString OutputTitle(int mode) {
  return mode == kIdInverse
             ? QStringLiteral("Joint torques, inverse dynamics (N for sliding joints)")
             : QStringLiteral("Joint accelerations, forward dynamics");
}

// Twelve colours far apart for the eye (each pair differs by more than 29 in CIE L*a*b*), all dark
// enough to read on white.
constexpr QRgb kJointPalette[PlotsWindow::kJointColours] = {0xe6194b, 0x3cb44b, 0x4363d8, 0xf58231,
                                                            0x911eb4, 0x42d4f4, 0xf032e6, 0x9a6324,
                                                            0x000075, 0x808000, 0x469990, 0x000000};
constexpr Qt::PenStyle kJointStyles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine,
                                         Qt::DashDotDotLine};

QString PositionsTitle(bool references) {
  return references ? QStringLiteral(
                          "Joint positions q and, dotted, the reference q* (m for "
                          "sliding joints)")
                    : QStringLiteral("Joint positions (m for sliding joints)");
}

QString ErrorTitle(bool task) {
  return task ? QStringLiteral("Tracking error of the tool x* \u2212 x")
              : QStringLiteral("Tracking error e = q* \u2212 q (m for sliding joints)");
}

// The tool's axes in the colours of a frame's axes.
QPen AxisPen(uint32_t k) {
  QPen pen(QColor::fromRgb(k == 0 ? 0xd62728 : k == 1 ? 0x2ca02c : 0x1f77b4));
  pen.setWidthF(1.5);
  return pen;
}

// A joint's reference, or its efforts: its colour, thin and dotted.
QPen DottedPen(uint32_t j) {
  QPen pen = PlotsWindow::JointPen(j);
  pen.setWidthF(1.0);
  pen.setStyle(Qt::DotLine);
  return pen;
}

QString OutputUnit(int mode) {
  return mode == kIdInverse ? QStringLiteral("N m, N") : QStringLiteral("rad/s\u00b2, m/s\u00b2");
}

}  // namespace

QString PlotsWindow::ValueLabelFormat(double low, double high, int ticks) {
  const double step = ticks > 1 ? (high - low) / (ticks - 1) : high - low;
  const double largest = std::max(std::fabs(low), std::fabs(high));
  if (!(step > 0.0) || !std::isfinite(step) || !std::isfinite(largest)) {
    return QStringLiteral("%g");
  }
  // The fewest decimals (or significant digits) that write every tick apart and exactly.
  const auto exact = [](double x, int decimals) {
    const double scaled = x * std::pow(10.0, decimals);
    return std::fabs(scaled - std::round(scaled)) <= 1e-6 * std::max(1.0, std::fabs(scaled));
  };
  if (largest >= 1e5 || largest < 1e-3) {
    const int exponent = static_cast<int>(std::floor(std::log10(largest)));
    int digits = 0;
    while (digits < 15 && !(exact(step * std::pow(10.0, -exponent), digits) &&
                            exact(low * std::pow(10.0, -exponent), digits))) {
      ++digits;
    }
    return QStringLiteral("%.%1e").arg(digits);
  }
  int decimals = 0;
  while (decimals < 15 && !(exact(step, decimals) && exact(low, decimals))) {
    ++decimals;
  }
  return QStringLiteral("%.%1f").arg(decimals);
}

QPen PlotsWindow::JointPen(uint32_t j) {
  QPen pen(QColor::fromRgb(kJointPalette[j % kJointColours]));
  pen.setWidthF(1.5);
  pen.setStyle(kJointStyles[(j / kJointColours) % std::size(kJointStyles)]);
  return pen;
}

PlotsWindow::PlotsWindow(const TraceBuffer& traces, const QStringList& jointNames, QWidget* parent)
    : QWidget(parent, Qt::Window), traces_(traces), jointNames_(jointNames) {
  setWindowTitle(QStringLiteral("Velmoth plots"));
  setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  AddPlot(QStringLiteral("Energy"), QStringLiteral("J"));
  AddPlot(PositionsTitle(false), QStringLiteral("rad, m"));
  AddPlot(OutputTitle(kIdForward), OutputUnit(kIdForward));
  AddPlot(QStringLiteral("Energy balance E \u2212 E\u2080 \u2212 W + D"), QStringLiteral("J"));
  plots_[3].view->setToolTip(QStringLiteral(
      "What is left of the energy balance: the total energy's change less the work of the torques "
      "W plus the energy friction took D. It starts afresh at Reset, at a change of gravity or of "
      "the state, and at every inverse tick."));
  layout->insertWidget(1, plots_[3].view);
  SetLines(
      plots_[0], 5,
      [](uint32_t i) {
        return QStringList{QStringLiteral("kinetic"), QStringLiteral("potential"),
                           QStringLiteral("total"), QStringLiteral("work W"),
                           QStringLiteral("dissipated D")}[static_cast<int>(i)];
      },
      false);
  SetLines(
      plots_[3], 1, [](uint32_t) { return QStringLiteral("residual"); }, false);
  AddPlot(ErrorTitle(false), QStringLiteral("rad, m"));
  AddPlot(QStringLiteral("Joint torques applied, dotted: \u00b1 the joints' efforts (N for "
                         "sliding joints)"),
          QStringLiteral("N m, N"));
  plots_[4].view->hide();
  plots_[5].view->hide();
  resize(640, 900);
  timer_.setParent(this);
  connect(&timer_, &QTimer::timeout, this, &PlotsWindow::Refresh);
  timer_.start(kRefreshMs);
  Refresh();
}

QChart* PlotsWindow::Chart(int index) const {
  return plots_.at(static_cast<std::size_t>(index)).chart;
}

bool PlotsWindow::ChartShown(int index) const {
  return !plots_.at(static_cast<std::size_t>(index)).view->isHidden();
}

const std::vector<QLineSeries*>& PlotsWindow::Extras(int index) const {
  return plots_.at(static_cast<std::size_t>(index)).extras;
}

void PlotsWindow::SetEfforts(std::vector<double> efforts) {
  efforts_ = std::move(efforts);
  drawnVersion_ = ~uint64_t{0};
  Refresh();
}

void PlotsWindow::AddPlot(const QString& title, const QString& unit) {
  Plot plot;
  plot.chart = new QChart;
  plot.chart->setTitle(title);
  plot.chart->legend()->setAlignment(Qt::AlignRight);
  plot.x = new QValueAxis;
  plot.x->setTitleText(QStringLiteral("simulated time (s)"));
  // Ticks on whole multiples of the interval, whatever the span scrolled to.
  plot.x->setTickType(QValueAxis::TicksDynamic);
  plot.x->setTickAnchor(0.0);
  plot.x->setTickInterval(kTimeTickSeconds);
  plot.x->setLabelFormat(QStringLiteral("%g"));
  plot.y = new QValueAxis;
  plot.y->setTitleText(unit);
  plot.chart->addAxis(plot.x, Qt::AlignBottom);
  plot.chart->addAxis(plot.y, Qt::AlignLeft);
  auto* view = new QChartView(plot.chart, this);
  view->setRenderHint(QPainter::Antialiasing, false);
  // The chart's many small changes of a refresh are drawn in one repaint, asked for by Refresh.
  view->setViewportUpdateMode(QGraphicsView::NoViewportUpdate);
  plot.view = view;
  layout()->addWidget(view);
  plots_.push_back(plot);
}

QString PlotsWindow::JointLabel(uint32_t j) const {
  return j < static_cast<uint32_t>(jointNames_.size()) ? jointNames_[static_cast<int>(j)]
                                                       : QStringLiteral("joint%1").arg(j);
}

void PlotsWindow::SetLines(Plot& plot, uint32_t count, const std::function<QString(uint32_t)>& name,
                           bool joints) {
  while (plot.lines.size() > count) {
    plot.chart->removeSeries(plot.lines.back());
    delete plot.lines.back();
    plot.lines.pop_back();
  }
  while (plot.lines.size() < count) {
    auto* line = new QLineSeries;
    const auto j = static_cast<uint32_t>(plot.lines.size());
    line->setName(name(j));
    plot.chart->addSeries(line);
    if (joints) {  // after the chart's theme has given the line its own
      line->setPen(JointPen(j));
    }
    line->attachAxis(plot.x);
    line->attachAxis(plot.y);
    plot.lines.push_back(line);
  }
  plot.chart->legend()->setVisible(count <= kMaxLegendJoints || &plot == &plots_[0] ||
                                   &plot == &plots_[3]);
}

void PlotsWindow::SetExtras(Plot& plot, uint32_t count, const std::function<QPen(uint32_t)>& pen) {
  while (plot.extras.size() > count) {
    plot.chart->removeSeries(plot.extras.back());
    delete plot.extras.back();
    plot.extras.pop_back();
  }
  while (plot.extras.size() < count) {
    auto* line = new QLineSeries;
    plot.chart->addSeries(line);
    line->setPen(pen(static_cast<uint32_t>(plot.extras.size())));
    line->attachAxis(plot.x);
    line->attachAxis(plot.y);
    plot.chart->legend()->markers(line).first()->setVisible(false);
    plot.extras.push_back(line);
  }
}

void PlotsWindow::Refresh() {
  if (traces_.Version() == drawnVersion_) {
    return;
  }
  drawnVersion_ = traces_.Version();
  ++refreshes_;

  const uint32_t n = traces_.Joints();
  const uint32_t size = traces_.Size();
  const int mode = size > 0 ? traces_.At(size - 1).mode : outputMode_;
  if (mode != 0 && mode != outputMode_) {
    outputMode_ = mode;
    plots_[2].chart->setTitle(OutputTitle(mode));
    plots_[2].y->setTitleText(OutputUnit(mode));
  }
  const auto label = [this](uint32_t j) { return JointLabel(j); };
  SetLines(plots_[1], n, label, true);
  SetLines(plots_[2], n, label, true);

  // The controller's charts follow what the newest sample with a reference tracks: the joints or
  // the tool. They show while the span holds a tick a controller acted in.
  bool controlled = false;
  int task = -1;
  for (uint32_t i = 0; i < size; ++i) {
    const TraceBuffer::Sample s = traces_.At(i);
    controlled = controlled || s.controlled;
    if (s.references > 0) {
      task = s.task ? 1 : 0;
    }
  }
  if (task != errorTask_ && task >= 0) {
    errorTask_ = task;
    SetLines(plots_[4], 0, label, false);
    plots_[4].chart->setTitle(ErrorTitle(task == 1));
    plots_[4].y->setTitleText(task == 1 ? QStringLiteral("m") : QStringLiteral("rad, m"));
  }
  if (errorTask_ == 1) {
    SetLines(
        plots_[4], 3,
        [](uint32_t k) {
          return QStringList{"x", "y", "z"}[static_cast<int>(k)];
        },
        false);
    for (uint32_t k = 0; k < 3; ++k) {
      plots_[4].lines[k]->setPen(AxisPen(k));
    }
  } else {
    SetLines(plots_[4], errorTask_ == 0 ? n : 0, label, true);
  }
  SetLines(plots_[5], controlled ? n : 0, label, true);
  // q* of the joints beside q, while they track; the efforts beside the torques.
  const bool jointReferences = errorTask_ == 0;
  SetExtras(plots_[1], jointReferences ? n : 0, DottedPen);
  std::vector<uint32_t> limited;
  for (uint32_t j = 0; j < n && j < efforts_.size(); ++j) {
    if (std::isfinite(efforts_[j])) {
      limited.push_back(j);
    }
  }
  const auto limitedCount = static_cast<uint32_t>(controlled ? 2 * limited.size() : 0);
  SetExtras(plots_[5], limitedCount, [&](uint32_t k) { return DottedPen(limited[k / 2]); });
  plots_[1].chart->setTitle(PositionsTitle(jointReferences));
  plots_[4].view->setVisible(task >= 0);
  plots_[5].view->setVisible(controlled);

  // About one point per pixel of the charts' width is all a line can show.
  const uint32_t every = size > kMaxPoints ? (size + kMaxPoints - 1) / kMaxPoints : 1;
  const uint32_t errors = static_cast<uint32_t>(plots_[4].lines.size());
  std::vector<QList<QPointF>> energy(5), residual(1), angles(jointReferences ? 2 * n : n),
      output(n), error(errors), torque(n + limitedCount);
  for (uint32_t i = 0; i < size; ++i) {
    const TraceBuffer::Sample s = traces_.At(i);
    // The points kept are those of every few ticks counted from the start, so that they stay the
    // same ones as the charts scroll; the newest is always drawn, so that the lines reach the
    // present.
    if (every > 1 && i + 1 < size && std::llround(s.time / kTimeStep) % every != 0) {
      continue;
    }
    energy[0].append(QPointF(s.time, s.kinetic));
    energy[1].append(QPointF(s.time, s.potential));
    energy[2].append(QPointF(s.time, s.total));
    energy[3].append(QPointF(s.time, s.work));
    energy[4].append(QPointF(s.time, s.dissipated));
    residual[0].append(QPointF(s.time, s.residual));
    const bool tracks = s.references == errors && s.task == (errorTask_ == 1);
    for (uint32_t j = 0; j < n; ++j) {
      angles[j].append(QPointF(s.time, s.angles[j]));
      if (s.mode == outputMode_) {
        output[j].append(QPointF(s.time, s.output[j]));
      }
      if (jointReferences && tracks) {
        angles[n + j].append(QPointF(s.time, s.reference[j]));
      }
      if (s.controlled) {
        torque[j].append(QPointF(s.time, s.torque[j]));
      }
    }
    for (uint32_t k = 0; k < errors && tracks; ++k) {
      error[k].append(QPointF(s.time, s.error[k]));
    }
  }
  const double to = std::max(traces_.Now(), kSpanSeconds);
  const double from = to - kSpanSeconds;
  for (uint32_t k = 0; k < limitedCount; ++k) {
    const double effort = efforts_[limited[k / 2]] * (k % 2 == 0 ? 1.0 : -1.0);
    torque[n + k] = {QPointF(from, effort), QPointF(to, effort)};
  }
  Draw(plots_[0], energy, from, to);
  Draw(plots_[1], angles, from, to);
  Draw(plots_[2], output, from, to);
  Draw(plots_[3], residual, from, to);
  Draw(plots_[4], error, from, to);
  Draw(plots_[5], torque, from, to);
  for (const Plot& plot : plots_) {
    plot.view->viewport()->update();
  }
}

// The lines, the time axis over [from, to], the value axis around what is shown, and a marker at
// every "Reset" inside the span.
void PlotsWindow::Draw(Plot& plot, const std::vector<QList<QPointF>>& points, double from,
                       double to) {
  // Every change of a series or of an axis makes the chart lay out every line of the plot anew
  // (the costly part of a refresh): the lines are emptied before the axes move and filled once
  // after, so that each is laid out once.
  const auto line = [&plot](std::size_t i) {
    return i < plot.lines.size() ? plot.lines[i] : plot.extras[i - plot.lines.size()];
  };
  const std::size_t count = std::min(points.size(), plot.lines.size() + plot.extras.size());
  double low = INFINITY;
  double high = -INFINITY;
  for (std::size_t i = 0; i < count; ++i) {
    for (const QPointF& p : points[i]) {
      low = std::min(low, p.y());
      high = std::max(high, p.y());
    }
    line(i)->clear();
  }
  if (!(low <= high)) {
    low = -1.0;
    high = 1.0;
  }
  // The value axis keeps its range while the lines stay inside it and fill at least half of it,
  // so that its labels do not change with every refresh.
  const double shownLow = plot.y->min();
  const double shownHigh = plot.y->max();
  if (low < shownLow || high > shownHigh || (high - low) < 0.5 * (shownHigh - shownLow)) {
    const double pad = std::max((high - low) * 0.1, 1e-9 + std::abs(high) * 1e-6);
    plot.y->setRange(low - pad, high + pad);
    plot.y->applyNiceNumbers();
    low = plot.y->min();
    high = plot.y->max();
    plot.y->setLabelFormat(ValueLabelFormat(low, high, plot.y->tickCount()));
  } else {
    low = shownLow;
    high = shownHigh;
  }
  plot.x->setRange(from, to);
  for (std::size_t i = 0; i < count; ++i) {
    line(i)->replace(points[i]);
  }

  std::vector<double> marks;
  for (double t : traces_.Resets()) {
    if (t >= from && t <= to) {
      marks.push_back(t);
    }
  }
  while (plot.markers.size() < marks.size()) {
    auto* marker = new QLineSeries;
    QPen pen(Qt::darkGray);
    pen.setStyle(Qt::DashLine);
    marker->setPen(pen);
    plot.chart->addSeries(marker);
    marker->attachAxis(plot.x);
    marker->attachAxis(plot.y);
    plot.chart->legend()->markers(marker).first()->setVisible(false);
    plot.markers.push_back(marker);
  }
  for (std::size_t i = 0; i < plot.markers.size(); ++i) {
    QList<QPointF> line;
    if (i < marks.size()) {
      line = {QPointF(marks[i], low), QPointF(marks[i], high)};
    }
    plot.markers[i]->replace(line);
  }
}
